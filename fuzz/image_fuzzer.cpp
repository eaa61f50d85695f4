// The reader of every format (the dispatcher behind charger_image_grise and compter_pages) on
// arbitrary bytes, read from memory: whatever the bytes, a status and no fault (the sanitizers
// watch every read and write), the buffer protocol kept (a failure after the size stores nothing
// past the buffer), and a second read of the same bytes giving the same pixels.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "imagefiles/codecs.h"

namespace {

struct Closer {
  void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};

// The bytes as a stream of their own (fmemopen takes no empty buffer).
std::unique_ptr<std::FILE, Closer> open_bytes(const std::uint8_t* data, std::size_t size) {
  return std::unique_ptr<std::FILE, Closer>(fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
}

// Pixels the fuzzer may allocate for: a file that claims more is only sized.
constexpr long long kMaxPixels = 1 << 22;

statut_image read(const std::uint8_t* data, std::size_t size, int page,
                  imagefiles::detail::Destination* to) {
  const auto stream = open_bytes(data, size);
  if (!stream) std::abort();
  return imagefiles::detail::read_any(stream.get(), page, to);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  {
    const auto stream = open_bytes(data, size);
    int pages = 0;
    if (stream) imagefiles::detail::count_any(stream.get(), &pages);
  }
  for (int page = 0; page < 2; ++page) {
    imagefiles::detail::Destination sizing;
    const statut_image first = read(data, size, page, &sizing);
    if (first != IMAGE_TAMPON_TROP_PETIT) continue;
    const long long pixels = static_cast<long long>(sizing.rows) * sizing.columns;
    if (sizing.rows < 1 || sizing.columns < 1) std::abort();
    if (pixels > kMaxPixels) continue;
    const std::size_t bytes = static_cast<std::size_t>(pixels);
    std::vector<unsigned char> image(bytes + 1, 0x5A);
    imagefiles::detail::Destination to;
    to.image = image.data();
    to.capacity = bytes;
    const statut_image status = read(data, size, page, &to);
    if (image[bytes] != 0x5A) std::abort();
    if (status != IMAGE_OK) continue;
    if (to.rows != sizing.rows || to.columns != sizing.columns) std::abort();
    // The same bytes read again give the same pixels: nothing depends on memory left unset.
    std::vector<unsigned char> again(bytes);
    to.image = again.data();
    if (read(data, size, page, &to) != IMAGE_OK) std::abort();
    if (std::memcmp(again.data(), image.data(), bytes) != 0) std::abort();
  }
  return 0;
}
