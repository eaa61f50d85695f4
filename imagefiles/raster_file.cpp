// Opening, reading and writing image files: one implementation for both formats, each failure
// returned as a status.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

struct FileCloser {
  void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_for_reading(const char* name) {
  return File(std::fopen(name, "rb"));
}

// Why a file could not be opened for reading: a resource that ran out, or no access.
statut_image failure_to_open() {
  if (errno == EMFILE || errno == ENFILE) return IMAGE_DESCRIPTEURS_EPUISES;
  if (errno == ENOMEM) return IMAGE_MEMOIRE_INSUFFISANTE;
  return IMAGE_PAS_D_ACCES_EN_LECTURE;
}

// Opens `name` and reads its header strictly, leaving `*file` at the first raster byte.
statut_image open_strict(const char* name, Format format, File* file, Header* header) {
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  *file = open_for_reading(name);
  if (!*file) return failure_to_open();
  return read_header_strict(file->get(), format, header);
}

// The largest sample of a raster, in a loop that the compiler vectorises.
unsigned char largest_sample(const unsigned char* raster, std::size_t bytes) {
  unsigned char largest = 0;
  for (std::size_t i = 0; i < bytes; ++i) largest = std::max(largest, raster[i]);
  return largest;
}

bool read_exactly(std::FILE* stream, unsigned char* raster, std::size_t bytes) {
  return bytes == 0 || std::fread(raster, 1, bytes, stream) == bytes;
}

}  // namespace

std::optional<std::size_t> raster_bytes(std::int64_t count, Format format) {
  if (count <= 0) return 0;
  // Divided rather than multiplied, so that the check cannot overflow.
  if (count > INT_MAX / format.bytes_per_pixel) return std::nullopt;
  return static_cast<std::size_t>(count * format.bytes_per_pixel);
}

statut_image query_dimensions(const char* name, Format format, int* rows, int* columns) {
  const File file = open_for_reading(name);
  if (!file) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  int maximum = 0;
  read_header(file.get(), format.magic_digit, columns, rows, &maximum);
  return IMAGE_OK;
}

statut_image read_raster(const char* name, Format format, unsigned char* raster, int count) {
  const std::optional<std::size_t> bytes = raster_bytes(count, format);
  if (!bytes) return IMAGE_ERREUR_DE_LECTURE;
  const File file = open_for_reading(name);
  if (!file) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  int width = 0;
  int height = 0;
  int maximum = 0;
  read_header(file.get(), format.magic_digit, &width, &height, &maximum);
  return read_exactly(file.get(), raster, *bytes) ? IMAGE_OK : IMAGE_ERREUR_DE_LECTURE;
}

statut_image query_header_strict(const char* name, Format format, Header* header) {
  File file;
  return open_strict(name, format, &file, header);
}

statut_image read_raster_strict(const char* name, Format format, unsigned char* raster,
                                std::size_t capacity, Header* header) {
  // One opening for header and raster: they cannot come from two different files.
  File file;
  if (const statut_image status = open_strict(name, format, &file, header); status != IMAGE_OK) {
    return status;
  }
  if (header->raster_bytes > capacity) return IMAGE_TAMPON_TROP_PETIT;
  return read_raster_from(file.get(), format, raster, header->raster_bytes, header->maximum);
}

statut_image read_raster_from(std::FILE* stream, Format format, unsigned char* raster,
                              std::size_t bytes, int maximum) {
  if (raster == nullptr && bytes > 0) return IMAGE_PARAMETRE_INVALIDE;
  if (!read_exactly(stream, raster, bytes)) return IMAGE_ERREUR_DE_LECTURE;
  // A sample above the maximum value is no sample of this file: netpbm refuses it too. At 255
  // every byte is one.
  if (maximum < 255 && largest_sample(raster, bytes) > maximum) return format.not_this_one;
  return IMAGE_OK;
}

statut_image write_raster(const char* name, Format format, const unsigned char* raster, int rows,
                          int columns) {
  // Checked before the file is opened, so that an image out of range leaves no file behind.
  const std::optional<std::size_t> bytes = raster_bytes(std::int64_t{rows} * columns, format);
  if (!bytes) return IMAGE_ERREUR_D_ECRITURE;
  char header[32];
  const std::size_t header_bytes = format_header(header, format.magic_digit, columns, rows);
  return write_file(name, header, header_bytes, raster, *bytes);
}

}  // namespace imagefiles::detail
