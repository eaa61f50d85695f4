// The public file functions: each pairs an operation with a format ("P5" greymap, one byte a
// pixel; "P6" colour, three) and hands both to the one implementation that serves every format.

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

using imagefiles::detail::colour;
using imagefiles::detail::greymap;
using imagefiles::detail::query_dimensions;
using imagefiles::detail::read_raster;
using imagefiles::detail::write_raster;

void lire_nb_lignes_colonnes_image_pgm(const char* nom_image, int* nb_lignes, int* nb_colonnes) {
  query_dimensions(nom_image, greymap, nb_lignes, nb_colonnes);
}
void lire_nb_lignes_colonnes_image_ppm(const char* nom_image, int* nb_lignes, int* nb_colonnes) {
  query_dimensions(nom_image, colour, nb_lignes, nb_colonnes);
}

// The greymap count is in bytes, the colour count in pixels: for one byte a pixel they agree.
void lire_image_pgm(const char* nom_image, unsigned char* image, int nb_octets) {
  read_raster(nom_image, greymap, image, nb_octets);
}
void lire_image_ppm(const char* nom_image, unsigned char* image, int nb_pixels) {
  read_raster(nom_image, colour, image, nb_pixels);
}

void ecrire_image_pgm(const char* nom_image, const unsigned char* image, int nb_lignes,
                      int nb_colonnes) {
  write_raster(nom_image, greymap, image, nb_lignes, nb_colonnes);
}
void ecrire_image_ppm(const char* nom_image, const unsigned char* image, int nb_lignes,
                      int nb_colonnes) {
  write_raster(nom_image, colour, image, nb_lignes, nb_colonnes);
}
