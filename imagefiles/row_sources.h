// Where the stream functions' rows come from: a greymap's raster read as it lies in the file, the
// rows of another format's decoder, or a page read whole by its format's reader.

#ifndef IMAGEFILES_ROW_SOURCES_H
#define IMAGEFILES_ROW_SOURCES_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {

// Bytes read and written at a time.
constexpr std::size_t block_bytes = std::size_t{1} << 20;

// The rows of a page: `read` gives `count` samples from column `first` of row `row` on, rows in
// order (a seekable source gives any row and column, which the strips need), again from the top
// for another pass; `unchanged` says the file is still the one first read.
class RowSource {
 public:
  virtual ~RowSource() = default;
  const Header& header() const { return header_; }
  virtual bool seekable() const = 0;
  virtual statut_image read(int row, int first, std::size_t count, unsigned char* into) = 0;
  virtual statut_image unchanged() const = 0;

 protected:
  Header header_{};
};

// The raster of a greymap whose header has been read: in order, or (a regular file) from any
// row and column, and again from the top.
class Raster : public RowSource {
 public:
  Raster(std::FILE* stream, const Header& header);
  bool seekable() const override { return seekable_; }
  statut_image read(int row, int first, std::size_t count, unsigned char* into) override;
  // The file is the one first read, as it was: same file, same size, not written since.
  statut_image unchanged() const override;
  // The raster copied to `spill`, which is then read in its place.
  statut_image spill_to(std::FILE* spill);

 private:
  std::FILE* stream_;
  bool seekable_ = false;
  off_t start_ = 0;
  std::uint64_t position_ = 0;
  struct stat identity_ {};
};

// The rows of a page of another format, from its decoder, which decodes in order: a row behind
// the last one decoded is had by decoding the file again from its start (a regular file, which
// must stay the one first read).
class DecodedRows : public RowSource {
 public:
  DecodedRows(std::FILE* stream, DecoderOpener opener, int page)
      : stream_(stream), opener_(opener), page_(page) {}
  statut_image open();
  bool seekable() const override { return false; }
  statut_image read(int row, int first, std::size_t count, unsigned char* into) override;
  statut_image unchanged() const override;

 private:
  statut_image restart();
  statut_image decode(int rows, unsigned char* into);

  std::FILE* stream_;
  DecoderOpener opener_;
  int page_;
  std::unique_ptr<RowDecoder> decoder_;
  std::vector<unsigned char> line_;  // the row that parts of rows are taken from
  int next_row_ = 0;
  int line_row_ = -1;
  struct stat identity_ {};
};

// A page read whole by its format's reader (the formats not decoded in rows), given as rows.
class HeldRows : public RowSource {
 public:
  statut_image load(std::FILE* stream, int page);
  bool seekable() const override { return true; }
  statut_image read(int row, int first, std::size_t count, unsigned char* into) override;
  statut_image unchanged() const override { return IMAGE_OK; }

 private:
  std::vector<unsigned char> pixels_;
};

// A file with no name, for a stream's raster that must be read twice: in $TMPDIR (or /tmp), gone
// when closed, whatever ends the process.
File unnamed_file();

// What a file holds, by its first bytes: a greymap of maximum 255 (its header then read into
// `header`, the stream left at its raster), a PNG or a TIFF (decoded in rows), or another format
// (read whole; the stream left at its start).
enum class Kind { greymap_255, png, tiff, other };
Kind kind_of(std::FILE* stream, Header* header);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_ROW_SOURCES_H
