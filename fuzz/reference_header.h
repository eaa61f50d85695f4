// A second, independent header reader for the fuzzers to compare with: the original design's
// formatted scans ("P5 ", then "%d %d %d%*c") and a comment skipper that seeks back one byte.

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

}  // namespace reference

#endif  // IMAGEFILES_FUZZ_REFERENCE_HEADER_H
