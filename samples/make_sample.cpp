// Draws samples/sample.pgm, the picture the project ships: a diagonal gradient with a bright disc
// on its dark side, a dark square on its bright side and a ring across the middle, so that a
// threshold of 128 turns it into a white disc, a black square and a half-inverted ring.
//
//   make_sample OUT.pgm

#include <cmath>
#include <cstdio>
#include <vector>

#include <imagefiles/imagefiles.h>

namespace {

constexpr int width = 320;
constexpr int height = 200;

unsigned char pixel(int x, int y) {
  const double gradient = 204.0 * x / (width - 1) + 51.0 * y / (height - 1);
  const double to_disc = std::hypot(x - 80, y - 100);
  const double to_ring = std::hypot(x - 160, y - 100);
  double value = gradient;
  if (to_disc < 45) value = 255 - 90 * to_disc / 45;                      // bright, fading outwards
  if (x >= 210 && x < 280 && y >= 65 && y < 135) value = 20 + (x - 210);  // dark square
  if (to_ring >= 88 && to_ring < 96) value = x < 160 ? 240 : 15;          // ring, light then dark
  return static_cast<unsigned char>(std::lround(value));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("Usage: make_sample OUT.pgm\n");
    return 1;
  }
  std::vector<unsigned char> raster(std::size_t{width} * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) raster[std::size_t{width} * y + x] = pixel(x, y);
  }
  ecrire_image_pgm(argv[1], raster.data(), height, width);
  return 0;
}
