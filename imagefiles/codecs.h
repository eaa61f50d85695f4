// Private to the library: what the readers of every file format share (where the pixels go, the
// one rule that makes them grey) and what each format's source file provides to the dispatcher.

#ifndef IMAGEFILES_CODECS_H
#define IMAGEFILES_CODECS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {

// Where a reader puts a greymap: the caller's buffer (null or too small: the dimensions only).
struct Destination {
  unsigned char* image = nullptr;
  std::size_t capacity = 0;
  int rows = 0;
  int columns = 0;
};

// Records the dimensions a file declares, checked against the library's one size limit before any
// raster is allocated: IMAGE_OK when the raster fits the caller's buffer, IMAGE_TAMPON_TROP_PETIT
// when it does not (the dimensions are then stored), IMAGE_TAILLE_HORS_LIMITES beyond the limit.
statut_image accept_dimensions(std::int64_t rows, std::int64_t columns, Destination* to);

// How the samples of a row are laid out in a decoded file, for to_grey.
struct Samples {
  int bits = 8;                // 1, 2, 4, 8 or 16 bits a sample; sub-byte samples start on a byte
  int channels = 1;            // samples a pixel, alpha included
  int maximum = 255;           // the largest value a sample may take
  bool big_endian = true;      // the byte order of 16-bit samples
  bool min_is_white = false;   // 0 is white (grey only)
  bool alpha = false;          // the last sample is the pixel's opacity
  bool premultiplied = false;  // the colour samples are already multiplied by the opacity
  // A palette (channels is then 1): the grey of each index, already put through the rule.
  const unsigned char* palette_grey = nullptr;
};

// The one rule that makes grey of every pixel (see charger_image_grise in imagefiles.h): each
// sample brought to 0-255 as round(v x 255 / maximum), min-is-white inverted, composited on
// white by its opacity, then colour taken to the luma of ITU-R BT.601.
void to_grey(const Samples& layout, const unsigned char* row, std::size_t pixels,
             unsigned char* grey);

// The same rule for one 8-bit colour: used for palettes.
unsigned char luma(unsigned red, unsigned green, unsigned blue);

// A 16-bit (or any maximum's) sample brought to 0-255, rounding half up as netpbm's pamdepth.
inline unsigned scale_to_byte(unsigned value, unsigned maximum) {
  return (value * 255u + maximum / 2) / maximum;
}

// Bytes of a decoded row of `pixels` pixels of `layout`, with the size limit; 0 beyond it.
std::size_t row_bytes(const Samples& layout, std::int64_t pixels);

// A reader of one format: the image `page` (from 0) of the file open as `stream`, at its start.
using Reader = statut_image (*)(std::FILE* stream, int page, Destination* to);
// The number of images in a file of one format, without reading their rasters.
using PageCounter = statut_image (*)(std::FILE* stream, int* pages);

// Netpbm, every variant (netpbm_variants.cpp): one image a file.
statut_image read_netpbm(std::FILE* stream, int page, Destination* to);
// Formats that hold one image.
statut_image count_one_page(std::FILE* stream, int* pages);

// The rows of one page of a file, decoded in order and made grey by the one rule: what the
// whole-image readers fill a raster with, and what the stream functions read in bands.
class RowDecoder {
 public:
  virtual ~RowDecoder() = default;
  int rows() const { return rows_; }
  int columns() const { return columns_; }
  // Decodes the next `count` rows into `grey`, `count` x columns() bytes.
  virtual statut_image next(int count, unsigned char* grey) = 0;
  // After the last row: the rest of the file that belongs to the page (a PNG's last chunks).
  virtual statut_image end() { return IMAGE_OK; }

 protected:
  int rows_ = 0;
  int columns_ = 0;
};

// Opens page `page` of the file open as `stream`, at its start, with its dimensions checked as a
// raster `held` whole or in bands; what the file declares is checked before anything is decoded.
using DecoderOpener = statut_image (*)(std::FILE* stream, int page, Held held,
                                       std::unique_ptr<RowDecoder>* decoder);

// Page `page` decoded whole into `to` by the decoder `open` makes (grey_conversion.cpp): the
// whole-image readers of the formats that decode in rows.
statut_image decode_whole(DecoderOpener open, std::FILE* stream, int page, Destination* to);

// A codec made by `make`, started by `start` (its open() or begin()), and handed to `out` only
// once it started: what each format's opener and encoder front do. Running out of memory on the
// way is a status.
template <typename Base, typename Make, typename Start>
statut_image started(Make make, Start start, std::unique_ptr<Base>* out) {
  try {
    auto codec = make();
    if (const statut_image status = start(*codec); status != IMAGE_OK) return status;
    *out = std::move(codec);
    return IMAGE_OK;
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
}

// Where an encoder's bytes go: appended to a buffer, or written to a file being made (at any
// offset when it is seekable).
struct ByteSink {
  std::vector<unsigned char>* buffer = nullptr;
  ReplacementFile* file = nullptr;
};

// A bilevel image written a row at a time, each row packed as a bitmap's (1 black).
class BilevelEncoder {
 public:
  virtual ~BilevelEncoder() = default;
  virtual statut_image row(const unsigned char* bits) = 0;
  // After the last row of the last page.
  virtual statut_image finish() = 0;
};

// PNG (png_files.cpp). Rows are decoded one at a time, but for an interlaced file, whose passes
// are decoded whole at the first row.
statut_image open_png_rows(std::FILE* stream, int page, Held held,
                           std::unique_ptr<RowDecoder>* decoder);
statut_image read_png(std::FILE* stream, int page, Destination* to);
// A 1-bit grey PNG of rows x columns pixels, written to `sink` as the rows come.
statut_image begin_png_bilevel(ByteSink sink, int rows, int columns,
                               std::unique_ptr<BilevelEncoder>* encoder);
// A 1-bit grey PNG of a bilevel raster (below 128 black), appended to `file`.
statut_image encode_png_bilevel(const unsigned char* image, int rows, int columns,
                                std::vector<unsigned char>* file);

// TIFF (tiff_files.cpp). Rows are decoded a strip, or a row of tiles, at a time.
statut_image open_tiff_rows(std::FILE* stream, int page, Held held,
                            std::unique_ptr<RowDecoder>* decoder);
// A one-page Group 4 TIFF of rows x columns pixels, written to `sink` as the rows come (a file
// that cannot seek gets it whole at the end).
statut_image begin_tiff_bilevel(ByteSink sink, int rows, int columns,
                                std::unique_ptr<BilevelEncoder>* encoder);
statut_image read_tiff(std::FILE* stream, int page, Destination* to);
statut_image count_tiff_pages(std::FILE* stream, int* pages);
// The pages a multi-page writer asks for, one after another.
struct PageSource {
  int pages;
  statut_image (*page)(void* context, int page, const unsigned char** image, int* rows,
                       int* columns);
  void* context;
};
// A Group 4 TIFF of bilevel rasters (below 128 black), one directory a page, appended to `file`.
statut_image encode_tiff_bilevel(const PageSource& source, std::vector<unsigned char>* file);

// JPEG (jpeg_files.cpp).
statut_image read_jpeg(std::FILE* stream, int page, Destination* to);

struct FileCloser {
  void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `name` for the two calls of the buffer protocol: a regular file (or a block device), read
// from its start each time. A pipe, a terminal or a socket would give its bytes once, and a
// directory none: they are refused before a byte is read. Opening does not wait for a writer.
statut_image open_image(const char* name, File* file);

// Reads image `page` of the file open as `stream`, whatever its format (known by its first
// bytes): the dispatcher behind charger_image_grise, reachable by the fuzzer over memory.
statut_image read_any(std::FILE* stream, int page, Destination* to);
statut_image count_any(std::FILE* stream, int* pages);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_CODECS_H
