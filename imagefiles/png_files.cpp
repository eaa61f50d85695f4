// PNG through libpng: every colour type read into a greymap, and bilevel images written as 1-bit
// grey PNG.
//
// libpng reports an error by a long jump. Every call that may jump is made from a function of
// this file that sets the jump's target and whose locals are plain values: the jump never
// crosses a frame that owns memory, a stream or the library's structures, which the callers own
// and release after the function returned.

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// What libpng's callbacks need, and what they found: plain data, shared through libpng.
struct Session {
  std::FILE* stream = nullptr;
  std::vector<unsigned char>* output = nullptr;
  bool truncated = false;      // the file ended early
  bool out_of_memory = false;  // an output could not grow
};

void on_error(png_structp png, png_const_charp) {
  // No message is printed: the status says what went wrong.
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep data, png_size_t length) {
  auto* session = static_cast<Session*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, session->stream) != length) {
    session->truncated = true;
    png_error(png, "end of file");
  }
}

void write_bytes(png_structp png, png_bytep data, png_size_t length) {
  auto* session = static_cast<Session*>(png_get_io_ptr(png));
  bool grown = true;
  try {
    session->output->insert(session->output->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    grown = false;
  }
  if (!grown) {
    session->out_of_memory = true;
    png_error(png, "out of memory");
  }
}

void flush_nothing(png_structp) {}

// libpng's structures of one read or one write, released whatever happens.
enum class Direction { read, write };

template <Direction direction>
struct Structs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Structs(const Structs&) = delete;
  Structs& operator=(const Structs&) = delete;
  explicit Structs(Session* session) {
    png = direction == Direction::read
              ? png_create_read_struct(PNG_LIBPNG_VER_STRING, session, on_error, on_warning)
              : png_create_write_struct(PNG_LIBPNG_VER_STRING, session, on_error, on_warning);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~Structs() {
    if (direction == Direction::read) {
      png_destroy_read_struct(&png, &info, nullptr);
    } else {
      png_destroy_write_struct(&png, &info);
    }
  }
};

// The header, once libpng's transforms leave 8 or 16-bit grey, grey and alpha, RGB or RGBA.
struct Shape {
  png_uint_32 width;
  png_uint_32 height;
  int bits;
  int channels;
  int passes;
  png_size_t row_bytes;
};

// Reads the header and sets the transforms. False on an error.
bool read_header(png_structp png, png_infop info, Shape* shape) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_read_info(png, info);
  const int colour_type = png_get_color_type(png, info);
  if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) {
    png_set_expand_gray_1_2_4_to_8(png);
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  shape->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  shape->width = png_get_image_width(png, info);
  shape->height = png_get_image_height(png, info);
  shape->bits = png_get_bit_depth(png, info);
  shape->channels = png_get_channels(png, info);
  shape->row_bytes = png_get_rowbytes(png, info);
  return true;
}

// Reads every row into `raw` (a row, or the whole image when interlaced: the passes fill it in
// turn) and makes grey of it into `grey`. False on an error.
bool read_rows(png_structp png, const Shape* shape, const Samples* layout, unsigned char* raw,
               unsigned char* grey) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  const std::size_t width = shape->width;
  const bool whole = shape->passes > 1;
  for (int pass = 0; pass < shape->passes; ++pass) {
    for (std::size_t y = 0; y < shape->height; ++y) {
      unsigned char* row = whole ? raw + y * shape->row_bytes : raw;
      png_read_row(png, row, nullptr);
      if (!whole) to_grey(*layout, row, width, grey + y * width);
    }
  }
  for (std::size_t y = 0; whole && y < shape->height; ++y) {
    to_grey(*layout, raw + y * shape->row_bytes, width, grey + y * width);
  }
  // The chunks after the image, up to the end: a file cut after its pixels is cut all the same.
  png_read_end(png, nullptr);
  return true;
}

bool write_rows(png_structp png, png_infop info, const unsigned char* image, int rows, int columns,
                unsigned char* bits) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(columns), static_cast<png_uint_32>(rows), 1,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Filters gain little on bilevel rows and cost time.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_write_info(png, info);
  // pack_row sets black pixels; a 1-bit grey PNG's 1 is white.
  png_set_invert_mono(png);
  const std::size_t width = static_cast<std::size_t>(columns);
  for (std::size_t y = 0; y < static_cast<std::size_t>(rows); ++y) {
    pack_row(image + y * width, width, bits);
    png_write_row(png, bits);
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

statut_image read_png(std::FILE* stream, int page, Destination* to) {
  Session session;
  session.stream = stream;
  Structs<Direction::read> structs(&session);
  if (structs.info == nullptr) return IMAGE_MEMOIRE_INSUFFISANTE;
  png_set_read_fn(structs.png, &session, read_bytes);
  Shape shape{};
  if (!read_header(structs.png, structs.info, &shape)) {
    return session.truncated ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
  }
  if (page != 0) return IMAGE_PAGE_ABSENTE;
  if (const statut_image status = accept_dimensions(shape.height, shape.width, to);
      status != IMAGE_OK) {
    return status;
  }
  Samples layout;
  layout.bits = shape.bits;
  layout.channels = shape.channels;
  layout.maximum = (1 << shape.bits) - 1;
  layout.alpha = shape.channels == 2 || shape.channels == 4;
  std::vector<unsigned char> raw;
  try {
    const std::int64_t rows = shape.passes > 1 ? shape.height : 1;
    if (!raster_bytes(rows * static_cast<std::int64_t>(shape.row_bytes), greymap)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    raw.resize(static_cast<std::size_t>(rows) * shape.row_bytes);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  if (!read_rows(structs.png, &shape, &layout, raw.data(), to->image)) {
    return session.truncated ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
  }
  return IMAGE_OK;
}

statut_image encode_png_bilevel(const unsigned char* image, int rows, int columns,
                                std::vector<unsigned char>* file) {
  Session session;
  session.output = file;
  Structs<Direction::write> structs(&session);
  if (structs.info == nullptr) return IMAGE_MEMOIRE_INSUFFISANTE;
  png_set_write_fn(structs.png, &session, write_bytes, flush_nothing);
  std::vector<unsigned char> bits((static_cast<std::size_t>(columns) + 7) / 8);
  if (!write_rows(structs.png, structs.info, image, rows, columns, bits.data())) {
    return session.out_of_memory ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_ERREUR_D_ECRITURE;
  }
  return IMAGE_OK;
}

}  // namespace imagefiles::detail
