// The stream functions' row sources. A two-pass method reads a regular file once a pass, and the
// file must stay the one first read: its identity, size and times are compared after each pass.

#include "imagefiles/row_sources.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace imagefiles::detail {
namespace {

// The largest sample of a block, in a loop that the compiler vectorises.
unsigned char largest_sample(const unsigned char* samples, std::size_t count) {
  unsigned char largest = 0;
  for (std::size_t i = 0; i < count; ++i) largest = std::max(largest, samples[i]);
  return largest;
}

// The file open as `stream` is the one described by `first`: same file, same size, same times.
bool same_file(std::FILE* stream, const struct stat& first) {
  struct stat st {};
  if (::fstat(::fileno(stream), &st) != 0) return false;
  return st.st_dev == first.st_dev && st.st_ino == first.st_ino && st.st_size == first.st_size &&
         st.st_mtim.tv_sec == first.st_mtim.tv_sec && st.st_mtim.tv_nsec == first.st_mtim.tv_nsec &&
         st.st_ctim.tv_sec == first.st_ctim.tv_sec && st.st_ctim.tv_nsec == first.st_ctim.tv_nsec;
}

}  // namespace

Raster::Raster(std::FILE* stream, const Header& header) : stream_(stream) {
  header_ = header;
  struct stat st {};
  const off_t at = ::ftello(stream);
  seekable_ = at >= 0 && ::fstat(::fileno(stream), &st) == 0 && S_ISREG(st.st_mode);
  start_ = at;
  identity_ = st;
}

statut_image Raster::read(int row, int first, std::size_t count, unsigned char* into) {
  if (seekable_) {
    const std::uint64_t at =
        std::uint64_t(row) * static_cast<std::uint64_t>(header_.width) + std::uint64_t(first);
    if (at != position_) {
      if (::fseeko(stream_, start_ + static_cast<off_t>(at), SEEK_SET) != 0) {
        return IMAGE_ERREUR_DE_LECTURE;
      }
    }
    position_ = at + count;
  }
  if (count > 0 && std::fread(into, 1, count, stream_) != count) return IMAGE_ERREUR_DE_LECTURE;
  // A sample above the maximum value is no sample of this file.
  if (header_.maximum < 255 && largest_sample(into, count) > header_.maximum) {
    return IMAGE_PAS_PGM;
  }
  return IMAGE_OK;
}

statut_image Raster::unchanged() const {
  if (!seekable_) return IMAGE_OK;
  return same_file(stream_, identity_) ? IMAGE_OK : IMAGE_ERREUR_DE_LECTURE;
}

statut_image Raster::spill_to(std::FILE* spill) {
  std::vector<unsigned char> block(block_bytes);
  std::size_t left = header_.raster_bytes;
  while (left > 0) {
    const std::size_t n = std::min(left, block.size());
    if (const statut_image got = read(0, 0, n, block.data()); got != IMAGE_OK) return got;
    if (std::fwrite(block.data(), 1, n, spill) != n) return IMAGE_ERREUR_DE_LECTURE;
    left -= n;
  }
  if (std::fflush(spill) != 0 || ::fseeko(spill, 0, SEEK_SET) != 0) {
    return IMAGE_ERREUR_DE_LECTURE;
  }
  *this = Raster(spill, header_);
  header_.maximum = 255;  // checked on the way
  return IMAGE_OK;
}

statut_image DecodedRows::open() {
  if (::fstat(::fileno(stream_), &identity_) != 0) return IMAGE_ERREUR_DE_LECTURE;
  if (const statut_image opened = restart(); opened != IMAGE_OK) return opened;
  header_.height = decoder_->rows();
  header_.width = decoder_->columns();
  header_.maximum = 255;
  return IMAGE_OK;
}

statut_image DecodedRows::read(int row, int first, std::size_t count, unsigned char* into) {
  const std::size_t width = static_cast<std::size_t>(header_.width);
  std::uint64_t at = std::uint64_t(row) * width + std::uint64_t(first);
  while (count > 0) {
    const int r = static_cast<int>(at / width);
    const std::size_t column = static_cast<std::size_t>(at % width);
    if (r < next_row_ && line_row_ != r) {
      if (const statut_image again = restart(); again != IMAGE_OK) return again;
    }
    std::size_t n = 0;
    if (column == 0 && r == next_row_ && count >= width) {
      // Whole rows straight into the caller's block.
      const int rows = static_cast<int>(count / width);
      if (const statut_image got = decode(rows, into); got != IMAGE_OK) return got;
      n = static_cast<std::size_t>(rows) * width;
    } else {
      if (line_row_ != r) {
        if (line_.size() < width) line_.resize(width);
        while (next_row_ <= r) {
          if (const statut_image got = decode(1, line_.data()); got != IMAGE_OK) return got;
        }
        line_row_ = r;
      }
      n = std::min(count, width - column);
      std::memcpy(into, line_.data() + column, n);
    }
    into += n;
    count -= n;
    at += n;
  }
  return IMAGE_OK;
}

statut_image DecodedRows::unchanged() const {
  return same_file(stream_, identity_) ? IMAGE_OK : IMAGE_ERREUR_DE_LECTURE;
}

// The decoder again, at the top of the file.
statut_image DecodedRows::restart() {
  if (decoder_ != nullptr && unchanged() != IMAGE_OK) return IMAGE_ERREUR_DE_LECTURE;
  decoder_.reset();
  if (::fseeko(stream_, 0, SEEK_SET) != 0) return IMAGE_ERREUR_DE_LECTURE;
  if (const statut_image opened = opener_(stream_, page_, Held::in_bands, &decoder_);
      opened != IMAGE_OK) {
    return opened;
  }
  if (header_.height != 0 &&
      (decoder_->rows() != header_.height || decoder_->columns() != header_.width)) {
    return IMAGE_ERREUR_DE_LECTURE;
  }
  next_row_ = 0;
  line_row_ = -1;
  return IMAGE_OK;
}

statut_image DecodedRows::decode(int rows, unsigned char* into) {
  if (const statut_image got = decoder_->next(rows, into); got != IMAGE_OK) return got;
  next_row_ += rows;
  if (into != line_.data()) line_row_ = -1;
  // After the last row, the rest of the page, as the whole-image reader reads it.
  return next_row_ == header_.height ? decoder_->end() : IMAGE_OK;
}

statut_image HeldRows::load(std::FILE* stream, int page) {
  Destination to;
  statut_image status = read_any(stream, page, &to);
  if (status != IMAGE_TAMPON_TROP_PETIT)
    return status == IMAGE_OK ? IMAGE_ERREUR_DE_LECTURE : status;
  if (std::fseek(stream, 0, SEEK_SET) != 0) return IMAGE_ERREUR_DE_LECTURE;
  pixels_.resize(std::size_t(to.rows) * std::size_t(to.columns));
  to.image = pixels_.data();
  to.capacity = pixels_.size();
  status = read_any(stream, page, &to);
  header_.height = to.rows;
  header_.width = to.columns;
  header_.maximum = 255;
  return status;
}

statut_image HeldRows::read(int row, int first, std::size_t count, unsigned char* into) {
  const std::size_t at = std::size_t(row) * std::size_t(header_.width) + std::size_t(first);
  std::memcpy(into, pixels_.data() + at, count);
  return IMAGE_OK;
}

File unnamed_file() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = std::string(folder) + "/.imagefiles-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, "w+b");
  if (stream == nullptr) ::close(fd);
  return File(stream);
}

Kind kind_of(std::FILE* stream, Header* header) {
  unsigned char start[8] = {};
  const std::size_t got = std::fread(start, 1, sizeof start, stream);
  std::rewind(stream);
  if (got >= 8 && std::memcmp(start, "\x89PNG\r\n\x1a\n", 8) == 0) return Kind::png;
  for (const char* magic : {"II*\0", "MM\0*", "II+\0", "MM\0+"}) {
    if (got >= 4 && std::memcmp(start, magic, 4) == 0) return Kind::tiff;
  }
  if (got >= 2 && start[0] == 'P' && start[1] == '5' &&
      read_header_strict(stream, greymap, header, Held::in_bands) == IMAGE_OK &&
      header->maximum == 255) {
    return Kind::greymap_255;
  }
  std::rewind(stream);
  return Kind::other;
}

}  // namespace imagefiles::detail
