// Colour planes: one channel of an interleaved red, green, blue raster as a greymap raster.

#include <cstdint>

#include "imagefiles/imagefiles.h"

namespace {

// Copies the byte at `offset` of every pixel. Indices are 64-bit, so a count whose threefold is
// beyond the 32-bit range still stays inside the caller's buffers.
void extract_plane(unsigned char* plan, const unsigned char* image, int nb_pixels, int offset) {
  for (std::int64_t i = 0; i < nb_pixels; ++i) plan[i] = image[3 * i + offset];
}

}  // namespace

void planR(unsigned char* plan, const unsigned char* image, int nb_pixels) {
  extract_plane(plan, image, nb_pixels, 0);
}

void planV(unsigned char* plan, const unsigned char* image, int nb_pixels) {
  extract_plane(plan, image, nb_pixels, 1);
}

void planB(unsigned char* plan, const unsigned char* image, int nb_pixels) {
  extract_plane(plan, image, nb_pixels, 2);
}
