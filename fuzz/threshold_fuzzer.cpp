// The local thresholds on arbitrary images, sizes, windows and k, against a plain reference that
// sums every window pixel by pixel: same decision for every pixel (one within 1e-9 of its
// threshold may go either way), in place and not, and nothing read or written outside the
// buffers (the sanitizers watch).
//
// Input: rows (1 byte), columns (1 byte), window (1 byte), method (1 byte), k (2 bytes), then the
// samples, repeated as needed to fill the image.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <imagefiles/imagefiles.h>

namespace {

long mirror(long i, long size) {
  if (size == 1) return 0;
  const long period = 2 * (size - 1);
  i %= period;
  if (i < 0) i += period;
  return i < size ? i : period - i;
}

struct Stats {
  double m;
  double s;
};

// The window's mean and deviation, as the reference library computes them from exact sums.
Stats window_stats(const std::vector<unsigned char>& image, int rows, int columns, int window,
                   int y, int x) {
  const int half = window / 2;
  long sum = 0;
  long squares = 0;
  for (int dy = -half; dy <= half; ++dy) {
    for (int dx = -half; dx <= half; ++dx) {
      const long v = image[mirror(y + dy, rows) * columns + mirror(x + dx, columns)];
      sum += v;
      squares += v * v;
    }
  }
  const double size = double(window) * window;
  const double m = double(sum) / size;
  const double g2 = double(squares) / size;
  return {m, std::sqrt(std::max(g2 - m * m, 0.0))};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 7) return 0;
  const int rows = 1 + data[0] % 32;
  const int columns = 1 + data[1] % 48;
  const int window = 3 + 2 * (data[2] % 20);
  const int method = data[3] % 3;
  const double k = (int(data[4]) * 256 + data[5] - 32768) / 8192.0;  // -4 to 4
  const std::size_t count = std::size_t(rows) * columns;
  std::vector<unsigned char> image(count);
  for (std::size_t i = 0; i < count; ++i) image[i] = data[6 + i % (size - 6)];

  std::vector<Stats> stats(count);
  double largest = 0;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      stats[y * columns + x] = window_stats(image, rows, columns, window, y, x);
      largest = std::max(largest, stats[y * columns + x].s);
    }
  }
  const double smallest = *std::min_element(image.begin(), image.end());

  using Local = statut_image (*)(unsigned char*, const unsigned char*, int, int, int, double);
  const Local functions[] = {binariser_sauvola, binariser_niblack, binariser_wolf};
  std::vector<unsigned char> out(count, 7);
  if (functions[method](out.data(), image.data(), rows, columns, window, k) != IMAGE_OK) abort();
  std::vector<unsigned char> in_place = image;
  if (functions[method](in_place.data(), in_place.data(), rows, columns, window, k) != IMAGE_OK) {
    abort();
  }
  if (in_place != out) abort();

  for (std::size_t i = 0; i < count; ++i) {
    const double m = stats[i].m;
    const double s = stats[i].s;
    double t = 0;
    if (method == 0) t = m * (1 + k * ((s / 127.5) - 1));
    if (method == 1) t = m - k * s;
    if (method == 2) t = largest == 0 ? -1 : m - k * (1 - s / largest) * (m - smallest);
    if (std::abs(image[i] - t) <= 1e-9) continue;
    if (out[i] != (image[i] > t ? 255 : 0)) abort();
  }
  return 0;
}
