// The images a command reads, in every format the library reads, from a file or a stream.

#ifndef IMAGEFILES_TOOLS_IMAGE_INPUT_H
#define IMAGEFILES_TOOLS_IMAGE_INPUT_H

#include <cstdio>
#include <memory>
#include <string>

#include <imagefiles/imagefiles.h>

#include "buffer.h"
#include "input.h"
#include "temporary_file.h"

// One input. An 8-bit greymap (P5 of maximum value 255) may be binarised in bands, never held
// whole: it is then given as a stream at its magic. Anything else is read whole, page after page,
// with charger_image_grise: a regular file by its name; a stream (standard input, a named pipe, a
// device), which gives its bytes once, is first copied into a temporary file (TIFF needs to seek).
class ImageInput {
 public:
  // Opens `name` ("-": standard input) as open_input does (*no_writer: a named pipe that nobody
  // writes to); with `bands`, a greymap of maximum 255 is left to be read in bands, else the pages
  // are counted.
  statut_image open(const std::string& name, bool bands, bool* no_writer);
  // The greymap to read in bands, at its magic; null when the input is read whole.
  std::FILE* greymap() const { return greymap_; }
  int pages() const { return pages_; }
  // The regular file read by name (the input, or the copy of a stream); empty for a greymap read
  // in bands.
  const std::string& path() const { return path_; }
  // Reads page `page` (from 0) into `buffer`, which grows to hold it.
  statut_image read(int page, Buffer* buffer, int* rows, int* columns) const;

 private:
  statut_image open_stream(std::FILE* stream, bool bands);

  Stream file_;                             // the input, when opened here
  std::unique_ptr<unsigned char[]> start_;  // the first bytes of a stream, read to tell its kind
  Stream rejoined_;               // those bytes, then the rest of the stream (closed first)
  std::FILE* greymap_ = nullptr;  // what is read in bands
  std::string path_;              // what is read whole, by name: the input, or its copy
  TemporaryFile copy_;            // the copy of a stream
  int pages_ = 1;
};

// Copies the file `name` to standard output. False on a read or write failure.
bool copy_to_standard_output(const std::string& name);

#endif  // IMAGEFILES_TOOLS_IMAGE_INPUT_H
