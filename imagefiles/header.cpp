// The header shared by greymap and colour files: reading it leniently, writing it exactly.

#include <algorithm>
#include <climits>
#include <cstdint>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// The whitespace of the C locale: space, tab, line feed, vertical tab, form feed, carriage return.
bool is_space(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// Puts back the byte that ended a scan, so that it is the next one read.
void unread(int c, std::FILE* stream) {
  if (c != EOF) std::ungetc(c, stream);
}

void skip_whitespace(std::FILE* stream) {
  int c;
  while ((c = std::getc(stream)) != EOF && is_space(c)) {
  }
  unread(c, stream);
}

// Matches 'P' and the digit, then any run of whitespace. The first byte that differs stays unread
// and reading goes on from there, as a formatted scan of "P5 " would leave it.
void match_magic(std::FILE* stream, char magic_digit) {
  for (const char expected : {'P', magic_digit}) {
    const int c = std::getc(stream);
    if (c != expected) {
      unread(c, stream);
      return;
    }
  }
  skip_whitespace(stream);
}

// Reads a decimal integer the way "%d" does: leading whitespace, an optional sign, at least one
// digit; the first byte after the digits stays unread. A value beyond the 32-bit range saturates.
bool scan_int(std::FILE* stream, int* value) {
  skip_whitespace(stream);
  int c = std::getc(stream);
  const bool negative = c == '-';
  if (c == '-' || c == '+') c = std::getc(stream);
  if (!is_digit(c)) {
    unread(c, stream);
    return false;
  }
  // One past INT_MAX is enough to tell every saturated value, and keeps the product in range.
  constexpr std::int64_t cap = std::int64_t{INT_MAX} + 1;
  std::int64_t magnitude = 0;
  do {
    magnitude = std::min(magnitude * 10 + (c - '0'), cap);
    c = std::getc(stream);
  } while (is_digit(c));
  unread(c, stream);
  const std::int64_t signed_value = negative ? -magnitude : magnitude;
  *value = static_cast<int>(std::clamp<std::int64_t>(signed_value, INT_MIN, INT_MAX));
  return true;
}

}  // namespace

void read_header(std::FILE* stream, char magic_digit, int* width, int* height, int* maximum) {
  match_magic(stream, magic_digit);
  ignorer_commentaires(stream);
  if (scan_int(stream, width) && scan_int(stream, height) && scan_int(stream, maximum)) {
    std::getc(stream);  // the one byte that ends the header, whatever it is
  }
}

void write_header(std::FILE* stream, char magic_digit, int columns, int rows) {
  const char magic[] = {'P', magic_digit, '\r'};
  std::fwrite(magic, 1, sizeof magic, stream);
  std::fprintf(stream, "%d %d\r255\r", columns, rows);
}

}  // namespace imagefiles::detail

void ignorer_commentaires(std::FILE* flux) {
  using imagefiles::detail::unread;
  for (;;) {
    int c = std::getc(flux);
    if (c != '#') {
      // Pushing the byte back rather than seeking over it keeps pipes working too.
      unread(c, flux);
      return;
    }
    // Only a line feed ends a comment; end of file ends the skipping.
    while ((c = std::getc(flux)) != '\n') {
      if (c == EOF) return;
    }
  }
}
