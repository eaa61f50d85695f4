// TIFF through libtiff: every page of a file read into a greymap, pages counted from the
// directories alone, and bilevel pages written as one Group 4 file.
//
// libtiff reads and writes through procedures of this file (an open stream, or a growing buffer
// for a file being made), and its errors and warnings come to a handler of the one open file,
// which records them: nothing is printed, and no other user of libtiff in the process is touched.

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// The file behind a TIFF handle: a stream being read, or a buffer being written.
struct Client {
  std::FILE* stream = nullptr;
  std::vector<unsigned char>* buffer = nullptr;
  std::uint64_t position = 0;  // in the buffer
  std::uint64_t size = 0;      // of the stream, known at opening
  bool short_read = false;     // a read went past the end of the file
  bool failed = false;         // libtiff reported an error
  bool out_of_memory = false;  // the buffer could not grow
};

Client* client_of(thandle_t handle) {
  return static_cast<Client*>(handle);
}

tmsize_t read_proc(thandle_t handle, void* data, tmsize_t size) {
  Client* c = client_of(handle);
  if (c->stream != nullptr) {
    const std::size_t got = std::fread(data, 1, static_cast<std::size_t>(size), c->stream);
    if (got < static_cast<std::size_t>(size)) c->short_read = true;
    return static_cast<tmsize_t>(got);
  }
  const std::uint64_t left = c->buffer->size() - c->position;
  const std::uint64_t n = static_cast<std::uint64_t>(size) < left ? size : left;
  std::memcpy(data, c->buffer->data() + c->position, n);
  c->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t write_proc(thandle_t handle, void* data, tmsize_t size) {
  Client* c = client_of(handle);
  if (c->buffer == nullptr) return 0;
  const std::uint64_t end = c->position + static_cast<std::uint64_t>(size);
  try {
    if (end > c->buffer->size()) c->buffer->resize(end);
  } catch (const std::bad_alloc&) {
    c->out_of_memory = true;
    return 0;
  }
  std::memcpy(c->buffer->data() + c->position, data, static_cast<std::size_t>(size));
  c->position = end;
  return size;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  Client* c = client_of(handle);
  if (c->stream != nullptr) {
    if (offset > static_cast<toff_t>(INT64_MAX) ||
        fseeko(c->stream, static_cast<off_t>(offset), whence) != 0) {
      return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(ftello(c->stream));
  }
  const std::uint64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? c->position
                                                  : c->buffer->size();
  c->position = base + offset;
  return c->position;
}

int close_proc(thandle_t) {
  return 0;
}

toff_t size_proc(thandle_t handle) {
  Client* c = client_of(handle);
  return c->stream != nullptr ? c->size : c->buffer->size();
}

int map_proc(thandle_t, void**, toff_t*) {
  return 0;
}

void unmap_proc(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user_data, const char*, const char*, va_list) {
  static_cast<Client*>(user_data)->failed = true;
  return 1;  // handled: libtiff's own handler prints nothing
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* tiff) const noexcept { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const noexcept { TIFFOpenOptionsFree(options); }
};

Tiff open_tiff(Client* client, const char* mode) {
  const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), on_error, client);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), on_warning, client);
  return Tiff(TIFFClientOpenExt("image", mode, client, read_proc, write_proc, seek_proc, close_proc,
                                size_proc, map_proc, unmap_proc, options.get()));
}

statut_image open_for_reading(std::FILE* stream, Client* client, Tiff* tiff) {
  client->stream = stream;
  if (fseeko(stream, 0, SEEK_END) != 0) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  client->size = static_cast<std::uint64_t>(ftello(stream));
  std::rewind(stream);
  // "m": no memory mapping, every byte through read_proc.
  *tiff = open_tiff(client, "rm");
  if (*tiff) return IMAGE_OK;
  return client->short_read ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
}

statut_image failure(const Client& client) {
  return client.short_read ? IMAGE_ERREUR_DE_LECTURE : IMAGE_DONNEES_ENDOMMAGEES;
}

// The samples of the current page, as libtiff decodes them; a status for what is not read.
statut_image layout_of(TIFF* tiff, Samples* layout, std::vector<unsigned char>* palette) {
  std::uint16_t bits = 1, channels = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
  std::uint16_t format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 0) return IMAGE_DONNEES_ENDOMMAGEES;
  if (format != SAMPLEFORMAT_UINT || (planar != PLANARCONFIG_CONTIG && channels > 1) ||
      (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) ||
      TIFFIsCODECConfigured(compression) == 0) {
    return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
  }
  int colours = 1;
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
      layout->min_is_white = true;
      break;
    case PHOTOMETRIC_MINISBLACK:
      break;
    case PHOTOMETRIC_RGB:
      colours = 3;
      break;
    case PHOTOMETRIC_YCBCR:
      // libjpeg converts a JPEG-compressed page to RGB; other YCbCr pages are rare.
      if (compression != COMPRESSION_JPEG) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
      TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      colours = 3;
      break;
    case PHOTOMETRIC_PALETTE: {
      std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
      if (bits > 8 || TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) == 0) {
        return IMAGE_DONNEES_ENDOMMAGEES;
      }
      palette->assign(256, 0);
      for (int i = 0; i < (1 << bits); ++i) {
        (*palette)[i] = luma(scale_to_byte(red[i], 65535), scale_to_byte(green[i], 65535),
                             scale_to_byte(blue[i], 65535));
      }
      layout->palette_grey = palette->data();
      break;
    }
    default:
      return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;  // CMYK, Lab...
  }
  if (channels < colours || channels > colours + 1) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
  if (channels == colours + 1) {
    std::uint16_t extras = 0;
    std::uint16_t* kinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds) != 0 && extras == 1) {
      layout->alpha = kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA;
      layout->premultiplied = kinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    if (layout->palette_grey != nullptr) return IMAGE_VARIANTE_NON_PRISE_EN_CHARGE;
  }
  layout->bits = bits;
  layout->channels = channels;
  layout->maximum = (1 << bits) - 1;
  layout->big_endian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;  // libtiff gives the host's order
  return IMAGE_OK;
}

// Every strip or tile lies within the file: one that claims more would be read from nothing.
statut_image check_pieces(TIFF* tiff, std::uint64_t file_size) {
  const std::uint32_t pieces =
      TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  for (std::uint32_t i = 0; i < pieces; ++i) {
    int missing = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &missing);
    const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff, i, &missing);
    if (missing != 0) return IMAGE_DONNEES_ENDOMMAGEES;
    if (bytes == 0) continue;
    if (offset >= file_size) return IMAGE_DONNEES_ENDOMMAGEES;
    if (bytes > file_size - offset) return IMAGE_ERREUR_DE_LECTURE;
  }
  return IMAGE_OK;
}

// Decodes the page strip by strip or tile by tile into `grey` (width x height).
statut_image decode(TIFF* tiff, const Client& client, const Samples& layout, std::uint32_t width,
                    std::uint32_t height, unsigned char* grey) {
  const bool tiled = TIFFIsTiled(tiff) != 0;
  const std::uint64_t piece_bytes = tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
  if (piece_bytes == 0) return IMAGE_DONNEES_ENDOMMAGEES;
  if (!raster_bytes(static_cast<std::int64_t>(piece_bytes), greymap)) {
    return IMAGE_TAILLE_HORS_LIMITES;
  }
  std::vector<unsigned char> piece;
  try {
    piece.resize(piece_bytes);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  const tmsize_t wanted = static_cast<tmsize_t>(piece_bytes);
  if (!tiled) {
    std::uint32_t strip_rows = height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &strip_rows);
    if (strip_rows == 0 || strip_rows > height) strip_rows = height;
    const std::uint64_t row_bytes = TIFFScanlineSize64(tiff);
    for (std::uint32_t y = 0; y < height; y += strip_rows) {
      const std::uint32_t rows = height - y < strip_rows ? height - y : strip_rows;
      const tmsize_t got =
          TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y, 0), piece.data(), wanted);
      if (got < 0 || static_cast<std::uint64_t>(got) < rows * row_bytes) return failure(client);
      for (std::uint32_t r = 0; r < rows; ++r) {
        to_grey(layout, piece.data() + r * row_bytes, width,
                grey + (static_cast<std::size_t>(y) + r) * width);
      }
    }
    return client.failed ? failure(client) : IMAGE_OK;
  }
  std::uint32_t tile_width = 0, tile_height = 0;
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tile_width);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tile_height);
  const std::uint64_t row_bytes = TIFFTileRowSize64(tiff);
  if (tile_width == 0 || tile_height == 0 || row_bytes == 0) return IMAGE_DONNEES_ENDOMMAGEES;
  for (std::uint32_t y = 0; y < height; y += tile_height) {
    for (std::uint32_t x = 0; x < width; x += tile_width) {
      if (TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, 0), piece.data(), wanted) < 0) {
        return failure(client);
      }
      const std::uint32_t rows = height - y < tile_height ? height - y : tile_height;
      const std::uint32_t columns = width - x < tile_width ? width - x : tile_width;
      for (std::uint32_t r = 0; r < rows; ++r) {
        to_grey(layout, piece.data() + r * row_bytes, columns,
                grey + (static_cast<std::size_t>(y) + r) * width + x);
      }
    }
  }
  return client.failed ? failure(client) : IMAGE_OK;
}

}  // namespace

statut_image read_tiff(std::FILE* stream, int page, Destination* to) {
  Client client;
  Tiff tiff;
  if (const statut_image status = open_for_reading(stream, &client, &tiff); status != IMAGE_OK) {
    return status;
  }
  if (page > 0 && TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(page)) == 0) {
    return client.short_read || TIFFNumberOfDirectories(tiff.get()) > static_cast<tdir_t>(page)
               ? failure(client)
               : IMAGE_PAGE_ABSENTE;
  }
  std::uint32_t width = 0, height = 0;
  if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) == 0 ||
      TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) == 0) {
    return IMAGE_DONNEES_ENDOMMAGEES;
  }
  // A size beyond the limit first, then what cannot be read, before the size is given: the caller
  // allocates nothing for a file that will fail.
  if (Destination probe; accept_dimensions(height, width, &probe) == IMAGE_TAILLE_HORS_LIMITES) {
    return IMAGE_TAILLE_HORS_LIMITES;
  }
  Samples layout;
  std::vector<unsigned char> palette;
  try {
    if (const statut_image status = layout_of(tiff.get(), &layout, &palette); status != IMAGE_OK) {
      return status;
    }
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  if (const statut_image status = check_pieces(tiff.get(), client.size); status != IMAGE_OK) {
    return status;
  }
  if (const statut_image status = accept_dimensions(height, width, to); status != IMAGE_OK) {
    return status;
  }
  return decode(tiff.get(), client, layout, width, height, to->image);
}

statut_image count_tiff_pages(std::FILE* stream, int* pages) {
  Client client;
  Tiff tiff;
  if (const statut_image status = open_for_reading(stream, &client, &tiff); status != IMAGE_OK) {
    return status;
  }
  const tdir_t count = TIFFNumberOfDirectories(tiff.get());
  if (count == 0 || count > INT32_MAX) return IMAGE_DONNEES_ENDOMMAGEES;
  *pages = static_cast<int>(count);
  return IMAGE_OK;
}

statut_image encode_tiff_bilevel(const PageSource& source, std::vector<unsigned char>* file) {
  Client client;
  client.buffer = file;
  Tiff tiff = open_tiff(&client, "w");
  if (!tiff) return client.out_of_memory ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_ERREUR_D_ECRITURE;
  std::vector<unsigned char> bits;
  for (int page = 0; page < source.pages; ++page) {
    const unsigned char* image = nullptr;
    int rows = 0;
    int columns = 0;
    const statut_image status = source.page(source.context, page, &image, &rows, &columns);
    if (status != IMAGE_OK) return status;
    if (image == nullptr) return IMAGE_PARAMETRE_INVALIDE;
    if (rows < 1 || columns < 1 || !raster_bytes(std::int64_t{rows} * columns, greymap)) {
      return IMAGE_TAILLE_HORS_LIMITES;
    }
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(columns));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);  // 1 is black, as packed
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rows));
    if (source.pages > 1) {
      TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page),
                   static_cast<std::uint16_t>(source.pages));
    }
    const std::size_t width = static_cast<std::size_t>(columns);
    bits.assign((width + 7) / 8, 0);
    for (int y = 0; y < rows; ++y) {
      pack_row(image + static_cast<std::size_t>(y) * width, width, bits.data());
      if (TIFFWriteScanline(t, bits.data(), static_cast<std::uint32_t>(y), 0) < 0) break;
    }
    if (client.failed || TIFFWriteDirectory(t) == 0) break;
  }
  tiff.reset();  // writes what is left
  if (client.out_of_memory) return IMAGE_MEMOIRE_INSUFFISANTE;
  return client.failed ? IMAGE_ERREUR_D_ECRITURE : IMAGE_OK;
}

}  // namespace imagefiles::detail
