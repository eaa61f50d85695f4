// Draws the pictures the project ships. samples/sample.pgm: a diagonal gradient with a bright disc
// on its dark side, a dark square on its bright side and a ring across the middle, so that a
// threshold of 128 turns it into a white disc, a black square and a half-inverted ring.
// samples/sample.ppm: the same size in colour, each plane a picture of its own, so that splitting
// it shows three different greymaps: red the greymap above, green a gradient from top to bottom
// with the square bright, blue three stripes with the disc dark.
//
//   make_sample OUT.pgm OUT.ppm

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

unsigned char green(int x, int y) {
  if (x >= 210 && x < 280 && y >= 65 && y < 135) return 230;
  return static_cast<unsigned char>(std::lround(20 + 200.0 * y / (height - 1)));
}

unsigned char blue(int x, int y) {
  if (std::hypot(x - 80, y - 100) < 45) return 10;
  return static_cast<unsigned char>(x / (width / 3) == 1 ? 220 : 60);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: make_sample OUT.pgm OUT.ppm\n");
    return 1;
  }
  std::vector<unsigned char> grey(std::size_t{width} * height);
  std::vector<unsigned char> colour(grey.size() * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = std::size_t{width} * y + x;
      grey[at] = pixel(x, y);
      colour[3 * at] = grey[at];
      colour[3 * at + 1] = green(x, y);
      colour[3 * at + 2] = blue(x, y);
    }
  }
  ecrire_image_pgm(argv[1], grey.data(), height, width);
  ecrire_image_ppm(argv[2], colour.data(), height, width);
  return 0;
}
