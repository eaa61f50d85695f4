// The threshold command's one computation, shared with its benchmark.

#ifndef IMAGEFILES_TOOLS_BINARISE_H
#define IMAGEFILES_TOOLS_BINARISE_H

#include <cstddef>

// Sets output[p] to 255 where input[p] >= threshold and to 0 elsewhere, for p below count. The
// output starts zero-filled, so a threshold that no byte reaches leaves it as it is.
void binarise(const unsigned char* input, unsigned char* output, std::size_t count, int threshold);

// The same in place: every one of the `count` pixels becomes 255 or 0, whatever the threshold.
void binarise_in_place(unsigned char* pixels, std::size_t count, int threshold);

#endif  // IMAGEFILES_TOOLS_BINARISE_H
