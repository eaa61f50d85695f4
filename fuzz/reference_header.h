// Second, independent header readers for the fuzzers to compare with: the original design's
// formatted scans ("P5 ", then "%d %d %d%*c") and a comment skipper that seeks back one byte; and
// the strict grammar worked over the bytes in memory, by index rather than by stream.

#ifndef IMAGEFILES_FUZZ_REFERENCE_HEADER_H
#define IMAGEFILES_FUZZ_REFERENCE_HEADER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace reference {

inline void skip_comments(std::FILE* stream) {
  for (;;) {
    int c = std::fgetc(stream);
    if (c == EOF) return;
    if (c != '#') {
      std::fseek(stream, -1, SEEK_CUR);
      return;
    }
    while ((c = std::fgetc(stream)) != '\n') {
      if (c == EOF) return;
    }
  }
}

// Returns what the number scan returns: how many numbers it read, or EOF.
inline int read_header(std::FILE* stream, char magic_digit, int* width, int* height, int* maximum) {
  (void)(magic_digit == '5' ? std::fscanf(stream, "P5 ") : std::fscanf(stream, "P6 "));
  skip_comments(stream);
  return std::fscanf(stream, "%d %d %d%*c", width, height, maximum);
}

// The standard scan's result for numbers beyond the 32-bit range is not defined; comparisons of
// values leave out inputs holding ten digits in a row.
inline bool has_long_number(const std::uint8_t* data, std::size_t size) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < size; ++i) {
    run = (data[i] >= '0' && data[i] <= '9') ? run + 1 : 0;
    if (run >= 10) return true;
  }
  return false;
}

// Bytes left to read in a stream; unlike ftell, counts a byte pushed back.
inline std::size_t remaining(std::FILE* stream) {
  std::size_t count = 0;
  while (std::fgetc(stream) != EOF) ++count;
  return count;
}

// The strict reading of a header in `data`: what it is, by the library's statuses (as numbers, so
// that this stays free of the library), and on success the three numbers and where the raster
// starts. 0 accepted, 2 cut short, 5 not this format, 7 two-byte samples, 8 too large.
struct Strict {
  int status;
  long long width, height, maximum;
  std::size_t raster_offset;
};

inline Strict read_strict(const std::uint8_t* data, std::size_t size, char magic_digit,
                          int bytes_per_pixel) {
  std::size_t at = 0;
  const auto blank = [](std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  if (size < 2) return {size == 0 || data[0] == 'P' ? 2 : 5, 0, 0, 0, 0};
  if (data[0] != 'P' || data[1] != magic_digit) return {5, 0, 0, 0, 0};
  at = 2;
  long long numbers[3] = {0, 0, 0};
  for (int field = 0; field < 3; ++field) {
    // Blanks and comments, in any order.
    while (at < size && (blank(data[at]) || data[at] == '#')) {
      if (data[at] == '#') {
        while (at < size && data[at] != '\n' && data[at] != '\r') ++at;
        if (at == size) return {2, 0, 0, 0, 0};
      }
      ++at;
    }
    if (at == size) return {2, 0, 0, 0, 0};
    if (data[at] < '0' || data[at] > '9') return {5, 0, 0, 0, 0};
    const std::size_t start = at;
    while (at < size && data[at] >= '0' && data[at] <= '9') ++at;
    if (at == size) return {2, 0, 0, 0, 0};
    // Leading zeros do not count towards the length; eleven significant digits are beyond any
    // 32-bit value.
    std::size_t first = start;
    while (first + 1 < at && data[first] == '0') ++first;
    if (at - first > 11) {
      numbers[field] = 99999999999LL;
    } else {
      numbers[field] = std::stoll(std::string(data + first, data + at));
    }
    const bool last = field == 2;
    if (!blank(data[at]) && (last || data[at] != '#')) return {5, 0, 0, 0, 0};
    if (last) ++at;
  }
  const long long w = numbers[0], h = numbers[1], m = numbers[2];
  if (w == 0 || h == 0 || m == 0 || m > 65535) return {5, 0, 0, 0, 0};
  if (m > 255) return {7, 0, 0, 0, 0};
  if (w > 2147483647LL || h > 2147483647LL ||
      static_cast<unsigned long long>(w) * static_cast<unsigned long long>(h) >
          2147483647ULL / static_cast<unsigned>(bytes_per_pixel)) {
    return {8, 0, 0, 0, 0};
  }
  return {0, w, h, m, at};
}

}  // namespace reference

#endif  // IMAGEFILES_FUZZ_REFERENCE_HEADER_H
