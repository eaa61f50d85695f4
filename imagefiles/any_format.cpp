// One way in for every format and one way out for bilevel images: the format of a file read is
// known by its first bytes, that of a file written by its name's extension.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/codecs.h"
#include "imagefiles/extension.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// All that tells the formats apart: the bytes a file starts with, its reader and its page
// counter (none where this build was made without the format's library).
struct Codec {
  const char* magic;
  std::size_t magic_bytes;
  Reader read;
  PageCounter count;
};

#if defined(IMAGEFILES_WITH_PNG)
constexpr Reader png_reader = read_png;
constexpr PageCounter png_counter = count_one_page;
#else
constexpr Reader png_reader = nullptr;
constexpr PageCounter png_counter = nullptr;
#endif
#if defined(IMAGEFILES_WITH_TIFF)
constexpr Reader tiff_reader = read_tiff;
constexpr PageCounter tiff_counter = count_tiff_pages;
#else
constexpr Reader tiff_reader = nullptr;
constexpr PageCounter tiff_counter = nullptr;
#endif
#if defined(IMAGEFILES_WITH_JPEG)
constexpr Reader jpeg_reader = read_jpeg;
constexpr PageCounter jpeg_counter = count_one_page;
#else
constexpr Reader jpeg_reader = nullptr;
constexpr PageCounter jpeg_counter = nullptr;
#endif

const Codec codecs[] = {
    {"P1", 2, read_netpbm, count_one_page},  {"P2", 2, read_netpbm, count_one_page},
    {"P3", 2, read_netpbm, count_one_page},  {"P4", 2, read_netpbm, count_one_page},
    {"P5", 2, read_netpbm, count_one_page},  {"P6", 2, read_netpbm, count_one_page},
    {"P7", 2, read_netpbm, count_one_page},  {"\x89PNG\r\n\x1a\n", 8, png_reader, png_counter},
    {"II*\0", 4, tiff_reader, tiff_counter}, {"MM\0*", 4, tiff_reader, tiff_counter},
    {"II+\0", 4, tiff_reader, tiff_counter},  // BigTIFF
    {"MM\0+", 4, tiff_reader, tiff_counter}, {"\xff\xd8\xff", 3, jpeg_reader, jpeg_counter},
};

// The codec of the file open as `stream`, left at its start; a status when there is none.
statut_image find_codec(std::FILE* stream, const Codec** found) {
  unsigned char start[8];
  const std::size_t got = std::fread(start, 1, sizeof start, stream);
  if (std::ferror(stream)) return IMAGE_ERREUR_DE_LECTURE;
  if (std::fseek(stream, 0, SEEK_SET) != 0) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  bool short_prefix = false;
  for (const Codec& codec : codecs) {
    const std::size_t n = codec.magic_bytes < got ? codec.magic_bytes : got;
    if (std::memcmp(start, codec.magic, n) != 0) continue;
    if (n < codec.magic_bytes) {
      short_prefix = true;  // the start of a known format, cut short
      continue;
    }
    *found = &codec;
    return codec.read == nullptr ? IMAGE_FORMAT_NON_PRIS_EN_CHARGE : IMAGE_OK;
  }
  return short_prefix || got == 0 ? IMAGE_ERREUR_DE_LECTURE : IMAGE_FORMAT_INCONNU;
}

enum class Output { bitmap, greymap, png, tiff, unknown };

Output output_of(const char* name) {
  const std::string text = name;
  if (ends_with(text, ".pbm")) return Output::bitmap;
  if (ends_with(text, ".pgm")) return Output::greymap;
  if (ends_with(text, ".png")) return Output::png;
  if (ends_with(text, ".tif") || ends_with(text, ".tiff")) return Output::tiff;
  return Output::unknown;
}

// One page, for the multi-page writer.
struct SinglePage {
  const unsigned char* image;
  int rows;
  int columns;
};

statut_image give_single_page(void* context, int, const unsigned char** image, int* rows,
                              int* columns) {
  const auto* page = static_cast<const SinglePage*>(context);
  *image = page->image;
  *rows = page->rows;
  *columns = page->columns;
  return IMAGE_OK;
}

// Encodes the pages in the format of `output` and writes them the loss-free way.
statut_image write_encoded(const char* name, Output output, const PageSource& source) {
  std::vector<unsigned char> file;
  statut_image status = IMAGE_FORMAT_NON_PRIS_EN_CHARGE;
  try {
#if defined(IMAGEFILES_WITH_TIFF)
    if (output == Output::tiff) status = encode_tiff_bilevel(source, &file);
#endif
#if defined(IMAGEFILES_WITH_PNG)
    if (output == Output::png) {
      const unsigned char* image = nullptr;
      int rows = 0;
      int columns = 0;
      status = source.page(source.context, 0, &image, &rows, &columns);
      if (status == IMAGE_OK) status = encode_png_bilevel(image, rows, columns, &file);
    }
#endif
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  (void)source;
  if (status != IMAGE_OK) return status;
  return write_file(name, nullptr, 0, file.data(), file.size());
}

}  // namespace

statut_image open_image(const char* name, File* file) {
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_LECTURE;
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return open_failure(IMAGE_PAS_D_ACCES_EN_LECTURE);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return IMAGE_ERREUR_DE_LECTURE;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    ::close(fd);
    return IMAGE_PAS_D_ACCES_EN_LECTURE;
  }
  ::fcntl(fd, F_SETFL, O_RDONLY);
  file->reset(::fdopen(fd, "rb"));
  if (!*file) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return open_failure(IMAGE_PAS_D_ACCES_EN_LECTURE);
  }
  return IMAGE_OK;
}

statut_image read_any(std::FILE* stream, int page, Destination* to) {
  const Codec* codec = nullptr;
  if (const statut_image status = find_codec(stream, &codec); status != IMAGE_OK) return status;
  if (page < 0) return IMAGE_PAGE_ABSENTE;
  return codec->read(stream, page, to);
}

statut_image count_any(std::FILE* stream, int* pages) {
  const Codec* codec = nullptr;
  if (const statut_image status = find_codec(stream, &codec); status != IMAGE_OK) return status;
  return codec->count(stream, pages);
}

}  // namespace imagefiles::detail

using imagefiles::detail::Destination;

statut_image charger_image_grise(const char* nom, int page, unsigned char* image, size_t taille,
                                 int* nb_lignes, int* nb_colonnes) {
  imagefiles::detail::File file;
  if (const statut_image status = imagefiles::detail::open_image(nom, &file); status != IMAGE_OK) {
    return status;
  }
  Destination to;
  to.image = image;
  to.capacity = image == nullptr ? 0 : taille;
  const statut_image status = imagefiles::detail::read_any(file.get(), page, &to);
  if (status == IMAGE_OK || status == IMAGE_TAMPON_TROP_PETIT) {
    if (nb_lignes != nullptr) *nb_lignes = to.rows;
    if (nb_colonnes != nullptr) *nb_colonnes = to.columns;
  }
  return status;
}

statut_image compter_pages(const char* nom, int* nb_pages) {
  if (nb_pages == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  imagefiles::detail::File file;
  if (const statut_image status = imagefiles::detail::open_image(nom, &file); status != IMAGE_OK) {
    return status;
  }
  int pages = 0;
  const statut_image status = imagefiles::detail::count_any(file.get(), &pages);
  if (status == IMAGE_OK) *nb_pages = pages;
  return status;
}

statut_image enregistrer_image_binaire(const char* nom, const unsigned char* image, int nb_lignes,
                                       int nb_colonnes) {
  using imagefiles::detail::Output;
  if (nb_lignes < 1 || nb_colonnes < 1 ||
      !imagefiles::detail::raster_bytes(std::int64_t{nb_lignes} * nb_colonnes,
                                        imagefiles::detail::greymap)) {
    return IMAGE_TAILLE_HORS_LIMITES;
  }
  if (nom == nullptr) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  if (image == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  const Output output = imagefiles::detail::output_of(nom);
  switch (output) {
    case Output::bitmap:
      return enregistrer_image_pbm(nom, image, nb_lignes, nb_colonnes);
    case Output::greymap:
      try {
        // Black below 128, as in a bitmap.
        const std::size_t count = std::size_t(nb_lignes) * std::size_t(nb_colonnes);
        std::vector<unsigned char> levels(count);
        binariser(levels.data(), image, count, 128);
        return enregistrer_image_pgm(nom, levels.data(), nb_lignes, nb_colonnes);
      } catch (const std::bad_alloc&) {
        return IMAGE_MEMOIRE_INSUFFISANTE;
      }
    case Output::png:
    case Output::tiff: {
      imagefiles::detail::SinglePage page{image, nb_lignes, nb_colonnes};
      return imagefiles::detail::write_encoded(nom, output,
                                               {1, imagefiles::detail::give_single_page, &page});
    }
    case Output::unknown:
      break;
  }
  return IMAGE_FORMAT_INCONNU;
}

statut_image enregistrer_pages_binaires(const char* nom, int nb_pages,
                                        page_binaire_suivante page_suivante, void* contexte) {
  using imagefiles::detail::Output;
  if (nom == nullptr) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  if (page_suivante == nullptr || nb_pages < 1) return IMAGE_PARAMETRE_INVALIDE;
  if (imagefiles::detail::output_of(nom) != Output::tiff) return IMAGE_FORMAT_INCONNU;
  return imagefiles::detail::write_encoded(nom, Output::tiff, {nb_pages, page_suivante, contexte});
}
