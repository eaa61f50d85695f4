// test_grey: binarises a greymap file with a fixed threshold.
//
//   test_grey ImageIn.pgm ImageOut.pgm Seuil
//
// Every pixel at or above the threshold becomes 255, every other 0, and the result is written as a
// new greymap file. Nothing is printed on success; each failure prints one French message on
// standard output (and on standard error too when standard output cannot take it). The exit
// status is 1 on every path, success included: scripts rely on it.

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <imagefiles/imagefiles.h>

#include "buffer.h"
#include "standard_streams.h"

namespace {

constexpr int exit_status = 1;

// Prints a message on standard output, and on standard error too when standard output cannot take
// it (a full disk, a closed pipe), so that a failure is never silent.
int fail(const std::string& message) {
  std::signal(SIGPIPE, SIG_IGN);
  if (std::fputs(message.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    std::fputs(message.c_str(), stderr);
  }
  return exit_status;
}

int usage() {
  return fail("Usage: ImageIn.pgm ImageOut.pgm Seuil \n");
}

int allocation_failure() {
  return fail("\n Allocation dynamique impossible pour un pointeur-tableau \n");
}

// The library's own message for a raster that cannot be read.
int read_failure(const char* name) {
  return fail(std::string("\n") + decrire_statut_image(IMAGE_ERREUR_DE_LECTURE) + " " + name +
              " \n");
}

// What tells one file, unchanged, from any other: the input is read twice (dimensions, then
// raster), and both reads must see the same file.
struct Identity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  mode_t type;
  bool operator==(const Identity& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           type == o.type;
  }
};

std::optional<Identity> identity(const char* name) {
  struct stat st {};
  if (stat(name, &st) != 0) return std::nullopt;
  return Identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_mode & S_IFMT};
}

// Reads the threshold as a "%d" scan would: leading blanks, an optional sign and digits, whatever
// follows them ignored ("128abc" is 128). Values beyond the 32-bit range saturate. No value when
// the text does not start with a number.
std::optional<int> parse_threshold(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text) return std::nullopt;
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// The dimension query leaves a dimension it cannot read as it was. A second query from other
// starting values (needed only when the first left a starting value) tells the two apart.
bool query_dimensions(const char* name, int* rows, int* columns) {
  *rows = *columns = INT_MIN;
  lire_nb_lignes_colonnes_image_pgm(name, rows, columns);
  if (*rows != INT_MIN && *columns != INT_MIN) return true;
  int rows_again = 0;
  int columns_again = 0;
  lire_nb_lignes_colonnes_image_pgm(name, &rows_again, &columns_again);
  return rows_again == *rows && columns_again == *columns;
}

// A zero-filled buffer for `count` pixels, or false when the count is out of range (negative, or
// beyond the library's 32-bit counts) or the memory cannot be had.
bool allocate(std::int64_t count, Buffer* buffer) {
  return count >= 0 && count <= INT_MAX && buffer->allocate(static_cast<std::size_t>(count));
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output would be taken by the output file, and the messages with it. (A
  // file-size limit keeps its default, SIGXFSZ: being killed is visible, and the old file whole.)
  if (!open_standard_descriptors()) return exit_status;
  ignore_broken_pipes();
  if (argc != 4) return usage();
  const char* input_name = argv[1];
  const char* output_name = argv[2];
  const std::optional<int> threshold = parse_threshold(argv[3]);
  if (!threshold) return usage();

  // A pipe cannot be read twice: it is refused before it is opened. A name that cannot be looked
  // up is left to the library, which says it cannot be read.
  const std::optional<Identity> before = identity(input_name);
  if (before && before->type != S_IFREG && before->type != S_IFBLK) {
    return read_failure(input_name);
  }

  int rows = 0;
  int columns = 0;
  if (!query_dimensions(input_name, &rows, &columns)) return read_failure(input_name);
  // Both dimensions negative make a positive count: that many bytes are read and written back as
  // zeros, and no pixel is visited.
  const std::int64_t count = std::int64_t{rows} * columns;

  Buffer input;
  if (!allocate(count, &input)) return allocation_failure();
  lire_image_pgm(input_name, input.data(), static_cast<int>(count));
  // The file whose raster was read must be the one whose dimensions were.
  const std::optional<Identity> after = identity(input_name);
  if (!before || !after || !(*before == *after)) return read_failure(input_name);

  Buffer output;
  if (!allocate(count, &output)) return allocation_failure();
  if (rows > 0 && columns > 0) {
    binariser(output.data(), input.data(), static_cast<std::size_t>(count), *threshold);
  }
  ecrire_image_pgm(output_name, output.data(), rows, columns);
  return exit_status;
}
