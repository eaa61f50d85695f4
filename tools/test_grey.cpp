// test_grey: binarises a greymap file with a fixed threshold.
//
//   test_grey ImageIn.pgm ImageOut.pgm Seuil
//
// Every pixel at or above the threshold becomes 255, every other 0, and the result is written as a
// new greymap file. Nothing is printed on success; each failure prints one French message on
// standard output. The exit status is 1 on every path, success included: scripts rely on it.

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include <imagefiles/imagefiles.h>

#include "binarise.h"

namespace {

constexpr int exit_status = 1;

// A zero-filled image buffer, released on destruction.
//
// calloc rather than a value-initialised container: large blocks come from the kernel already
// zeroed, with no pass over them. A large buffer also starts on a 2 MiB boundary, inside a block
// 2 MiB longer (address space only: the slack is never touched), and asks the kernel for
// transparent huge pages. The read and the binarisation are the first to touch the buffer, and
// one page fault per 2 MiB instead of one per 4 KiB is a large share of the command's time on
// big images.
class Buffer {
 public:
  // False when the memory cannot be had; a buffer of 0 bytes is empty and null.
  bool allocate(std::size_t bytes) {
    if (bytes == 0) return true;
    constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
    const std::size_t slack = bytes >= huge_page ? huge_page : 0;
    block_.reset(static_cast<unsigned char*>(std::calloc(bytes + slack, 1)));
    if (block_ == nullptr) return false;
    data_ = block_.get();
    if (slack != 0) {
      const auto start = reinterpret_cast<std::uintptr_t>(data_);
      data_ += ((start + huge_page - 1) & ~(huge_page - 1)) - start;
      madvise(data_, bytes & ~(huge_page - 1), MADV_HUGEPAGE);
    }
    return true;
  }
  unsigned char* data() const { return data_; }

 private:
  struct FreeDeleter {
    void operator()(unsigned char* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<unsigned char[], FreeDeleter> block_;
  unsigned char* data_ = nullptr;
};

int usage() {
  std::printf("Usage: ImageIn.pgm ImageOut.pgm Seuil \n");
  return exit_status;
}

int allocation_failure() {
  std::printf("\n Allocation dynamique impossible pour un pointeur-tableau \n");
  return exit_status;
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
  if (argc != 4) return usage();
  const char* input_name = argv[1];
  const char* output_name = argv[2];
  const std::optional<int> threshold = parse_threshold(argv[3]);
  if (!threshold) return usage();

  int rows = 0;
  int columns = 0;
  if (!query_dimensions(input_name, &rows, &columns)) {
    std::printf("\nErreur de lecture de l'image %s \n", input_name);
    return exit_status;
  }
  // Both dimensions negative make a positive count: that many bytes are read and written back as
  // zeros, and no pixel is visited.
  const std::int64_t count = std::int64_t{rows} * columns;

  Buffer input;
  if (!allocate(count, &input)) return allocation_failure();
  lire_image_pgm(input_name, input.data(), static_cast<int>(count));

  Buffer output;
  if (!allocate(count, &output)) return allocation_failure();
  if (rows > 0 && columns > 0) {
    binarise(input.data(), output.data(), static_cast<std::size_t>(count), *threshold);
  }
  ecrire_image_pgm(output_name, output.data(), rows, columns);
  return exit_status;
}
