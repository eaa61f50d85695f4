// Writes a colour image, reads it back, splits off its green plane and stores that as a greymap;
// ends with status 0 when every step gave back what it should.

#include <cstdio>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("Usage: consumer FOLDER\n");
    return 2;
  }
  const std::string colour = std::string(argv[1]) + "/colour.ppm";
  const std::string green = std::string(argv[1]) + "/green.pgm";
  const std::vector<unsigned char> pixels = {10, 20, 30, 40, 50, 60};  // 1 row, 2 columns
  ecrire_image_ppm(colour.c_str(), pixels.data(), 1, 2);

  int rows = 0;
  int columns = 0;
  lire_nb_lignes_colonnes_image_ppm(colour.c_str(), &rows, &columns);
  std::vector<unsigned char> read(pixels.size());
  lire_image_ppm(colour.c_str(), read.data(), rows * columns);
  std::vector<unsigned char> plane(2);
  planV(plane.data(), read.data(), rows * columns);
  ecrire_image_pgm(green.c_str(), plane.data(), rows, columns);

  std::vector<unsigned char> back(2);
  lire_image_pgm(green.c_str(), back.data(), 2);
  const bool ok =
      rows == 1 && columns == 2 && read == pixels && back == std::vector<unsigned char>{20, 50};
  std::printf("%s\n", ok ? "ok" : "wrong");
  return ok ? 0 : 1;
}
