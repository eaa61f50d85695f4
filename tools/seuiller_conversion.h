// seuiller's images: how each is binarised and written, under which name, and the line that
// reports its failure.

#ifndef IMAGEFILES_TOOLS_SEUILLER_CONVERSION_H
#define IMAGEFILES_TOOLS_SEUILLER_CONVERSION_H

#include <string>

#include <imagefiles/imagefiles.h>

#include "buffer.h"
#include "image_input.h"

// How the images are binarised: a fixed threshold, or a method that chooses it.
struct Method {
  enum Kind { fixed, otsu, sauvola, niblack, wolf, automatic } kind = fixed;
  int threshold = 0;  // fixed
  int window = 15;    // the local methods; 0: the window measured on each image
  double k = 0.2;
};

// The formats written.
enum class Output { pgm, pbm, png, tiff };

// What became of an image: IMAGE_OK, a library status, or a named pipe that nobody writes to.
struct Result {
  statut_image status = IMAGE_OK;
  bool no_writer = false;
  bool ok() const { return status == IMAGE_OK && !no_writer; }
};

// The line of a failed image: the library's text, or for memory that ran out, the allocation
// text of test_grey.
void print_failure(const Result& result, const std::string& name);

// `name` as it can be shown on a line of its own: control characters and backslashes escaped as
// C does (\n, \t, \\, octal for the others), so that a name cannot forge another line.
std::string shown(const std::string& name);

std::string base_name(const std::string& path);

// The name an image is written under: its base name, with the extension of an image format
// replaced by that of the output. A greymap keeps the name as before when it ends in .pgm or
// .pnm, or in no image extension.
std::string output_name(const std::string& image, Output output);

// What failed, and the name to report it under: the input's or the output's.
struct Failure {
  statut_image status = IMAGE_OK;
  std::string name;
};

// Reads, binarises and writes every page of `input` (named `image`) as `written`, a file a page:
// in bands (binariser_fichier) unless the window is measured on the page (-f auto) or the pages
// go into one multi-page TIFF, which are read whole. The first failure stops the image.
Failure convert(const ImageInput& input, const std::string& image, const std::string& written,
                Output output, const Method& method, Buffer* buffer);

// Whether an 8-bit greymap may go through in bands: when it is written as a greymap or a bitmap,
// and its window is not measured on the whole page first (-f auto).
bool in_bands(Output output, const Method& method);

// One image through a pipeline: read from standard input ("-") or a file, binarised, written to
// standard output, which is not a file to replace but a stream. Exit status 0 or 1; a failure is
// one line on standard error, the image named "-" when it is standard input or output. A closed
// standard output (now /dev/null) is a write error before anything is read: the result would be
// lost.
int pipe_through(const Method& method, const std::string& image, Output output, bool output_closed);

#endif  // IMAGEFILES_TOOLS_SEUILLER_CONVERSION_H
