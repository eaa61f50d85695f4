// separer_plans: splits a colour image file into three greymap files, one per colour plane.
//
//   separer_plans ImageIn.ppm PlanR.pgm PlanV.pgm PlanB.pgm
//
// Ends with status 0 once the three planes are written. The library ends the process with status 1
// and its own message when a file cannot be read or written.

#include <climits>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <imagefiles/imagefiles.h>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::printf("Usage: ImageIn.ppm PlanR.pgm PlanV.pgm PlanB.pgm \n");
    return 1;
  }
  int nb_lignes = 0;
  int nb_colonnes = 0;
  lire_nb_lignes_colonnes_image_ppm(argv[1], &nb_lignes, &nb_colonnes);

  // The colour raster takes three bytes a pixel, and must stay within the library's 32-bit counts.
  const std::int64_t nb_pixels = std::int64_t{nb_lignes} * nb_colonnes;
  if (nb_lignes < 0 || nb_colonnes < 0 || nb_pixels > INT_MAX / 3) {
    std::printf("\n Allocation dynamique impossible pour un pointeur-tableau \n");
    return 1;
  }
  std::vector<unsigned char> image(static_cast<std::size_t>(nb_pixels) * 3);
  std::vector<unsigned char> plan(static_cast<std::size_t>(nb_pixels));
  lire_image_ppm(argv[1], image.data(), static_cast<int>(nb_pixels));

  using Extraction = void (*)(unsigned char*, const unsigned char*, int);
  const Extraction extractions[] = {planR, planV, planB};
  for (int k = 0; k < 3; ++k) {
    extractions[k](plan.data(), image.data(), static_cast<int>(nb_pixels));
    ecrire_image_pgm(argv[2 + k], plan.data(), nb_lignes, nb_colonnes);
  }
  return 0;
}
