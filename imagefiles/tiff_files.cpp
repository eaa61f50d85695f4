// TIFF through libtiff: every page of a file read into a greymap, pages counted from the
// directories alone, and bilevel pages written as one Group 4 file.
//
// libtiff reads and writes through procedures of this file (an open stream, or a growing buffer
// for a file being made), and its errors and warnings come to a handler of the one open file,
// which records them: nothing is printed, and no other user of libtiff in the process is touched.

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// The file behind a TIFF handle: a stream being read, or a buffer being written.
struct Client {
  std::FILE* stream = nullptr;
  std::vector<unsigned char>* buffer = nullptr;
  ReplacementFile* file = nullptr;  // a seekable file being written, instead of `buffer`
  std::uint64_t written = 0;        // the end of what was written to `file`
  std::uint64_t position = 0;       // in the buffer or the file
  std::uint64_t size = 0;           // of the stream, known at opening
  bool short_read = false;          // a read went past the end of the file
  bool failed = false;              // libtiff reported an error
  bool out_of_memory = false;       // the buffer could not grow
};

Client* client_of(thandle_t handle) {
  return static_cast<Client*>(handle);
}

tmsize_t read_proc(thandle_t handle, void* data, tmsize_t size) {
  Client* c = client_of(handle);
  if (c->stream != nullptr) {
    const std::size_t got = std::fread(data, 1, static_cast<std::size_t>(size), c->stream);
    if (got < static_cast<std::size_t>(size)) c->short_read = true;
    return static_cast<tmsize_t>(got);
  }
  if (c->buffer == nullptr) return 0;
  const std::uint64_t left = c->buffer->size() - c->position;
  const std::uint64_t n = static_cast<std::uint64_t>(size) < left ? size : left;
  std::memcpy(data, c->buffer->data() + c->position, n);
  c->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t write_proc(thandle_t handle, void* data, tmsize_t size) {
  Client* c = client_of(handle);
  if (c->file != nullptr) {
    if (c->file->write_at(data, static_cast<std::size_t>(size), c->position) != IMAGE_OK) return 0;
    c->position += static_cast<std::uint64_t>(size);
    if (c->position > c->written) c->written = c->position;
    return size;
  }
  if (c->buffer == nullptr) return 0;
  const std::uint64_t end = c->position + static_cast<std::uint64_t>(size);
  try {
    if (end > c->buffer->size()) c->buffer->resize(end);
  } catch (const std::bad_alloc&) {
    c->out_of_memory = true;
    return 0;
  }
  std::memcpy(c->buffer->data() + c->position, data, static_cast<std::size_t>(size));
  c->position = end;
  return size;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  Client* c = client_of(handle);
  if (c->stream != nullptr) {
    if (offset > static_cast<toff_t>(INT64_MAX) ||
        fseeko(c->stream, static_cast<off_t>(offset), whence) != 0) {
      return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(ftello(c->stream));
  }
  const std::uint64_t end = c->file != nullptr ? c->written : c->buffer->size();
  const std::uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? c->position : end;
  c->position = base + offset;
  return c->position;
}

int close_proc(thandle_t) {
  return 0;
}

toff_t size_proc(thandle_t handle) {
  Client* c = client_of(handle);
  if (c->file != nullptr) return c->written;
  return c->stream != nullptr ? c->size : c->buffer->size();
}

int map_proc(thandle_t, void**, toff_t*) {
  return 0;
}

void unmap_proc(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user_data, const char*, const char*, va_list) {
  static_cast<Client*>(user_data)->failed = true;
  return 1;  // handled: libtiff's own handler prints nothing
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* tiff) const noexcept { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const noexcept { TIFFOpenOptionsFree(options); }
};

Tiff open_tiff(Client* client, const char* mode) {
  const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), on_error, client);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), on_warning, client);
  return Tiff(TIFFClientOpenExt("image", mode, client, read_proc, write_proc, seek_proc, close_proc,
                                size_proc, map_proc, unmap_proc, options.get()));
}

statut_image open_for_reading(std::FILE* stream, Client* client, Tiff* tiff) {
  client->stream = stream;
  if (fseeko(stream, 0, SEEK_END) != 0) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  client->size = static_cast<std::uint64_t>(ftello(stream));
  std::rewind(stream);
  // "m": no memory mapping, every byte through read_proc.
  *tiff = open_tiff(client, "rm");
  if (*tiff) return IMAGE_OK;
  return client->short_read ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
}

statut_image failure(const Client& client) {
  return client.short_read ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
}

// The samples of the current page, as libtiff decodes them; a status for what is not read.
statut_image layout_of(TIFF* tiff, Samples* layout, std::vector<unsigned char>* palette) {
  std::uint16_t bits = 1, channels = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
  std::uint16_t format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 0) return IMAGE_DONNEES_ENDOMMAGEES;
  if (format != SAMPLEFORMAT_UINT || (planar != PLANARCONFIG_CONTIG && channels > 1) ||
      (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) ||
      TIFFIsCODECConfigured(compression) == 0) {
    return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
  }
  int colours = 1;
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
      layout->min_is_white = true;
      break;
    case PHOTOMETRIC_MINISBLACK:
      break;
    case PHOTOMETRIC_RGB:
      colours = 3;
      break;
    case PHOTOMETRIC_YCBCR:
      // libjpeg converts a JPEG-compressed page to RGB; other YCbCr pages are rare.
      if (compression != COMPRESSION_JPEG) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
      TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      colours = 3;
      break;
    case PHOTOMETRIC_PALETTE: {
      std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
      if (bits > 8 || TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) == 0) {
        return IMAGE_DONNEES_ENDOMMAGEES;
      }
      palette->assign(256, 0);
      for (int i = 0; i < (1 << bits); ++i) {
        (*palette)[i] = luma(scale_to_byte(red[i], 65535), scale_to_byte(green[i], 65535),
                             scale_to_byte(blue[i], 65535));
      }
      layout->palette_grey = palette->data();
      break;
    }
    default:
      return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;  // CMYK, Lab...
  }
  if (channels < colours || channels > colours + 1) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
  if (channels == colours + 1) {
    std::uint16_t extras = 0;
    std::uint16_t* kinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds) != 0 && extras == 1) {
      layout->alpha = kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA;
      layout->premultiplied = kinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    if (layout->palette_grey != nullptr) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
  }
  layout->bits = bits;
  layout->channels = channels;
  layout->maximum = (1 << bits) - 1;
  layout->big_endian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;  // libtiff gives the host's order
  return IMAGE_OK;
}

// Every strip or tile lies within the file: one that claims more would be read from nothing.
statut_image check_pieces(TIFF* tiff, std::uint64_t file_size) {
  const std::uint32_t pieces =
      TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  for (std::uint32_t i = 0; i < pieces; ++i) {
    int missing = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &missing);
    const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff, i, &missing);
    if (missing != 0) return IMAGE_DONNEES_ENDOMMAGEES;
    if (bytes == 0) continue;
    if (offset >= file_size) return IMAGE_DONNEES_ENDOMMAGEES;
    if (bytes > file_size - offset) return IMAGE_ERREUR_DE_LECTURE;
  }
  return IMAGE_OK;
}

// A page's rows, decoded a strip or a row of tiles at a time into `piece_`, then made grey.
class TiffDecoder : public RowDecoder {
 public:
  statut_image open(std::FILE* stream, int page, Held held) {
    if (const statut_image status = open_for_reading(stream, &client_, &tiff_);
        status != IMAGE_OK) {
      return status;
    }
    TIFF* tiff = tiff_.get();
    if (page > 0 && TIFFSetDirectory(tiff, static_cast<tdir_t>(page)) == 0) {
      return client_.short_read || TIFFNumberOfDirectories(tiff) > static_cast<tdir_t>(page)
                 ? failure(client_)
                 : IMAGE_PAGE_ABSENTE;
    }
    std::uint32_t width = 0, height = 0;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 0 ||
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 0) {
      return IMAGE_DONNEES_ENDOMMAGEES;
    }
    // A size beyond the limit first, then what cannot be read: the caller allocates nothing for
    // a file that will fail.
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX ||
        !checked_sizes(height, width, greymap, held)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    rows_ = static_cast<int>(height);
    columns_ = static_cast<int>(width);
    if (const statut_image status = layout_of(tiff, &layout_, &palette_); status != IMAGE_OK) {
      return status;
    }
    if (const statut_image status = check_pieces(tiff, client_.size); status != IMAGE_OK) {
      return status;
    }
    tiled_ = TIFFIsTiled(tiff) != 0;
    const std::uint64_t piece_bytes = tiled_ ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
    if (piece_bytes == 0) return IMAGE_DONNEES_ENDOMMAGEES;
    if (!raster_bytes(static_cast<std::int64_t>(piece_bytes), greymap)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    piece_bytes_ = piece_bytes;
    if (tiled_) {
      TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tile_width_);
      TIFFGetField(tiff, TIFFTAG_TILELENGTH, &band_rows_);
      row_bytes_ = TIFFTileRowSize64(tiff);
      if (tile_width_ == 0 || band_rows_ == 0 || row_bytes_ == 0) return IMAGE_DONNEES_ENDOMMAGEES;
      // A row of tiles, made grey, is what the rows are taken from.
      if (!raster_bytes(std::int64_t{band_rows_} * width, greymap)) {
        return IMAGE_TAILLE_HORS_LIMITES;
      }
    } else {
      band_rows_ = height;
      TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &band_rows_);
      if (band_rows_ == 0 || band_rows_ > height) band_rows_ = height;
      row_bytes_ = TIFFScanlineSize64(tiff);
    }
    return IMAGE_OK;
  }

  statut_image next(int count, unsigned char* grey) override {
    try {
      if (piece_.size() < piece_bytes_) piece_.resize(piece_bytes_);
    } catch (const std::bad_alloc&) {
      return IMAGE_MEMOIRE_INSUFFISANTE;
    }
    const std::size_t width = static_cast<std::size_t>(columns_);
    for (int r = 0; r < count; ++r, ++next_row_) {
      unsigned char* into = grey + static_cast<std::size_t>(r) * width;
      if (next_row_ >= band_end_) {
        if (const statut_image read = read_band(); read != IMAGE_OK) return read;
      }
      const std::uint32_t in_band = next_row_ - band_first_;
      if (tiled_) {
        std::memcpy(into, tile_rows_.data() + in_band * width, width);
      } else {
        to_grey(layout_, piece_.data() + in_band * row_bytes_, width, into);
      }
    }
    return client_.failed ? failure(client_) : IMAGE_OK;
  }

 private:
  // The strip, or the row of tiles, of row `next_row_`.
  statut_image read_band() {
    TIFF* tiff = tiff_.get();
    const std::uint32_t height = static_cast<std::uint32_t>(rows_);
    const std::uint32_t width = static_cast<std::uint32_t>(columns_);
    const std::uint32_t y = next_row_ / band_rows_ * band_rows_;
    const std::uint32_t rows = height - y < band_rows_ ? height - y : band_rows_;
    const tmsize_t wanted = static_cast<tmsize_t>(piece_bytes_);
    band_first_ = y;
    band_end_ = y + rows;
    if (!tiled_) {
      const tmsize_t got =
          TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y, 0), piece_.data(), wanted);
      if (got < 0 || static_cast<std::uint64_t>(got) < rows * row_bytes_) return failure(client_);
      return IMAGE_OK;
    }
    try {
      tile_rows_.resize(static_cast<std::size_t>(band_rows_) * width);
    } catch (const std::bad_alloc&) {
      return IMAGE_MEMOIRE_INSUFFISANTE;
    }
    for (std::uint32_t x = 0; x < width; x += tile_width_) {
      if (TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, 0), piece_.data(), wanted) < 0) {
        return failure(client_);
      }
      const std::uint32_t columns = width - x < tile_width_ ? width - x : tile_width_;
      for (std::uint32_t r = 0; r < rows; ++r) {
        to_grey(layout_, piece_.data() + r * row_bytes_, columns,
                tile_rows_.data() + static_cast<std::size_t>(r) * width + x);
      }
    }
    return IMAGE_OK;
  }

  Client client_;
  Tiff tiff_;
  Samples layout_;
  std::vector<unsigned char> palette_;
  std::vector<unsigned char> piece_;      // a strip or a tile, as decoded
  std::vector<unsigned char> tile_rows_;  // a row of tiles, grey
  std::uint64_t piece_bytes_ = 0;
  std::uint64_t row_bytes_ = 0;
  std::uint32_t tile_width_ = 0;
  std::uint32_t band_rows_ = 0;  // rows a strip or a tile
  std::uint32_t band_first_ = 0;
  std::uint32_t band_end_ = 0;
  std::uint32_t next_row_ = 0;
  bool tiled_ = false;
};

}  // namespace

statut_image open_tiff_rows(std::FILE* stream, int page, Held held,
                            std::unique_ptr<RowDecoder>* decoder) {
  return started([] { return std::make_unique<TiffDecoder>(); },
                 [&](TiffDecoder& tiff) { return tiff.open(stream, page, held); }, decoder);
}

statut_image read_tiff(std::FILE* stream, int page, Destination* to) {
  return decode_whole(open_tiff_rows, stream, page, to);
}

statut_image count_tiff_pages(std::FILE* stream, int* pages) {
  Client client;
  Tiff tiff;
  if (const statut_image status = open_for_reading(stream, &client, &tiff); status != IMAGE_OK) {
    return status;
  }
  const tdir_t count = TIFFNumberOfDirectories(tiff.get());
  if (count == 0 || count > INT32_MAX) return IMAGE_DONNEES_ENDOMMAGEES;
  *pages = static_cast<int>(count);
  return IMAGE_OK;
}

namespace {

// The tags of one Group 4 page.
void set_bilevel_page(TIFF* t, int rows, int columns, int page, int pages) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(columns));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);  // 1 is black, as packed
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  // One strip, whose compressed bytes go out each time a buffer of 1 MiB fills (libtiff's own
  // would be the strip's uncompressed size: the whole page).
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rows));
  TIFFWriteBufferSetup(t, nullptr, tmsize_t{1} << 20);
  if (pages > 1) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page),
                 static_cast<std::uint16_t>(pages));
  }
}

// A one-page Group 4 file written a row at a time: to a seekable file as the rows come, else
// into a buffer written at the end.
class TiffEncoder : public BilevelEncoder {
 public:
  statut_image begin(ByteSink sink, int rows, int columns) {
    sink_ = sink;
    if (sink.file != nullptr && sink.file->seekable()) {
      client_.file = sink.file;
    } else {
      client_.buffer = sink.buffer != nullptr ? sink.buffer : &held_;
    }
    tiff_ = open_tiff(&client_, "w");
    if (!tiff_) return failure();
    set_bilevel_page(tiff_.get(), rows, columns, 0, 1);
    return IMAGE_OK;
  }
  statut_image row(const unsigned char* bits) override {
    if (TIFFWriteScanline(tiff_.get(), const_cast<unsigned char*>(bits), row_++, 0) < 0 ||
        client_.failed) {
      return failure();
    }
    return IMAGE_OK;
  }
  statut_image finish() override {
    if (TIFFWriteDirectory(tiff_.get()) == 0) return failure();
    tiff_.reset();  // writes what is left
    if (client_.failed || client_.out_of_memory) return failure();
    if (client_.buffer == &held_) return sink_.file->write(held_.data(), held_.size());
    return IMAGE_OK;
  }

 private:
  statut_image failure() const {
    return client_.out_of_memory ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_ERREUR_D_ECRITURE;
  }

  ByteSink sink_;
  Client client_;
  std::vector<unsigned char> held_;
  Tiff tiff_;
  std::uint32_t row_ = 0;
};

}  // namespace

statut_image begin_tiff_bilevel(ByteSink sink, int rows, int columns,
                                std::unique_ptr<BilevelEncoder>* encoder) {
  return started([] { return std::make_unique<TiffEncoder>(); },
                 [&](TiffEncoder& tiff) { return tiff.begin(sink, rows, columns); }, encoder);
}

statut_image encode_tiff_bilevel(const PageSource& source, std::vector<unsigned char>* file) {
  Client client;
  client.buffer = file;
  Tiff tiff = open_tiff(&client, "w");
  if (!tiff) return client.out_of_memory ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_ERREUR_D_ECRITURE;
  std::vector<unsigned char> bits;
  for (int page = 0; page < source.pages; ++page) {
    const unsigned char* image = nullptr;
    int rows = 0;
    int columns = 0;
    const statut_image status = source.page(source.context, page, &image, &rows, &columns);
    if (status != IMAGE_OK) return status;
    if (image == nullptr) return IMAGE_PARAMETRE_INVALIDE;
    if (rows < 1 || columns < 1 || !raster_bytes(std::int64_t{rows} * columns, greymap)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    TIFF* t = tiff.get();
    set_bilevel_page(t, rows, columns, page, source.pages);
    const std::size_t width = static_cast<std::size_t>(columns);
    bits.assign((width + 7) / 8, 0);
    for (int y = 0; y < rows; ++y) {
      pack_row(image + static_cast<std::size_t>(y) * width, width, bits.data());
      if (TIFFWriteScanline(t, bits.data(), static_cast<std::uint32_t>(y), 0) < 0) break;
    }
    if (client.failed || TIFFWriteDirectory(t) == 0) break;
  }
  tiff.reset();  // writes what is left
  if (client.out_of_memory) return IMAGE_MEMOIRE_INSUFFISANTE;
  return client.failed ? IMAGE_ERREUR_D_ECRITURE : IMAGE_OK;
}

}  // namespace imagefiles::detail
