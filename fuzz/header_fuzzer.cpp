// Fuzzes the header readers and the comment skipper from memory, against the reference readers:
// same numbers, same bytes consumed, and never a comment left unskipped; the strict reader gives
// the same verdict as the reference, and the same numbers and raster start on every header it
// accepts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "reference_header.h"

namespace {

// A read-only stream over a copy of the input (the reader may not write, but fmemopen wants a
// mutable buffer).
struct Stream {
  explicit Stream(std::vector<std::uint8_t>& bytes)
      : file(fmemopen(bytes.data(), bytes.size(), "rb")) {
    if (file == nullptr) std::abort();
  }
  ~Stream() { std::fclose(file); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  std::FILE* file;
};

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  bytes.reserve(1);  // a buffer even for an empty input
  const bool comparable = !reference::has_long_number(data, size);

  for (const char digit : {'5', '6'}) {
    int ours[3] = {-7, -8, -9};
    int theirs[3] = {-7, -8, -9};
    Stream a(bytes);
    Stream b(bytes);
    imagefiles::detail::read_header(a.file, digit, &ours[0], &ours[1], &ours[2]);
    reference::read_header(b.file, digit, &theirs[0], &theirs[1], &theirs[2]);
    if (comparable) {
      for (int i = 0; i < 3; ++i) check(ours[i] == theirs[i]);
    }
    check(reference::remaining(a.file) == reference::remaining(b.file));
  }

  for (const imagefiles::detail::Format& format :
       {imagefiles::detail::greymap, imagefiles::detail::colour}) {
    Stream stream(bytes);
    imagefiles::detail::Header header{};
    const statut_image ours = imagefiles::detail::read_header_strict(stream.file, format, &header);
    const reference::Strict theirs =
        reference::read_strict(data, size, format.magic_digit, format.bytes_per_pixel);
    const int kind = ours == format.not_this_one ? 5 : static_cast<int>(ours);
    check(kind == theirs.status);
    if (ours != IMAGE_OK) continue;
    check(header.width == theirs.width && header.height == theirs.height &&
          header.maximum == theirs.maximum);
    check(header.raster_bytes ==
          std::size_t(theirs.width * theirs.height) * std::size_t(format.bytes_per_pixel));
    check(reference::remaining(stream.file) == size - theirs.raster_offset);
  }

  Stream a(bytes);
  Stream b(bytes);
  ignorer_commentaires(a.file);
  reference::skip_comments(b.file);
  const int next = std::fgetc(a.file);
  check(next != '#');
  check(next == std::fgetc(b.file));
  check(reference::remaining(a.file) == reference::remaining(b.file));
  return 0;
}
