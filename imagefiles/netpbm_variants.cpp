// Every Netpbm file into a greymap: plain (P1, P2, P3) and raw (P4, P5, P6) files of any maximum
// value, two-byte samples included, and PAM (P7) of the tuple types GRAYSCALE, RGB, their _ALPHA
// variants and BLACKANDWHITE.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

struct Image {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::int64_t maximum = 1;
  bool plain = false;
  Samples layout;
};

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// P1 to P6: width, height and (but for bitmaps) the maximum value, then for raw files exactly one
// whitespace byte.
statut_image read_classic_header(std::FILE* stream, char digit, Image* image) {
  const bool bitmap = digit == '1' || digit == '4';
  const int fields = bitmap ? 2 : 3;
  std::int64_t values[3] = {0, 0, 1};
  for (int i = 0; i < fields; ++i) {
    const statut_image status = scan_header_number(stream, IMAGE_DONNEES_ENDOMMAGEES, &values[i]);
    if (status != IMAGE_OK) return status;
  }
  image->plain = digit <= '3';
  if (!image->plain && !is_space(std::getc(stream))) return IMAGE_DONNEES_ENDOMMAGEES;
  image->width = values[0];
  image->height = values[1];
  image->maximum = values[2];
  const bool colour = digit == '3' || digit == '6';
  image->layout.channels = colour ? 3 : 1;
  // A bitmap's 1 is black.
  image->layout.min_is_white = bitmap;
  image->layout.bits = bitmap ? 1 : image->maximum > 255 ? 16 : 8;
  return IMAGE_OK;
}

// A PAM header: lines of "KEYWORD value" up to ENDHDR.
statut_image read_pam_header(std::FILE* stream, Image* image) {
  std::int64_t depth = 0;
  std::string type;
  bool has[4] = {false, false, false, false};
  for (int lines = 0; lines < 1000; ++lines) {
    char line[256];
    if (std::fgets(line, sizeof line, stream) == nullptr) return IMAGE_ERREUR_DE_LECTURE;
    if (std::strchr(line, '\n') == nullptr) return IMAGE_DONNEES_ENDOMMAGEES;
    char keyword[32] = "";
    char value[200] = "";
    const int fields = std::sscanf(line, " %31s %199s", keyword, value);
    if (fields <= 0 || keyword[0] == '#') continue;
    const std::string key = keyword;
    if (key == "ENDHDR") {
      if (!(has[0] && has[1] && has[2] && has[3])) return IMAGE_DONNEES_ENDOMMAGEES;
      break;
    }
    if (fields != 2) return IMAGE_DONNEES_ENDOMMAGEES;
    if (key == "TUPLTYPE") {
      type = value;
      continue;
    }
    static const char* const numbers[] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
    int which = -1;
    for (int i = 0; i < 4; ++i) {
      if (key == numbers[i]) which = i;
    }
    if (which < 0) return IMAGE_DONNEES_ENDOMMAGEES;
    char* end = nullptr;
    const long long number = std::strtoll(value, &end, 10);
    if (*end != '\0' || number < 1 || number > INT32_MAX) return IMAGE_DONNEES_ENDOMMAGEES;
    std::int64_t* const targets[] = {&image->width, &image->height, &depth, &image->maximum};
    *targets[which] = number;
    has[which] = true;
  }
  if (type.empty()) {
    // No tuple type: the depth says which.
    static const char* const by_depth[] = {"GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    if (depth > 4) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
    type = by_depth[depth - 1];
  }
  struct Known {
    const char* name;
    int depth;
    bool alpha;
  };
  static const Known known[] = {{"GRAYSCALE", 1, false},     {"GRAYSCALE_ALPHA", 2, true},
                                {"RGB", 3, false},           {"RGB_ALPHA", 4, true},
                                {"BLACKANDWHITE", 1, false}, {"BLACKANDWHITE_ALPHA", 2, true}};
  for (const Known& k : known) {
    if (type != k.name) continue;
    if (depth != k.depth) return IMAGE_DONNEES_ENDOMMAGEES;
    // A PAM bitmap's 1 is white: an ordinary grey of maximum 1.
    if (type.compare(0, 13, "BLACKANDWHITE") == 0 && image->maximum != 1) {
      return IMAGE_DONNEES_ENDOMMAGEES;
    }
    image->layout.channels = k.depth;
    image->layout.alpha = k.alpha;
    image->layout.bits = image->maximum > 255 ? 16 : 8;
    return IMAGE_OK;
  }
  return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
}

// The next sample of a plain file, a decimal number (P1: one digit, with or without spaces).
statut_image read_plain_sample(std::FILE* stream, bool bitmap, unsigned* sample) {
  int c;
  do {
    c = std::getc(stream);
  } while (is_space(c));
  if (c == EOF) return IMAGE_ERREUR_DE_LECTURE;
  if (c < '0' || c > '9') return IMAGE_DONNEES_ENDOMMAGEES;
  unsigned value = static_cast<unsigned>(c - '0');
  if (!bitmap) {
    while ((c = std::getc(stream)) >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 65535) return IMAGE_DONNEES_ENDOMMAGEES;
    }
    if (c != EOF) std::ungetc(c, stream);
  }
  *sample = value;
  return IMAGE_OK;
}

// One row of the file, as a raw file holds it (a plain file's read into two-byte samples).
statut_image read_row(std::FILE* stream, const Image& image, unsigned char* row,
                      std::size_t bytes) {
  if (!image.plain) {
    if (std::fread(row, 1, bytes, stream) != bytes) return IMAGE_ERREUR_DE_LECTURE;
  } else {
    const std::size_t samples = static_cast<std::size_t>(image.width) * image.layout.channels;
    const bool bitmap = image.layout.bits == 1;
    if (bitmap) std::memset(row, 0, bytes);
    for (std::size_t i = 0; i < samples; ++i) {
      unsigned value = 0;
      if (const statut_image s = read_plain_sample(stream, bitmap, &value); s != IMAGE_OK) return s;
      if (bitmap) {
        if (value > 1) return IMAGE_DONNEES_ENDOMMAGEES;
        row[i / 8] = static_cast<unsigned char>(row[i / 8] | (value << (7 - i % 8)));
      } else {
        row[2 * i] = static_cast<unsigned char>(value >> 8);
        row[2 * i + 1] = static_cast<unsigned char>(value & 0xff);
      }
    }
  }
  return IMAGE_OK;
}

// A sample above the maximum value is no sample of the file: netpbm refuses it too.
bool within_maximum(const Samples& layout, const unsigned char* row, std::size_t samples) {
  if (layout.bits == 1 || layout.maximum == (layout.bits == 16 ? 65535 : 255)) return true;
  for (std::size_t i = 0; i < samples; ++i) {
    const unsigned v = layout.bits == 16 ? (row[2 * i] << 8) | row[2 * i + 1] : row[i];
    if (v > static_cast<unsigned>(layout.maximum)) return false;
  }
  return true;
}

// Whether a regular file holds fewer bytes than the least its header announces: a raw raster
// exactly, a plain one at least a character a sample. A file of a few bytes that claims gigabytes
// is refused before its size is given, so that no caller reserves memory for it.
bool shorter_than_announced(std::FILE* stream, const Image& image, std::size_t raw_row_bytes) {
  struct stat about;
  const long at = std::ftell(stream);
  if (at < 0 || fstat(fileno(stream), &about) != 0 || !S_ISREG(about.st_mode)) return false;
  const std::int64_t left = std::int64_t{about.st_size} - at;
  // The dimensions were accepted: at most 2^31 pixels, so neither product passes 2^35.
  const std::int64_t least = image.plain ? image.height * image.width * image.layout.channels
                                         : image.height * static_cast<std::int64_t>(raw_row_bytes);
  return left < least;
}

}  // namespace

statut_image read_netpbm(std::FILE* stream, int page, Destination* to) {
  const int p = std::getc(stream);
  const int digit = std::getc(stream);
  if (p != 'P' || digit < '1' || digit > '7') return IMAGE_FORMAT_INCONNU;
  Image image;
  statut_image status =
      digit == '7' ? read_pam_header(stream, &image) : read_classic_header(stream, digit, &image);
  if (status != IMAGE_OK) return status;
  if (image.maximum < 1 || image.maximum > 65535) return IMAGE_DONNEES_ENDOMMAGEES;
  if (page != 0) return IMAGE_PAGE_ABSENTE;
  Samples layout = image.layout;
  layout.maximum = static_cast<int>(image.maximum);
  status = accept_dimensions(image.height, image.width, to);
  if (status != IMAGE_OK && status != IMAGE_TAMPON_TROP_PETIT) return status;
  if (shorter_than_announced(stream, image, row_bytes(layout, image.width))) {
    return IMAGE_ERREUR_DE_LECTURE;
  }
  if (status != IMAGE_OK) return status;
  // A plain file's samples are read as two bytes each, big-endian.
  if (image.plain && layout.bits != 1) layout.bits = 16;
  const std::size_t bytes = row_bytes(layout, image.width);
  if (bytes == 0) return IMAGE_TAILLE_HORS_LIMITES;
  try {
    std::vector<unsigned char> row(bytes);
    const std::size_t width = static_cast<std::size_t>(image.width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y) {
      status = read_row(stream, image, row.data(), bytes);
      if (status != IMAGE_OK) return status;
      if (!within_maximum(layout, row.data(), width * layout.channels)) {
        return IMAGE_DONNEES_ENDOMMAGEES;
      }
      to_grey(layout, row.data(), width, to->image + y * width);
    }
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

statut_image count_one_page(std::FILE*, int* pages) {
  *pages = 1;
  return IMAGE_OK;
}

}  // namespace imagefiles::detail
