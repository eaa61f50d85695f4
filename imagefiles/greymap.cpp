// Greymap files: magic "P5", one byte per pixel.

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

using imagefiles::detail::greymap;

void lire_nb_lignes_colonnes_image_pgm(const char* nom_image, int* nb_lignes, int* nb_colonnes) {
  imagefiles::detail::query_dimensions(nom_image, greymap, nb_lignes, nb_colonnes);
}

void lire_image_pgm(const char* nom_image, unsigned char* image, int nb_octets) {
  imagefiles::detail::read_raster(nom_image, greymap, image, nb_octets);
}

void ecrire_image_pgm(const char* nom_image, const unsigned char* image, int nb_lignes,
                      int nb_colonnes) {
  imagefiles::detail::write_raster(nom_image, greymap, image, nb_lignes, nb_colonnes);
}
