// Reads one page of an image file as charger_image_grise does, size then raster, and prints the
// mean of its samples (so that every pixel is looked at, as a peer's read that reduces it): for
// bench/codecs.py, which times the process.
//
// Usage: read_bench FILE [PAGE]

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <imagefiles/imagefiles.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int page = argc > 2 ? std::atoi(argv[2]) : 0;
  int rows = 0;
  int columns = 0;
  statut_image status = charger_image_grise(argv[1], page, nullptr, 0, &rows, &columns);
  if (status != IMAGE_TAMPON_TROP_PETIT) return 1;
  std::vector<unsigned char> image(std::size_t(rows) * std::size_t(columns));
  status = charger_image_grise(argv[1], page, image.data(), image.size(), &rows, &columns);
  if (status != IMAGE_OK) {
    std::fprintf(stderr, "%s %s\n", decrire_statut_image(status), argv[1]);
    return 1;
  }
  unsigned long long sum = 0;
  for (const unsigned char v : image) sum += v;
  std::printf("%.3f\n", static_cast<double>(sum) / static_cast<double>(image.size()));
  return 0;
}
