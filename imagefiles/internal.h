// Private to the library: the one implementation behind the greymap and colour functions. Every
// operation here reports a failure as a value; the public functions decide what to do with it.

#ifndef IMAGEFILES_INTERNAL_H
#define IMAGEFILES_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "imagefiles/imagefiles.h"

namespace imagefiles::detail {

// All that tells the file formats apart.
struct Format {
  char magic_digit;           // the digit after 'P'
  int bytes_per_pixel;        // bytes of one pixel in the raster; 0: eight pixels a byte
  statut_image not_this_one;  // what a strict reader says of a file of another kind
};

inline constexpr Format greymap{'5', 1, IMAGE_PAS_PGM};
inline constexpr Format colour{'6', 3, IMAGE_PAS_PPM};
// Rows of bits, most significant first, 1 for black, each row padded to a whole byte; in memory,
// one byte a pixel, 0 or 255. The header has no maximum value.
inline constexpr Format bitmap{'4', 0, IMAGE_PAS_PBM};
inline constexpr Format plain_bitmap{'1', 0, IMAGE_PAS_PBM};  // read only: '0' and '1' in text

// Bytes in `count` pixels of `format`: none for a count of 0 or less, and no value at all when they
// would exceed the library's 32-bit byte counts (2,147,483,647). Every size the library accepts,
// reading or writing, is checked here.
std::optional<std::size_t> raster_bytes(std::int64_t count, Format format);

// Bytes of a rows x columns raster in a file of `format` (for a bitmap, whole bytes a row), with
// the same limit.
std::optional<std::size_t> file_raster_bytes(std::int64_t rows, std::int64_t columns,
                                             Format format);

// The raster of an image in a file of its format and in memory (where a bitmap is one byte a
// pixel).
struct RasterSizes {
  std::size_t in_file;
  std::size_t in_memory;
};

// How a raster is held: whole in memory, or a band of rows at a time (the stream functions, the
// binariseur), where only a row must be addressable as one block.
enum class Held { whole, in_bands };

// The one check of the dimensions of an image that a strict reader or a writer accepts: each from
// 1 to 2,147,483,647 (they are handed over as int), and the raster at most 2,147,483,647 bytes in
// the file and in memory; held in bands, each row at most that many bytes, and the raster's sizes
// (up to 2^62) worked out in 64 bits. No value otherwise.
std::optional<RasterSizes> checked_sizes(std::int64_t rows, std::int64_t columns, Format format,
                                         Held held = Held::whole);

// Reads a header from `stream`, just opened: the magic "P<digit>" and its whitespace, comment
// lines, then width, height and maximum value, and the one byte after them. Nothing is validated; a
// number that cannot be read, and every one after it, leaves its destination unchanged.
void read_header(std::FILE* stream, char magic_digit, int* width, int* height, int* maximum);

// A header that a strict reader accepted.
struct Header {
  int width;
  int height;
  int maximum;
  std::size_t raster_bytes;  // the raster in the file, at most 2,147,483,647 bytes held whole
  std::size_t memory_bytes;  // the raster in memory (a bitmap: one byte a pixel), as many at most
};

// Reads a header from `stream` by the strict rules (see imagefiles.h) and leaves the stream at the
// first raster byte; its sizes are checked for a raster `held` so. IMAGE_OK, or why the file is
// not one this library reads.
statut_image read_header_strict(std::FILE* stream, Format format, Header* header,
                                Held held = Held::whole);

// The same after the magic, which the caller has read.
statut_image read_header_fields(std::FILE* stream, Format format, Header* header,
                                Held held = Held::whole);

// Reads one unsigned decimal number of a header, after whitespace and comments, saturated just
// above the 32-bit range; the byte after its digits stays unread. `not_this_one` when no digit
// comes, IMAGE_ERREUR_DE_LECTURE at end of file.
statut_image scan_header_number(std::FILE* stream, statut_image not_this_one, std::int64_t* value);

// Formats "P<digit>\r<columns> <rows>\r255\r" into `text` (room for 32 bytes), without the
// maximum value for a bitmap; returns its length.
std::size_t format_header(char* text, Format format, int columns, int rows);

// Packs a row of `columns` samples into bits, most significant first, 1 where a sample is below
// 128 (black); the last byte is padded with 0 bits.
void pack_row(const unsigned char* samples, std::size_t columns, unsigned char* bits);

// The same with black below `level` rather than 128: binariser's rule (a level of 0 or less: no
// pixel black; above 255: every one), decided straight into bits.
void pack_threshold_row(const unsigned char* samples, std::size_t columns, int level,
                        unsigned char* bits);

// Unpacks a row of bits into 0 (for 1, black) and 255 bytes.
void unpack_row(const unsigned char* bits, std::size_t columns, unsigned char* samples);

// Reads a plain bitmap's raster ('0' and '1', whitespace between allowed) into 0 and 255 bytes.
statut_image read_plain_bits(std::FILE* stream, unsigned char* samples, std::size_t count);

// The file operations of both formats. `count` is the lenient reader's size argument, in pixels; a
// greymap pixel is one byte, so for greymaps it is also the byte count.
statut_image query_dimensions(const char* name, Format format, int* rows, int* columns);
statut_image read_raster(const char* name, Format format, unsigned char* raster, int count);
statut_image query_header_strict(const char* name, Format format, Header* header);
statut_image read_raster_strict(const char* name, Format format, unsigned char* raster,
                                std::size_t capacity, Header* header);
statut_image write_raster(const char* name, Format format, const unsigned char* raster, int rows,
                          int columns);

// Reads `bytes` raster bytes from `stream` into `raster`; a sample above `maximum` (when it is
// below 255) makes the file not one of `format`.
statut_image read_raster_from(std::FILE* stream, Format format, unsigned char* raster,
                              std::size_t bytes, int maximum);

// Reads a bitmap file (raw or plain) strictly into one byte a pixel, 0 or 255.
statut_image read_bitmap_strict(const char* name, unsigned char* raster, std::size_t capacity,
                                Header* header);

// Writes an image of `format` (greymap, colour or bitmap) to an open stream.
statut_image write_raster_to(std::FILE* stream, Format format, const unsigned char* raster,
                             int rows, int columns);

// A file written in pieces as the replacement of `name`, by the rules of write_file: the bytes go
// to a new file beside it, which takes the name at commit(). Destroyed before commit() (a failure,
// an exception, a signal's orderly end), it leaves the old file whole and nothing beside it.
class ReplacementFile {
 public:
  ReplacementFile();
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  statut_image open(const char* name, bool unnamed = true);
  // Appends `head` then `body`.
  statut_image write(const void* head, std::size_t head_bytes, const void* body = nullptr,
                     std::size_t body_bytes = 0);
  // Writes at an offset: only where seekable() (a new file, or a regular file written directly).
  statut_image write_at(const void* bytes, std::size_t count, std::uint64_t offset);
  bool seekable() const;
  statut_image commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Writes `head` then `body` as the file `name`, replacing it whole or leaving it as it was (see
// replace.cpp). `unnamed` false keeps to a named temporary even where an unnamed one is possible
// (the tests take that path on purpose).
statut_image write_file(const char* name, const void* head, std::size_t head_bytes,
                        const void* body, std::size_t body_bytes, bool unnamed = true);

// What a failure to open a file (errno set) is: a resource that ran out, or `no_access`.
statut_image open_failure(statut_image no_access);

// Prints the message of `status` for the file `name` on standard output (and on standard error
// too when standard output cannot take it), then ends the process with status 1.
[[noreturn]] void end_process(statut_image status, const char* name);

// The global threshold of the automatic method and of the page's scale: halfway between the ink
// and the paper, the ink's level the 10th percentile of the samples at or below Otsu's level
// `otsu` and the paper's the median of those above. Otsu's level itself lies nearer the paper on
// a page of text, whose ink is a small class: strokes came out thicker than they are.
int halfway_level(const std::uint64_t histogram_of[256], int otsu);

// The standard deviation of Gaussian noise from how often neighbours differ by each amount
// (`differences[d]` pairs by d): their median difference, which is 0.954 of it (the edges of
// strokes, a few pairs, do not move it), read within its unit in proportion to its count (a
// difference of k stands for those from k - 1/2 to k + 1/2); at least 0.5 / 0.954, 0 without pairs.
double noise_deviation(const std::uint64_t differences[256]);

// The scale of a page's writing (see fenetre_conseillee): the median horizontal run of ink and
// the mean height of the middle half of its letter-like components' ink, in pixels, and the window
// for a local method; all 0 when the page shows no writing.
struct PageScale {
  int stroke;
  int letter;
  int window;
};
PageScale measure_page_scale(const unsigned char* image, int rows, int columns);

// The same measure a row at a time, for a page read in bands: two passes over the rows, each
// giving every row in order to gather(pass, y, first, samples, n), in pieces of `n` samples from
// column `first` in the order of the columns (rows it does not use may be left out), then
// end(pass). It keeps a bounded sample of the page: a coarse grid of the paper, some rows for the
// runs, some bands of rows on a coarser grid for the letters. Throws std::bad_alloc.
class ScaleMeasure {
 public:
  ScaleMeasure(int rows, int columns);
  ~ScaleMeasure();
  ScaleMeasure(const ScaleMeasure&) = delete;
  ScaleMeasure& operator=(const ScaleMeasure&) = delete;
  static constexpr int passes = 2;
  void gather(int pass, int y, std::int64_t first, const unsigned char* samples, std::size_t n);
  void end(int pass);
  const PageScale& scale() const { return scale_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  PageScale scale_{};
};

// ---- Binarisation in parts: what a caller that cuts an image into blocks needs to get the whole
// image's result (the Python package's Dask functions).

// Adds the histogram of `count` samples to `histogram_of`.
void count_samples(const unsigned char* image, std::size_t count, std::uint64_t histogram_of[256]);

// Otsu's threshold, as calculer_seuil_otsu gives it, of an image whose histogram is given.
int otsu_threshold(const std::uint64_t histogram_of[256]);

// Where Wolf's first pass stands, to be carried between processes: the window of the largest
// spread (size x squares - sum^2, exact below a window of 182), its place and its sums; spread -1
// when there is none.
struct Widest {
  double spread;
  double sum;
  double squares;
  std::int64_t row;
  std::int64_t column;
};

// Wolf's first pass over the pixels [top, top + inner_rows) x [left, left + inner_columns) of an
// image (the rest of it is their windows' surroundings), its place counted from the region's
// corner; the image's largest deviation is that of the widest window of all the parts, the first
// in reading order of the whole image among equal ones.
Widest widest_window_within(const unsigned char* image, int rows, int columns, int window, int top,
                            int left, int inner_rows, int inner_columns);

// The deviation of a widest window, as binariser_wolf computes it (0 for none).
double deviation_of(const Widest& widest, int window);

// binariser_wolf with the image's smallest sample and largest deviation given.
statut_image binarise_wolf_given(unsigned char* output, const unsigned char* image, int rows,
                                 int columns, int window, double k, int minimum, double range);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_INTERNAL_H
