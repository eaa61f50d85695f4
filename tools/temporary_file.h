// A temporary copy of a stream that gives its bytes once (a pipe, a named pipe, a terminal), for
// the readers that need a file they can read twice and seek in.

#ifndef IMAGEFILES_TOOLS_TEMPORARY_FILE_H
#define IMAGEFILES_TOOLS_TEMPORARY_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>

#include <imagefiles/imagefiles.h>

// A file in the temporary folder ($TMPDIR, else /tmp), removed on destruction.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  // Makes a new empty file named `prefix`, six random characters and `suffix`; its descriptor is
  // kept open for writing. False (errno set) when none can be made.
  bool create(const char* prefix, const char* suffix);
  // Appends the `count` bytes of `start`, then the rest of `stream`: IMAGE_OK, or
  // IMAGE_ERREUR_DE_LECTURE when the stream fails or the folder cannot hold the bytes.
  statut_image fill(const unsigned char* start, std::size_t count, std::FILE* stream);
  const std::string& name() const { return name_; }
  int descriptor() const { return fd_; }

 private:
  std::string name_;
  int fd_ = -1;
};

#endif  // IMAGEFILES_TOOLS_TEMPORARY_FILE_H
