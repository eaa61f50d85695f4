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
#include <memory>
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
  ReplacementFile* file = nullptr;  // written to instead of `output`
  bool write_failed = false;
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

// A page's rows: libpng's structures and the row they decode into, owned here; each call that
// may jump sets its target in a function whose locals are plain values.
class PngDecoder : public RowDecoder {
 public:
  explicit PngDecoder(std::FILE* stream) : structs_(&session_) { session_.stream = stream; }

  statut_image open(int page, Held held) {
    if (structs_.info == nullptr) return IMAGE_MEMOIRE_INSUFFISANTE;
    png_set_read_fn(structs_.png, &session_, read_bytes);
    if (!read_header(structs_.png, structs_.info, &shape_)) return failure();
    if (page != 0) return IMAGE_PAGE_ABSENTE;
    if (shape_.width < 1 || shape_.height < 1 || shape_.width > INT32_MAX ||
        shape_.height > INT32_MAX || !checked_sizes(shape_.height, shape_.width, greymap, held)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    rows_ = static_cast<int>(shape_.height);
    columns_ = static_cast<int>(shape_.width);
    layout_.bits = shape_.bits;
    layout_.channels = shape_.channels;
    layout_.maximum = (1 << shape_.bits) - 1;
    layout_.alpha = shape_.channels == 2 || shape_.channels == 4;
    // An interlaced image's passes fill the whole raw image in turn.
    const std::int64_t raw_rows = shape_.passes > 1 ? shape_.height : 1;
    if (!raster_bytes(raw_rows * static_cast<std::int64_t>(shape_.row_bytes), greymap)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    raw_bytes_ = static_cast<std::size_t>(raw_rows) * shape_.row_bytes;
    return IMAGE_OK;
  }

  statut_image next(int count, unsigned char* grey) override {
    // Reserved at the first row: a caller that only asks the dimensions costs nothing.
    if (raw_.size() < raw_bytes_) {
      try {
        raw_.resize(raw_bytes_);
      } catch (const std::bad_alloc&) {
        return IMAGE_MEMOIRE_INSUFFISANTE;
      }
    }
    if (!read_rows(count, grey)) return failure();
    return IMAGE_OK;
  }

  statut_image end() override {
    if (!read_end(structs_.png)) return failure();
    return IMAGE_OK;
  }

 private:
  statut_image failure() const {
    return session_.truncated ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
  }

  bool read_rows(int count, unsigned char* grey) {
    if (setjmp(png_jmpbuf(structs_.png)) != 0) return false;
    const std::size_t width = shape_.width;
    const bool whole = shape_.passes > 1;
    if (whole && next_row_ == 0) {
      for (int pass = 0; pass < shape_.passes; ++pass) {
        for (std::size_t y = 0; y < shape_.height; ++y) {
          png_read_row(structs_.png, raw_.data() + y * shape_.row_bytes, nullptr);
        }
      }
    }
    for (int r = 0; r < count; ++r, ++next_row_) {
      unsigned char* row = raw_.data();
      if (whole) {
        row += static_cast<std::size_t>(next_row_) * shape_.row_bytes;
      } else {
        png_read_row(structs_.png, row, nullptr);
      }
      to_grey(layout_, row, width, grey + static_cast<std::size_t>(r) * width);
    }
    return true;
  }

  // The chunks after the image, up to the end: a file cut after its pixels is cut all the same.
  static bool read_end(png_structp png) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_read_end(png, nullptr);
    return true;
  }

  Session session_;
  Structs<Direction::read> structs_;
  Shape shape_{};
  Samples layout_;
  std::vector<unsigned char> raw_;
  std::size_t raw_bytes_ = 0;
  int next_row_ = 0;
};

// Bytes to a file being made, or appended to a buffer, as libpng gives them.
void write_to_sink(png_structp png, png_bytep data, png_size_t length) {
  auto* session = static_cast<Session*>(png_get_io_ptr(png));
  if (session->file != nullptr) {
    if (session->file->write(data, length) != IMAGE_OK) {
      session->write_failed = true;
      png_error(png, "write");
    }
    return;
  }
  write_bytes(png, data, length);
}

// A 1-bit grey PNG written a row at a time.
class PngEncoder : public BilevelEncoder {
 public:
  explicit PngEncoder(ByteSink sink) : structs_(&session_) {
    session_.output = sink.buffer;
    session_.file = sink.file;
  }

  statut_image begin(int rows, int columns) {
    if (structs_.info == nullptr) return IMAGE_MEMOIRE_INSUFFISANTE;
    png_set_write_fn(structs_.png, &session_, write_to_sink, flush_nothing);
    return write_header(structs_.png, structs_.info, rows, columns) ? IMAGE_OK : failure();
  }
  statut_image row(const unsigned char* bits) override {
    return write_row(structs_.png, bits) ? IMAGE_OK : failure();
  }
  statut_image finish() override { return write_end(structs_.png) ? IMAGE_OK : failure(); }

 private:
  statut_image failure() const {
    return session_.out_of_memory ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_ERREUR_D_ECRITURE;
  }

  static bool write_header(png_structp png, png_infop info, int rows, int columns) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(columns), static_cast<png_uint_32>(rows), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Filters gain little on bilevel rows and cost time.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    // A packed row's 1 is black; a 1-bit grey PNG's 1 is white.
    png_set_invert_mono(png);
    return true;
  }
  static bool write_row(png_structp png, const unsigned char* bits) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_write_row(png, bits);
    return true;
  }
  static bool write_end(png_structp png) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_write_end(png, nullptr);
    return true;
  }

  Session session_;
  Structs<Direction::write> structs_;
};

}  // namespace

statut_image open_png_rows(std::FILE* stream, int page, Held held,
                           std::unique_ptr<RowDecoder>* decoder) {
  return started([&] { return std::make_unique<PngDecoder>(stream); },
                 [&](PngDecoder& png) { return png.open(page, held); }, decoder);
}

statut_image read_png(std::FILE* stream, int page, Destination* to) {
  return decode_whole(open_png_rows, stream, page, to);
}

statut_image begin_png_bilevel(ByteSink sink, int rows, int columns,
                               std::unique_ptr<BilevelEncoder>* encoder) {
  return started([&] { return std::make_unique<PngEncoder>(sink); },
                 [&](PngEncoder& png) { return png.begin(rows, columns); }, encoder);
}

statut_image encode_png_bilevel(const unsigned char* image, int rows, int columns,
                                std::vector<unsigned char>* file) {
  std::unique_ptr<BilevelEncoder> encoder;
  ByteSink sink;
  sink.buffer = file;
  if (const statut_image begun = begin_png_bilevel(sink, rows, columns, &encoder);
      begun != IMAGE_OK) {
    return begun;
  }
  const std::size_t width = static_cast<std::size_t>(columns);
  std::vector<unsigned char> bits((width + 7) / 8);
  for (std::size_t y = 0; y < static_cast<std::size_t>(rows); ++y) {
    pack_row(image + y * width, width, bits.data());
    if (const statut_image written = encoder->row(bits.data()); written != IMAGE_OK) {
      return written;
    }
  }
  return encoder->finish();
}

}  // namespace imagefiles::detail
