// The public file functions: each pairs an operation with a format ("P5" greymap, one byte a
// pixel; "P6" colour, three) and hands both to the one implementation that serves every format.
// The original functions end the process on a failure; the status-returning ones return it.

#include <cstdint>
#include <exception>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

using imagefiles::detail::bitmap;
using imagefiles::detail::colour;
using imagefiles::detail::Format;
using imagefiles::detail::greymap;
using imagefiles::detail::Header;

namespace {

// No exception may leave a function of the C interface: the only ones the standard library throws
// here (std::bad_alloc, std::length_error) say that memory could not be had.
template <typename Operation>
statut_image guarded(Operation operation) noexcept {
  try {
    return operation();
  } catch (const std::exception&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
}

// The original functions end the process with one of their own four messages: a resource that ran
// out is, to them, a file that could not be opened.
void or_end_process(statut_image status, const char* name, statut_image no_access) {
  if (status == IMAGE_OK) return;
  if (status == IMAGE_DESCRIPTEURS_EPUISES || status == IMAGE_MEMOIRE_INSUFFISANTE) {
    status = no_access;
  }
  imagefiles::detail::end_process(status, name);
}

void store(const Header& header, int* rows, int* columns, int* maximum) {
  if (rows != nullptr) *rows = header.height;
  if (columns != nullptr) *columns = header.width;
  if (maximum != nullptr) *maximum = header.maximum;
}

statut_image read_header(const char* name, Format format, int* rows, int* columns, int* maximum) {
  Header header{};
  const statut_image status =
      guarded([&] { return imagefiles::detail::query_header_strict(name, format, &header); });
  if (status == IMAGE_OK) store(header, rows, columns, maximum);
  return status;
}

statut_image load(const char* name, Format format, unsigned char* image, size_t capacity, int* rows,
                  int* columns, int* maximum) {
  if (image == nullptr) capacity = 0;  // a null buffer holds nothing: the dimensions still come
  Header header{};
  const statut_image status = guarded([&] {
    return imagefiles::detail::read_raster_strict(name, format, image, capacity, &header);
  });
  if (status == IMAGE_OK || status == IMAGE_TAMPON_TROP_PETIT) {
    store(header, rows, columns, maximum);
  }
  return status;
}

statut_image save(const char* name, Format format, const unsigned char* image, int rows,
                  int columns) {
  // What the strict readers would refuse is not written. (A bitmap is one byte a pixel in
  // memory, as a greymap.)
  if (!imagefiles::detail::checked_sizes(rows, columns, format)) return IMAGE_TAILLE_HORS_LIMITES;
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  if (image == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  return guarded(
      [&] { return imagefiles::detail::write_raster(name, format, image, rows, columns); });
}

}  // namespace

void lire_nb_lignes_colonnes_image_pgm(const char* nom_image, int* nb_lignes, int* nb_colonnes) {
  or_end_process(guarded([&] {
                   return imagefiles::detail::query_dimensions(nom_image, greymap, nb_lignes,
                                                               nb_colonnes);
                 }),
                 nom_image, IMAGE_PAS_D_ACCES_EN_LECTURE);
}
void lire_nb_lignes_colonnes_image_ppm(const char* nom_image, int* nb_lignes, int* nb_colonnes) {
  or_end_process(guarded([&] {
                   return imagefiles::detail::query_dimensions(nom_image, colour, nb_lignes,
                                                               nb_colonnes);
                 }),
                 nom_image, IMAGE_PAS_D_ACCES_EN_LECTURE);
}

// The greymap count is in bytes, the colour count in pixels: for one byte a pixel they agree.
void lire_image_pgm(const char* nom_image, unsigned char* image, int nb_octets) {
  or_end_process(guarded([&] {
                   return imagefiles::detail::read_raster(nom_image, greymap, image, nb_octets);
                 }),
                 nom_image, IMAGE_PAS_D_ACCES_EN_LECTURE);
}
void lire_image_ppm(const char* nom_image, unsigned char* image, int nb_pixels) {
  or_end_process(
      guarded([&] { return imagefiles::detail::read_raster(nom_image, colour, image, nb_pixels); }),
      nom_image, IMAGE_PAS_D_ACCES_EN_LECTURE);
}

void ecrire_image_pgm(const char* nom_image, const unsigned char* image, int nb_lignes,
                      int nb_colonnes) {
  or_end_process(guarded([&] {
                   return imagefiles::detail::write_raster(nom_image, greymap, image, nb_lignes,
                                                           nb_colonnes);
                 }),
                 nom_image, IMAGE_PAS_D_ACCES_EN_ECRITURE);
}
void ecrire_image_ppm(const char* nom_image, const unsigned char* image, int nb_lignes,
                      int nb_colonnes) {
  or_end_process(guarded([&] {
                   return imagefiles::detail::write_raster(nom_image, colour, image, nb_lignes,
                                                           nb_colonnes);
                 }),
                 nom_image, IMAGE_PAS_D_ACCES_EN_ECRITURE);
}

statut_image lire_entete_image_pgm(const char* nom_image, int* nb_lignes, int* nb_colonnes,
                                   int* valeur_max) {
  return read_header(nom_image, greymap, nb_lignes, nb_colonnes, valeur_max);
}
statut_image lire_entete_image_ppm(const char* nom_image, int* nb_lignes, int* nb_colonnes,
                                   int* valeur_max) {
  return read_header(nom_image, colour, nb_lignes, nb_colonnes, valeur_max);
}

statut_image charger_image_pgm(const char* nom_image, unsigned char* image, size_t capacite,
                               int* nb_lignes, int* nb_colonnes, int* valeur_max) {
  return load(nom_image, greymap, image, capacite, nb_lignes, nb_colonnes, valeur_max);
}
statut_image charger_image_ppm(const char* nom_image, unsigned char* image, size_t capacite,
                               int* nb_lignes, int* nb_colonnes, int* valeur_max) {
  return load(nom_image, colour, image, capacite, nb_lignes, nb_colonnes, valeur_max);
}

statut_image enregistrer_image_pgm(const char* nom_image, const unsigned char* image, int nb_lignes,
                                   int nb_colonnes) {
  return save(nom_image, greymap, image, nb_lignes, nb_colonnes);
}
statut_image enregistrer_image_ppm(const char* nom_image, const unsigned char* image, int nb_lignes,
                                   int nb_colonnes) {
  return save(nom_image, colour, image, nb_lignes, nb_colonnes);
}

statut_image lire_entete_flux_pgm(FILE* flux, int* nb_lignes, int* nb_colonnes, int* valeur_max) {
  if (flux == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  Header header{};
  const statut_image status = guarded([&] {
    return imagefiles::detail::read_header_strict(flux, greymap, &header,
                                                  imagefiles::detail::Held::in_bands);
  });
  if (status == IMAGE_OK) store(header, nb_lignes, nb_colonnes, valeur_max);
  return status;
}

statut_image charger_raster_flux_pgm(FILE* flux, unsigned char* image, size_t nb_octets,
                                     int valeur_max) {
  if (flux == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  return guarded([&] {
    return imagefiles::detail::read_raster_from(flux, greymap, image, nb_octets, valeur_max);
  });
}

statut_image enregistrer_image_pbm(const char* nom_image, const unsigned char* image, int nb_lignes,
                                   int nb_colonnes) {
  return save(nom_image, bitmap, image, nb_lignes, nb_colonnes);
}

statut_image charger_image_pbm(const char* nom_image, unsigned char* image, size_t capacite,
                               int* nb_lignes, int* nb_colonnes) {
  Header header{};
  const statut_image status = guarded(
      [&] { return imagefiles::detail::read_bitmap_strict(nom_image, image, capacite, &header); });
  if (status == IMAGE_OK || status == IMAGE_TAMPON_TROP_PETIT) {
    store(header, nb_lignes, nb_colonnes, nullptr);
  }
  return status;
}

namespace {

statut_image save_to(FILE* stream, Format format, const unsigned char* image, int rows,
                     int columns) {
  if (stream == nullptr || image == nullptr) return IMAGE_PARAMETRE_INVALIDE;
  if (!imagefiles::detail::checked_sizes(rows, columns, format)) return IMAGE_TAILLE_HORS_LIMITES;
  return guarded(
      [&] { return imagefiles::detail::write_raster_to(stream, format, image, rows, columns); });
}

}  // namespace

statut_image enregistrer_flux_pgm(FILE* flux, const unsigned char* image, int nb_lignes,
                                  int nb_colonnes) {
  return save_to(flux, greymap, image, nb_lignes, nb_colonnes);
}

statut_image enregistrer_flux_pbm(FILE* flux, const unsigned char* image, int nb_lignes,
                                  int nb_colonnes) {
  return save_to(flux, bitmap, image, nb_lignes, nb_colonnes);
}
