// The one rule that turns the pixels of every format into an 8-bit greymap, and the one check of
// the dimensions a file declares (and the formats decoded in rows, read whole through it).

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "imagefiles/codecs.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {

statut_image accept_dimensions(std::int64_t rows, std::int64_t columns, Destination* to) {
  if (rows < 1 || columns < 1 || rows > INT_MAX || columns > INT_MAX) {
    return IMAGE_TAILLE_HORS_LIMITES;
  }
  const std::optional<std::size_t> bytes = raster_bytes(rows * columns, greymap);
  if (!bytes) return IMAGE_TAILLE_HORS_LIMITES;
  to->rows = static_cast<int>(rows);
  to->columns = static_cast<int>(columns);
  if (to->image == nullptr || *bytes > to->capacity) return IMAGE_TAMPON_TROP_PETIT;
  return IMAGE_OK;
}

statut_image decode_whole(DecoderOpener open, std::FILE* stream, int page, Destination* to) {
  std::unique_ptr<RowDecoder> decoder;
  if (const statut_image opened = open(stream, page, Held::whole, &decoder); opened != IMAGE_OK) {
    return opened;
  }
  if (const statut_image status = accept_dimensions(decoder->rows(), decoder->columns(), to);
      status != IMAGE_OK) {
    return status;
  }
  if (const statut_image read = decoder->next(decoder->rows(), to->image); read != IMAGE_OK) {
    return read;
  }
  return decoder->end();
}

unsigned char luma(unsigned red, unsigned green, unsigned blue) {
  // BT.601's weights 0.299, 0.587, 0.114 in 16-bit fixed point, rounded: Pillow's convert("L").
  return static_cast<unsigned char>((red * 19595u + green * 38470u + blue * 7471u + 0x8000u) >> 16);
}

std::size_t row_bytes(const Samples& layout, std::int64_t pixels) {
  const std::int64_t bits = pixels * layout.channels * layout.bits;
  const std::int64_t bytes = (bits + 7) / 8;
  return bytes > INT_MAX ? 0 : static_cast<std::size_t>(bytes);
}

namespace {

unsigned sample_at(const Samples& layout, const unsigned char* row, std::size_t index) {
  switch (layout.bits) {
    case 16:
      return layout.big_endian ? (row[2 * index] << 8) | row[2 * index + 1]
                               : row[2 * index] | (row[2 * index + 1] << 8);
    case 8:
      return row[index];
    default: {
      const std::size_t bit = index * static_cast<std::size_t>(layout.bits);
      const unsigned shift = 8u - static_cast<unsigned>(layout.bits) - bit % 8;
      return (row[bit / 8] >> shift) & ((1u << layout.bits) - 1);
    }
  }
}

// Composited on white: what shows of `value` at opacity `alpha`, rounded.
unsigned on_white(unsigned value, unsigned alpha, bool premultiplied) {
  if (premultiplied) {
    const unsigned shown = value + 255u - alpha;
    return shown > 255u ? 255u : shown;
  }
  return (value * alpha + 255u * (255u - alpha) + 127u) / 255u;
}

// The general case, a pixel at a time.
void any_to_grey(const Samples& layout, const unsigned char* row, std::size_t pixels,
                 unsigned char* grey) {
  const std::size_t channels = static_cast<std::size_t>(layout.channels);
  const std::size_t colours = layout.alpha ? channels - 1 : channels;
  const unsigned maximum = static_cast<unsigned>(layout.maximum);
  for (std::size_t x = 0; x < pixels; ++x) {
    unsigned value[4] = {0, 0, 0, 255};
    for (std::size_t c = 0; c < channels; ++c) {
      const unsigned raw = sample_at(layout, row, x * channels + c);
      value[c] = maximum == 255 ? raw : scale_to_byte(raw > maximum ? maximum : raw, maximum);
    }
    if (layout.palette_grey != nullptr) {
      grey[x] = layout.palette_grey[sample_at(layout, row, x)];
      continue;
    }
    if (layout.min_is_white) value[0] = 255u - value[0];
    if (layout.alpha) {
      for (std::size_t c = 0; c < colours; ++c) {
        value[c] = on_white(value[c], value[colours], layout.premultiplied);
      }
    }
    grey[x] =
        colours >= 3 ? luma(value[0], value[1], value[2]) : static_cast<unsigned char>(value[0]);
  }
}

}  // namespace

void to_grey(const Samples& layout, const unsigned char* row, std::size_t pixels,
             unsigned char* grey) {
  const bool plain =
      !layout.alpha && layout.palette_grey == nullptr && layout.maximum == 255 && layout.bits == 8;
  // The common scans and photos, in loops that the compiler vectorises.
  if (plain && layout.channels == 1) {
    if (!layout.min_is_white) {
      std::memcpy(grey, row, pixels);
    } else {
      for (std::size_t x = 0; x < pixels; ++x) grey[x] = static_cast<unsigned char>(255 - row[x]);
    }
    return;
  }
  if (plain && layout.channels == 3) {
    for (std::size_t x = 0; x < pixels; ++x) {
      grey[x] = luma(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    }
    return;
  }
  if (layout.bits == 1 && layout.channels == 1 && layout.palette_grey == nullptr) {
    const unsigned char clear = layout.min_is_white ? 255 : 0;  // a bit 0
    for (std::size_t x = 0; x < pixels; ++x) {
      const bool set = (row[x / 8] & (0x80 >> (x % 8))) != 0;
      grey[x] = set ? static_cast<unsigned char>(255 - clear) : clear;
    }
    return;
  }
  any_to_grey(layout, row, pixels, grey);
}

}  // namespace imagefiles::detail
