// Opening, reading and writing image files: one implementation for both formats.

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

struct FileCloser {
  void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Each message is printed as "\n<text> <file name> \n".
constexpr char cannot_open_for_reading[] = "Pas d'acces en lecture sur l'image";
constexpr char cannot_open_for_writing[] = "Pas d'acces en ecriture sur l'image";
constexpr char read_error[] = "Erreur de lecture de l'image";
constexpr char write_error[] = "Erreur d'ecriture de l'image";

// A failure ends the process; an open stream is left for the exit to flush and close, so a file
// whose raster fell short keeps what was written of it.
[[noreturn]] void fail(const char* text, const char* name) {
  std::printf("\n%s %s \n", text, name);
  std::exit(1);
}

File open_for_reading(const char* name) {
  File file(std::fopen(name, "rb"));
  if (!file) fail(cannot_open_for_reading, name);
  return file;
}

// Bytes in `count` pixels: none for a count of 0 or less, nothing at all (no value) when they
// would not fit the 32-bit byte counts of the library.
std::optional<std::size_t> raster_bytes(std::int64_t count, Format format) {
  if (count <= 0) return 0;
  if (count > INT_MAX / format.bytes_per_pixel) return std::nullopt;
  return static_cast<std::size_t>(count * format.bytes_per_pixel);
}

}  // namespace

void query_dimensions(const char* name, Format format, int* rows, int* columns) {
  const File file = open_for_reading(name);
  int maximum = 0;
  read_header(file.get(), format.magic_digit, columns, rows, &maximum);
}

void read_raster(const char* name, Format format, unsigned char* raster, int count) {
  const std::optional<std::size_t> bytes = raster_bytes(count, format);
  if (!bytes) fail(read_error, name);
  const File file = open_for_reading(name);
  int width = 0;
  int height = 0;
  int maximum = 0;
  read_header(file.get(), format.magic_digit, &width, &height, &maximum);
  if (*bytes != 0 && std::fread(raster, 1, *bytes, file.get()) != *bytes) fail(read_error, name);
}

void write_raster(const char* name, Format format, const unsigned char* raster, int rows,
                  int columns) {
  // Checked before the file is opened, so that an image out of range leaves no file behind.
  const std::optional<std::size_t> bytes = raster_bytes(std::int64_t{rows} * columns, format);
  if (!bytes) fail(write_error, name);
  File file(std::fopen(name, "wb"));
  if (!file) fail(cannot_open_for_writing, name);
  write_header(file.get(), format.magic_digit, columns, rows);
  if (*bytes != 0 && std::fwrite(raster, 1, *bytes, file.get()) != *bytes) fail(write_error, name);
  // A buffered stream may learn only when it is flushed or closed that its bytes did not reach the
  // file (a full disk): that too is a write failure.
  if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0 ||
      std::fclose(file.release()) != 0) {
    fail(write_error, name);
  }
}

}  // namespace imagefiles::detail
