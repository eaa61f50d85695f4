// Private to the library: the one implementation behind the greymap and colour functions.

#ifndef IMAGEFILES_INTERNAL_H
#define IMAGEFILES_INTERNAL_H

#include <cstdio>

namespace imagefiles::detail {

// All that tells the two file formats apart.
struct Format {
  char magic_digit;     // the digit after 'P'
  int bytes_per_pixel;  // bytes of one pixel in the raster
};

inline constexpr Format greymap{'5', 1};
inline constexpr Format colour{'6', 3};

// Reads a header from `stream`, just opened: the magic "P<digit>" and its whitespace, comment
// lines, then width, height and maximum value, and the one byte after them. Nothing is validated; a
// number that cannot be read, and every one after it, leaves its destination unchanged.
void read_header(std::FILE* stream, char magic_digit, int* width, int* height, int* maximum);

// Writes "P<digit>\r<columns> <rows>\r255\r". Errors surface when the stream is flushed.
void write_header(std::FILE* stream, char magic_digit, int columns, int rows);

// The file functions of both formats. `count` is the reader's size argument, in pixels; a greymap
// pixel is one byte, so for greymaps it is also the byte count.
void query_dimensions(const char* name, Format format, int* rows, int* columns);
void read_raster(const char* name, Format format, unsigned char* raster, int count);
void write_raster(const char* name, Format format, const unsigned char* raster, int rows,
                  int columns);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_INTERNAL_H
