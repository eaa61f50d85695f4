// Greymap files and streams binarised in bands: the raster is read a block of rows at a time, fed
// to a band, and the decided rows go to a row sink (the loss-free writer, or a stream) as they
// come. A page whose band would hold too much for its width is done in vertical strips, each read
// and decided over every row before the next, its rows written in place in the new file.
//
// A two-pass method reads a regular file twice, and the file must be the same one, unchanged, all
// along; a stream that cannot be read twice is first copied into an unnamed temporary file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/auto_threshold.h"
#include "imagefiles/bands.h"
#include "imagefiles/codecs.h"
#include "imagefiles/extension.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "imagefiles/row_sources.h"

namespace imagefiles::detail {
namespace {

// Where the decided rows go: a header, then each row's bytes (a strip's part of it, from column
// `first`, a multiple of 8 for bits); in order, unless the sink takes rows anywhere.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual statut_image begin(int rows, int columns, bool bits) = 0;
  virtual bool anywhere() const = 0;
  virtual statut_image put(int row, int first, const unsigned char* bytes, std::size_t count) = 0;
  // Where the next row of `count` bytes may be decided in place, to be put from there (the
  // sink's own buffer: one copy of every row less); null where there is none.
  virtual unsigned char* room(std::size_t) { return nullptr; }
  virtual statut_image finish() = 0;
};

// The loss-free writer: a new file beside the named one, which takes its name at the end.
class FileSink : public RowSink {
 public:
  explicit FileSink(const char* name) : name_(name) {}

  statut_image begin(int rows, int columns, bool bits) override {
    const Format format = bits ? bitmap : greymap;
    if (!checked_sizes(rows, columns, format, Held::in_bands)) return IMAGE_TAILLE_HORS_LIMITES;
    char header[32];
    header_bytes_ = format_header(header, format, columns, rows);
    stride_ =
        bits ? (static_cast<std::size_t>(columns) + 7) / 8 : static_cast<std::size_t>(columns);
    bits_ = bits;
    if (const statut_image opened = file_.open(name_); opened != IMAGE_OK) return opened;
    buffer_.reset(new unsigned char[block_bytes]);
    std::memcpy(buffer_.get(), header, header_bytes_);
    used_ = header_bytes_;
    return IMAGE_OK;
  }
  bool anywhere() const override { return file_.seekable(); }
  unsigned char* room(std::size_t count) override {
    if (!sequential_ || count > block_bytes) return nullptr;
    if (used_ + count > block_bytes && flush() != IMAGE_OK) return nullptr;
    return buffer_.get() + used_;
  }
  statut_image put(int row, int first, const unsigned char* bytes, std::size_t count) override {
    if (sequential_) {
      if (bytes == buffer_.get() + used_) {  // decided in place
        used_ += count;
        return IMAGE_OK;
      }
      if (used_ + count > block_bytes) {
        if (const statut_image flushed = flush(); flushed != IMAGE_OK) return flushed;
      }
      if (count >= block_bytes) return file_.write(bytes, count);
      std::memcpy(buffer_.get() + used_, bytes, count);
      used_ += count;
      return IMAGE_OK;
    }
    const std::uint64_t at = header_bytes_ + std::uint64_t(row) * stride_ +
                             static_cast<std::uint64_t>(bits_ ? first / 8 : first);
    return file_.write_at(bytes, count, at);
  }
  // Rows in strips are written in place: the header first.
  statut_image in_strips() {
    sequential_ = false;
    return flush();
  }
  statut_image finish() override {
    if (const statut_image flushed = flush(); flushed != IMAGE_OK) return flushed;
    return file_.commit();
  }

 private:
  statut_image flush() {
    const statut_image written = file_.write(buffer_.get(), used_);
    used_ = 0;
    return written;
  }

  const char* name_;
  ReplacementFile file_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t used_ = 0;
  std::size_t header_bytes_ = 0;
  std::size_t stride_ = 0;
  bool bits_ = false;
  bool sequential_ = true;
};

// A stream the caller opened (a pipe, standard output): rows in order.
class StreamSink : public RowSink {
 public:
  explicit StreamSink(std::FILE* stream) : stream_(stream) {}

  statut_image begin(int rows, int columns, bool bits) override {
    const Format format = bits ? bitmap : greymap;
    if (!checked_sizes(rows, columns, format, Held::in_bands)) return IMAGE_TAILLE_HORS_LIMITES;
    char header[32];
    const std::size_t bytes = format_header(header, format, columns, rows);
    return put(0, 0, reinterpret_cast<const unsigned char*>(header), bytes);
  }
  bool anywhere() const override { return false; }
  statut_image put(int, int, const unsigned char* bytes, std::size_t count) override {
    return std::fwrite(bytes, 1, count, stream_) == count ? IMAGE_OK : IMAGE_ERREUR_D_ECRITURE;
  }
  statut_image finish() override {
    return std::fflush(stream_) == 0 && !std::ferror(stream_) ? IMAGE_OK : IMAGE_ERREUR_D_ECRITURE;
  }

 private:
  std::FILE* stream_;
};

// The strips a page is done in: one, the whole width, unless the band would keep more than the
// budget for it and the raster and the sink take rows anywhere. Strips are a multiple of 64
// columns wide, so that a bitmap's rows split at whole bytes.
std::vector<Strip> strips_for(const parametres_binarisation& method, const Header& header,
                              bool anywhere, std::size_t strip_budget) {
  const int columns = header.width;
  const int margin = Band::margin(method);
  const std::size_t per_column = Band::bytes_per_column(method, header.height);
  std::vector<Strip> strips;
  const bool wide = per_column * static_cast<std::size_t>(columns) > strip_budget;
  if (!anywhere || !wide) {
    strips.push_back(whole_row(columns));
    return strips;
  }
  // Each strip at least four windows wide, so that the overlap stays a small part of it.
  const std::size_t fits = strip_budget / per_column;
  const int width = static_cast<int>(
      std::max<std::size_t>(fits, 8 * static_cast<std::size_t>(margin) + 64) / 64 * 64);
  for (int first = 0; first < columns; first += width) {
    strips.push_back(strip_of(columns, first, std::min(width, columns - first), margin));
  }
  return strips;
}

// Feeds the rows of `strip` to `each(row, samples)`, reading a block of rows at a time when the
// strip is the whole width.
template <typename Each>
statut_image over_rows(RowSource& raster, const Strip& strip, std::vector<unsigned char>& block,
                       const StreamOptions& options, int pass, Each&& each) {
  const int rows = raster.header().height;
  const std::size_t fed = static_cast<std::size_t>(strip.fed_width);
  const bool whole = strip.fed_width == strip.columns;
  const int at_once = whole ? static_cast<int>(std::max<std::size_t>(1, block_bytes / fed)) : 1;
  const int in_block = std::min(rows, at_once);
  if (block.size() < static_cast<std::size_t>(in_block) * fed) {
    block.assign(static_cast<std::size_t>(in_block) * fed, 0);
  }
  for (int row = 0; row < rows; row += in_block) {
    const int n = std::min(in_block, rows - row);
    if (options.at_row) options.at_row(pass, row);
    if (const statut_image got =
            raster.read(row, strip.fed_first, static_cast<std::size_t>(n) * fed, block.data());
        got != IMAGE_OK) {
      return got;
    }
    for (int r = 0; r < n; ++r) {
      if (const statut_image done = each(row + r, block.data() + static_cast<std::size_t>(r) * fed);
          done != IMAGE_OK) {
        return done;
      }
    }
  }
  return IMAGE_OK;
}

bool two_passes(methode_binarisation method) {
  return method == BINARISATION_OTSU || method == BINARISATION_WOLF || method == BINARISATION_AUTO;
}

// The page of `raster` binarised into `sink` (`file` when it is the loss-free writer).
statut_image binarise_rows(RowSource& raster, const parametres_binarisation* method, bool bits,
                           RowSink& sink, FileSink* file, const StreamOptions& options) {
  const Header& header = raster.header();
  if (const statut_image valid = Band::check(method, header.height, header.width);
      valid != IMAGE_OK) {
    return valid;
  }
  std::vector<unsigned char> block;
  // The first pass, strip by strip as the second will go (a sink that takes rows anywhere is only
  // known once opened: the first pass plans as if it did, which gives the same statistics).
  FirstPass page;
  if (method->methode == BINARISATION_AUTO) {
    // auto's statistics are of whole rows, read in pieces of at most a block, in as many passes
    // as it takes; the rows a pass does not use are not read.
    auto statistics = std::make_shared<AutoStatistics>(header.height, header.width);
    const std::size_t width = static_cast<std::size_t>(header.width);
    const std::size_t piece = std::clamp<std::size_t>(options.piece, 1, width);
    if (block.size() < piece) block.assign(piece, 0);
    for (int pass = 0; pass < AutoStatistics::passes; ++pass) {
      for (int row = 0; row < header.height; ++row) {
        if (!statistics->wanted(pass, row)) continue;
        if (options.at_row) options.at_row(1, row);
        for (std::size_t first = 0; first < width; first += piece) {
          const std::size_t n = std::min(piece, width - first);
          if (const statut_image got = raster.read(row, static_cast<int>(first), n, block.data());
              got != IMAGE_OK) {
            return got;
          }
          statistics->gather(pass, row, static_cast<std::int64_t>(first), block.data(), n);
        }
      }
      statistics->end(pass);
    }
    page.automatic = statistics;
    if (const statut_image same = raster.unchanged(); same != IMAGE_OK) return same;
  } else if (two_passes(method->methode)) {
    for (const Strip& strip :
         strips_for(*method, header, raster.seekable(), options.strip_budget)) {
      const std::unique_ptr<Band> band = Band::make(*method, header.height, strip);
      const statut_image read =
          over_rows(raster, strip, block, options, 1, [&](int, const unsigned char* row) {
            band->gather(row);
            return IMAGE_OK;
          });
      if (read != IMAGE_OK) return read;
      page.merge(band->first_pass());
    }
    if (const statut_image same = raster.unchanged(); same != IMAGE_OK) return same;
  }
  if (const statut_image begun = sink.begin(header.height, header.width, bits); begun != IMAGE_OK) {
    return begun;
  }
  const std::vector<Strip> strips =
      strips_for(*method, header, raster.seekable() && sink.anywhere(), options.strip_budget);
  if (strips.size() > 1 && file != nullptr) {
    if (const statut_image ready = file->in_strips(); ready != IMAGE_OK) return ready;
  }
  for (const Strip& strip : strips) {
    const std::unique_ptr<Band> band = Band::make(*method, header.height, strip);
    band->use(page);
    const std::size_t out_bytes = bits ? (static_cast<std::size_t>(strip.width) + 7) / 8
                                       : static_cast<std::size_t>(strip.width);
    std::vector<unsigned char> out(out_bytes);
    const auto room = [&] {
      unsigned char* in_place = sink.room(out_bytes);
      return in_place != nullptr ? in_place : out.data();
    };
    int decided = 0;
    const statut_image done =
        over_rows(raster, strip, block, options, 2, [&](int, const unsigned char* row) {
          band->feed(row);
          for (unsigned char* into = room(); band->next(into, bits); into = room()) {
            if (const statut_image put = sink.put(decided++, strip.first, into, out_bytes);
                put != IMAGE_OK) {
              return put;
            }
          }
          return IMAGE_OK;
        });
    if (done != IMAGE_OK) return done;
  }
  if (const statut_image same = raster.unchanged(); same != IMAGE_OK) return same;
  return sink.finish();
}

statut_image binarise_stream(std::FILE* in, const parametres_binarisation* method, bool bits,
                             RowSink& sink, FileSink* file, const StreamOptions& options) {
  if (in == nullptr || Band::check(method, 1, 1) != IMAGE_OK) return IMAGE_PARAMETRE_INVALIDE;
  Header header{};
  if (const statut_image read = read_header_strict(in, greymap, &header, Held::in_bands);
      read != IMAGE_OK) {
    return read;
  }
  if (const statut_image valid = Band::check(method, header.height, header.width);
      valid != IMAGE_OK) {
    return valid;
  }
  Raster raster(in, header);
  File spill;
  if (two_passes(method->methode) && !raster.seekable()) {
    spill = unnamed_file();
    if (spill == nullptr) return IMAGE_ERREUR_DE_LECTURE;
    if (const statut_image copied = raster.spill_to(spill.get()); copied != IMAGE_OK) {
      return copied;
    }
  }
  return binarise_rows(raster, method, bits, sink, file, options);
}

// A bilevel PNG or TIFF made by its encoder as the rows come, the loss-free way.
class EncodedSink : public RowSink {
 public:
  EncodedSink(const char* name, bool tiff) : name_(name), tiff_(tiff) {}

  statut_image begin(int rows, int columns, bool) override {
    if (const statut_image opened = file_.open(name_); opened != IMAGE_OK) return opened;
    ByteSink sink;
    sink.file = &file_;
    statut_image begun = IMAGE_FORMAT_NON_PRIS_EN_CHARGE;
#if defined(IMAGEFILES_WITH_TIFF)
    if (tiff_) begun = begin_tiff_bilevel(sink, rows, columns, &encoder_);
#endif
#if defined(IMAGEFILES_WITH_PNG)
    if (!tiff_) begun = begin_png_bilevel(sink, rows, columns, &encoder_);
#endif
    (void)sink;
    (void)rows;
    (void)columns;
    return begun;
  }
  bool anywhere() const override {
    return false;
  }
  statut_image put(int, int, const unsigned char* bytes, std::size_t) override {
    return encoder_->row(bytes);
  }
  statut_image finish() override {
    if (const statut_image done = encoder_->finish(); done != IMAGE_OK) return done;
    return file_.commit();
  }

 private:
  const char* name_;
  bool tiff_;
  ReplacementFile file_;
  std::unique_ptr<BilevelEncoder> encoder_;
};

statut_image binarise_file(const char* input, int page, const parametres_binarisation* method,
                           bool bits, const char* output, const StreamOptions& options) {
  if (output == nullptr) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  if (Band::check(method, 1, 1) != IMAGE_OK) return IMAGE_PARAMETRE_INVALIDE;
  if (page < 0) return IMAGE_PAGE_ABSENTE;
  File file;
  if (const statut_image opened = open_image(input, &file); opened != IMAGE_OK) return opened;
  const std::string name = output;
  const bool png = ends_with(name, ".png");
  const bool tiff = ends_with(name, ".tif") || ends_with(name, ".tiff");
  FileSink greys(output);
  EncodedSink encoded(output, tiff);
  RowSink& sink = png || tiff ? static_cast<RowSink&>(encoded) : greys;
  FileSink* in_place = png || tiff ? nullptr : &greys;
  bits = bits || png || tiff;
  Header header{};
  const Kind kind = kind_of(file.get(), &header);
  if (kind == Kind::greymap_255 && page == 0) {
    Raster raster(file.get(), header);
    return binarise_rows(raster, method, bits, sink, in_place, options);
  }
  DecoderOpener opener = nullptr;
#if defined(IMAGEFILES_WITH_PNG)
  if (kind == Kind::png) opener = open_png_rows;
#endif
#if defined(IMAGEFILES_WITH_TIFF)
  if (kind == Kind::tiff) opener = open_tiff_rows;
#endif
  if (opener != nullptr) {
    DecodedRows rows(file.get(), opener, page);
    if (const statut_image opened = rows.open(); opened != IMAGE_OK) return opened;
    return binarise_rows(rows, method, bits, sink, in_place, options);
  }
  std::rewind(file.get());  // past a greymap's header when its page was not the first
  HeldRows rows;
  if (const statut_image loaded = rows.load(file.get(), page); loaded != IMAGE_OK) return loaded;
  return binarise_rows(rows, method, bits, sink, in_place, options);
}

}  // namespace

statut_image binarise_file_to_file(const char* input, int page,
                                   const parametres_binarisation* method, bool bits,
                                   const char* output, const StreamOptions& options) {
  try {
    return binarise_file(input, page, method, bits, output, options);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
}

statut_image binarise_to_file(std::FILE* in, const parametres_binarisation* method, bool bits,
                              const char* name, const StreamOptions& options) {
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  try {
    FileSink sink(name);
    return binarise_stream(in, method, bits, sink, &sink, options);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
}

statut_image binarise_to_stream(std::FILE* in, const parametres_binarisation* method, bool bits,
                                std::FILE* out, const StreamOptions& options) {
  if (out == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  try {
    StreamSink sink(out);
    return binarise_stream(in, method, bits, sink, nullptr, options);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
}

}  // namespace imagefiles::detail

statut_image binariser_flux_vers_fichier(FILE* entree, const parametres_binarisation* parametres,
                                         int pbm, const char* nom_sortie) {
  return imagefiles::detail::binarise_to_file(entree, parametres, pbm != 0, nom_sortie, {});
}

statut_image binariser_flux_vers_flux(FILE* entree, const parametres_binarisation* parametres,
                                      int pbm, FILE* sortie) {
  return imagefiles::detail::binarise_to_stream(entree, parametres, pbm != 0, sortie, {});
}

statut_image binariser_fichier(const char* nom_entree, int page,
                               const parametres_binarisation* parametres, int pbm,
                               const char* nom_sortie) {
  return imagefiles::detail::binarise_file_to_file(nom_entree, page, parametres, pbm != 0,
                                                   nom_sortie, {});
}
