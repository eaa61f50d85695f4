// evaluer: measures a binarisation against its ground truth.
//
//   evaluer VERITE RESULTAT
//
// Both files are images of the same size in any format the library reads (Netpbm, PNG, TIFF, JPEG;
// the first page of a TIFF), made grey by its rule; a sample 0 is ink. Prints the six measures of
// evaluer_binarisation, one a line, "name value", the name as the field of mesures_binarisation
// (the PSNR of identical images is "inf"). Exit status: 0, 1 when a file cannot be read or the
// sizes differ (one line on standard error), 2 for a usage error.

#include <cstdio>
#include <string>

#include <imagefiles/imagefiles.h>

#include "buffer.h"
#include "standard_streams.h"

namespace {

struct Image {
  Buffer pixels;
  int rows = 0;
  int columns = 0;
};

// Reads the first page of an image as grey: its size first, then into a buffer that fits.
statut_image load(const char* name, Image* image) {
  const auto read = [&](unsigned char* into, std::size_t capacity) {
    return charger_image_grise(name, 0, into, capacity, &image->rows, &image->columns);
  };
  statut_image status = read(nullptr, 0);
  if (status != IMAGE_TAMPON_TROP_PETIT) return status;
  if (!image->pixels.allocate(std::size_t(image->rows) * std::size_t(image->columns))) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return read(image->pixels.data(), image->pixels.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (!open_standard_descriptors()) return 1;
  ignore_broken_pipes();
  if (argc != 3) {
    std::fprintf(stderr,
                 "Usage: evaluer VERITE RESULTAT\n"
                 "Mesure l'image binaire RESULTAT (0 : encre) contre sa verite terrain VERITE,\n"
                 "de meme taille (pnm, png, tiff ou jpeg) : F-mesure, pseudo-F-mesure, PSNR, DRD, "
                 "NRM, MCC.\n");
    return 2;
  }
  Image truth;
  Image result;
  for (const auto& [name, image] : {std::pair{argv[1], &truth}, std::pair{argv[2], &result}}) {
    const statut_image status = load(name, image);
    if (status != IMAGE_OK) {
      std::fprintf(stderr, "evaluer: %s %s\n", decrire_statut_image(status), name);
      return 1;
    }
  }
  if (truth.rows != result.rows || truth.columns != result.columns) {
    std::fprintf(stderr, "evaluer: tailles differentes : %d x %d et %d x %d\n", truth.columns,
                 truth.rows, result.columns, result.rows);
    return 1;
  }
  mesures_binarisation m;
  const statut_image status = evaluer_binarisation(truth.pixels.data(), result.pixels.data(),
                                                   truth.rows, truth.columns, &m);
  if (status != IMAGE_OK) {
    std::fprintf(stderr, "evaluer: %s %s\n", decrire_statut_image(status), argv[2]);
    return 1;
  }
  const int written =
      std::printf("f_mesure %.9g\npseudo_f_mesure %.9g\npsnr %.9g\ndrd %.9g\nnrm %.9g\nmcc %.9g\n",
                  m.f_mesure, m.pseudo_f_mesure, m.psnr, m.drd, m.nrm, m.mcc);
  return written < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}
