// JPEG through libjpeg: grey and colour files, baseline or progressive, read into a greymap.
//
// libjpeg reports an error by a long jump, from its error_exit routine. The calls that may jump
// are made from functions of this file that set the jump's target and whose locals are plain
// values; the decompressor and the row buffer belong to the caller, which releases them after.

#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <new>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;  // first: libjpeg sees only this part
  std::jmp_buf jump;
  bool truncated;
};

void on_error(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings are not printed. The one that says the data ended early (libjpeg then makes up the
// rest of the image in grey) makes the file a truncated one.
void on_message(j_common_ptr info, int level) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  if (level < 0 && errors->base.msg_code == JWRN_JPEG_EOF) errors->truncated = true;
}

struct Decompressor {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  Decompressor() {
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = on_error;
    errors.base.emit_message = on_message;
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  ~Decompressor() { jpeg_destroy_decompress(&info); }
};

// Creates the decompressor and reads the header. False on an error.
bool read_header(Decompressor* d, std::FILE* stream) {
  if (setjmp(d->errors.jump) != 0) return false;
  jpeg_create_decompress(&d->info);
  jpeg_stdio_src(&d->info, stream);
  jpeg_read_header(&d->info, TRUE);
  return true;
}

// Decodes the rows into `row` (one at a time) and makes grey of them. False on an error.
bool read_rows(Decompressor* d, const Samples* layout, unsigned char* row, unsigned char* grey) {
  if (setjmp(d->errors.jump) != 0) return false;
  jpeg_start_decompress(&d->info);
  const std::size_t width = d->info.output_width;
  while (d->info.output_scanline < d->info.output_height && !d->errors.truncated) {
    const std::size_t y = d->info.output_scanline;
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&d->info, rows, 1);
    to_grey(*layout, row, width, grey + y * width);
  }
  if (!d->errors.truncated) jpeg_finish_decompress(&d->info);
  return true;
}

}  // namespace

statut_image read_jpeg(std::FILE* stream, int page, Destination* to) {
  Decompressor d;
  if (!read_header(&d, stream)) {
    return d.errors.truncated ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
  }
  if (page != 0) return IMAGE_PAGE_ABSENTE;
  Samples layout;
  switch (d.info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      d.info.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      d.info.out_color_space = JCS_RGB;
      layout.channels = 3;
      break;
    default:
      return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;  // CMYK and YCCK
  }
  if (const statut_image status = accept_dimensions(d.info.image_height, d.info.image_width, to);
      status != IMAGE_OK) {
    return status;
  }
  std::vector<unsigned char> row;
  try {
    row.resize(static_cast<std::size_t>(d.info.image_width) * layout.channels);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  if (!read_rows(&d, &layout, row.data(), to->image)) return IMAGE_DONNEES_ENDOMMAGEES;
  return d.errors.truncated ? IMAGE_ERREUR_DE_LECTURE : IMAGE_OK;
}

}  // namespace imagefiles::detail
