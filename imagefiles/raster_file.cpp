// Opening, reading and writing image files: one implementation for both formats, each failure
// returned as a status.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <vector>

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

// Opens `name` and reads its header strictly, leaving `*file` at the first raster byte.
statut_image open_strict(const char* name, Format format, File* file, Header* header) {
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  *file = open_for_reading(name);
  if (!*file) return open_failure(IMAGE_PAS_D_ACCES_EN_LECTURE);
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

std::optional<std::size_t> file_raster_bytes(std::int64_t rows, std::int64_t columns,
                                             Format format) {
  if (format.bytes_per_pixel != 0) return raster_bytes(rows * columns, format);
  if (rows <= 0 || columns <= 0) return 0;
  const std::int64_t stride = (columns + 7) / 8;
  if (stride > INT_MAX / rows) return std::nullopt;
  return static_cast<std::size_t>(rows * stride);
}

std::optional<std::size_t> raster_bytes(std::int64_t count, Format format) {
  if (count <= 0) return 0;
  // Divided rather than multiplied, so that the check cannot overflow.
  if (count > INT_MAX / format.bytes_per_pixel) return std::nullopt;
  return static_cast<std::size_t>(count * format.bytes_per_pixel);
}

std::optional<RasterSizes> checked_sizes(std::int64_t rows, std::int64_t columns, Format format,
                                         Held held) {
  if (rows < 1 || columns < 1 || rows > INT_MAX || columns > INT_MAX) return std::nullopt;
  const Format in_memory_as = format.bytes_per_pixel == 0 ? greymap : format;
  if (held == Held::in_bands) {
    // Only a row is ever one block; the totals stay below 2^62, exact in 64 bits.
    static_assert(sizeof(std::size_t) >= sizeof(std::uint64_t), "raster sizes need 64 bits");
    const std::optional<std::size_t> row_in_file = file_raster_bytes(1, columns, format);
    const std::optional<std::size_t> row_in_memory = raster_bytes(columns, in_memory_as);
    if (!row_in_file || !row_in_memory) return std::nullopt;
    const auto height = static_cast<std::size_t>(rows);
    return RasterSizes{height * *row_in_file, height * *row_in_memory};
  }
  const std::optional<std::size_t> in_file = file_raster_bytes(rows, columns, format);
  const std::optional<std::size_t> in_memory = raster_bytes(rows * columns, in_memory_as);
  if (!in_file || !in_memory) return std::nullopt;
  return RasterSizes{*in_file, *in_memory};
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

namespace {

// A bitmap's rows packed, as the file holds them.
std::vector<unsigned char> packed(const unsigned char* raster, int rows, int columns,
                                  std::size_t bytes) {
  std::vector<unsigned char> bits(bytes);
  const std::size_t width = static_cast<std::size_t>(columns);
  const std::size_t stride = (width + 7) / 8;
  for (std::size_t row = 0; row < static_cast<std::size_t>(rows); ++row) {
    pack_row(raster + row * width, width, bits.data() + row * stride);
  }
  return bits;
}

}  // namespace

statut_image write_raster(const char* name, Format format, const unsigned char* raster, int rows,
                          int columns) {
  // Checked before the file is opened, so that an image out of range leaves no file behind.
  const std::optional<std::size_t> bytes = file_raster_bytes(rows, columns, format);
  if (!bytes) return IMAGE_ERREUR_D_ECRITURE;
  char header[32];
  const std::size_t header_bytes = format_header(header, format, columns, rows);
  if (format.bytes_per_pixel != 0) return write_file(name, header, header_bytes, raster, *bytes);
  try {
    const std::vector<unsigned char> bits = packed(raster, rows, columns, *bytes);
    return write_file(name, header, header_bytes, bits.data(), bits.size());
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
}

statut_image write_raster_to(std::FILE* stream, Format format, const unsigned char* raster,
                             int rows, int columns) {
  const std::optional<std::size_t> bytes = file_raster_bytes(rows, columns, format);
  if (!bytes) return IMAGE_TAILLE_HORS_LIMITES;
  char header[32];
  const std::size_t header_bytes = format_header(header, format, columns, rows);
  bool written = std::fwrite(header, 1, header_bytes, stream) == header_bytes;
  if (format.bytes_per_pixel != 0) {
    written = written && std::fwrite(raster, 1, *bytes, stream) == *bytes;
  } else {
    // Row by row: a pipe gets the first rows while the next are packed.
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<unsigned char> bits((width + 7) / 8);
    for (std::size_t row = 0; written && row < static_cast<std::size_t>(rows); ++row) {
      pack_row(raster + row * width, width, bits.data());
      written = std::fwrite(bits.data(), 1, bits.size(), stream) == bits.size();
    }
  }
  return written && std::fflush(stream) == 0 ? IMAGE_OK : IMAGE_ERREUR_D_ECRITURE;
}

statut_image read_bitmap_strict(const char* name, unsigned char* raster, std::size_t capacity,
                                Header* header) {
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  const File file = open_for_reading(name);
  if (!file) return open_failure(IMAGE_PAS_D_ACCES_EN_LECTURE);
  std::FILE* stream = file.get();
  const int p = std::getc(stream);
  const int digit = std::getc(stream);
  if (p == EOF || digit == EOF) return IMAGE_ERREUR_DE_LECTURE;
  if (p != 'P' || (digit != '4' && digit != '1')) return IMAGE_PAS_PBM;
  const Format format = digit == '4' ? bitmap : plain_bitmap;
  if (const statut_image status = read_header_fields(stream, format, header); status != IMAGE_OK) {
    return status;
  }
  const std::size_t bytes = header->memory_bytes;
  if (bytes > capacity || raster == nullptr) return IMAGE_TAMPON_TROP_PETIT;
  if (format.magic_digit == '1') return read_plain_bits(stream, raster, bytes);
  const std::size_t width = static_cast<std::size_t>(header->width);
  std::vector<unsigned char> bits((width + 7) / 8);
  for (std::size_t row = 0; row < static_cast<std::size_t>(header->height); ++row) {
    if (!read_exactly(stream, bits.data(), bits.size())) return IMAGE_ERREUR_DE_LECTURE;
    unpack_row(bits.data(), width, raster + row * width);
  }
  return IMAGE_OK;
}

}  // namespace imagefiles::detail
