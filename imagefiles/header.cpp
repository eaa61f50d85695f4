// The header shared by greymap and colour files: reading it leniently or strictly, writing it
// exactly.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

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

// Reads the digits that start with `c`, already read, and returns their value, saturated one past
// INT_MAX (enough to tell every saturated value, and the products stay in range). The byte after
// them stays unread, and is given in *after.
std::int64_t read_digits(std::FILE* stream, int c, int* after) {
  constexpr std::int64_t cap = std::int64_t{INT_MAX} + 1;
  std::int64_t magnitude = 0;
  do {
    magnitude = std::min(magnitude * 10 + (c - '0'), cap);
    c = std::getc(stream);
  } while (is_digit(c));
  unread(c, stream);
  *after = c;
  return magnitude;
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
  const std::int64_t magnitude = read_digits(stream, c, &c);
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

std::size_t format_header(char* text, Format format, int columns, int rows) {
  // At most "P6\r-2147483648 -2147483648\r255\r": 31 bytes and the terminating zero.
  const int length =
      format.bytes_per_pixel == 0
          ? std::snprintf(text, 32, "P%c\r%d %d\r", format.magic_digit, columns, rows)
          : std::snprintf(text, 32, "P%c\r%d %d\r255\r", format.magic_digit, columns, rows);
  return static_cast<std::size_t>(length);
}

namespace {

// The strict reader's whitespace, as the greymap tools read it: vertical tab and form feed are not.
bool is_separator(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Skips whitespace and comments ('#' up to a line feed or carriage return). False at end of file.
bool skip_separators(std::FILE* stream) {
  for (;;) {
    int c = std::getc(stream);
    if (c == '#') {
      while ((c = std::getc(stream)) != '\n' && c != '\r') {
        if (c == EOF) return false;
      }
    } else if (!is_separator(c)) {
      unread(c, stream);
      return c != EOF;
    }
  }
}

// An unsigned decimal number, saturated just above the 32-bit range. The byte after its digits
// stays unread.
statut_image scan_unsigned(std::FILE* stream, statut_image not_this_one, std::int64_t* value) {
  if (!skip_separators(stream)) return IMAGE_ERREUR_DE_LECTURE;
  int c = std::getc(stream);
  if (!is_digit(c)) return not_this_one;
  *value = read_digits(stream, c, &c);
  return c == EOF ? IMAGE_ERREUR_DE_LECTURE : IMAGE_OK;
}

}  // namespace

statut_image scan_header_number(std::FILE* stream, statut_image not_this_one, std::int64_t* value) {
  return scan_unsigned(stream, not_this_one, value);
}

statut_image read_header_strict(std::FILE* stream, Format format, Header* header, Held held) {
  for (const char expected : {'P', format.magic_digit}) {
    const int c = std::getc(stream);
    if (c == EOF) return IMAGE_ERREUR_DE_LECTURE;
    if (c != expected) return format.not_this_one;
  }
  return read_header_fields(stream, format, header, held);
}

statut_image read_header_fields(std::FILE* stream, Format format, Header* header, Held held) {
  // A bitmap has no maximum value: its height ends the header.
  std::int64_t fields[3] = {0, 0, 1};
  const std::size_t count = format.bytes_per_pixel == 0 ? 2 : 3;
  for (std::size_t i = 0; i < count; ++i) {
    const statut_image status = scan_unsigned(stream, format.not_this_one, &fields[i]);
    if (status != IMAGE_OK) return status;
    // Width and height end at whitespace or a comment; the last field at exactly one whitespace
    // byte, which is consumed.
    const bool last = i + 1 == count;
    const int next = std::getc(stream);
    if (!last) unread(next, stream);
    if (!is_separator(next) && (last || next != '#')) return format.not_this_one;
  }
  const auto [width, height, maximum] = fields;
  if (width < 1 || height < 1 || maximum < 1 || maximum > 65535) return format.not_this_one;
  if (maximum > 255) return IMAGE_16_BITS;
  // Both at most one past INT_MAX: their product stays well within 64 bits.
  const std::optional<RasterSizes> sizes = checked_sizes(height, width, format, held);
  if (!sizes) return IMAGE_TAILLE_HORS_LIMITES;
  *header = {static_cast<int>(width), static_cast<int>(height), static_cast<int>(maximum),
             sizes->in_file, sizes->in_memory};
  return IMAGE_OK;
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
