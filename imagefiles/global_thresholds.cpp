// The global thresholds of greymap rasters in memory: a fixed threshold, and Otsu's threshold.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imagefiles/binarisation_internal.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace {

using imagefiles::detail::Tally;

// ---- Fixed threshold --------------------------------------------------------------------------

// Two loops: with one pointer the compiler vectorises the loop without checking that input and
// output overlap; with two it checks, and would run the in-place call one byte at a time.
IMAGEFILES_VECTOR_CLONES
void threshold_in_place(unsigned char* pixels, std::size_t count, unsigned char level) {
  for (std::size_t p = 0; p < count; ++p) pixels[p] = pixels[p] >= level ? 255 : 0;
}

IMAGEFILES_VECTOR_CLONES
void threshold_copy(unsigned char* __restrict output, const unsigned char* __restrict input,
                    std::size_t count, unsigned char level) {
  for (std::size_t p = 0; p < count; ++p) output[p] = input[p] >= level ? 255 : 0;
}

// A raster larger than the caches is written with non-temporal stores: the output goes to memory
// without first being read into the cache, which saves a third of the memory traffic.
constexpr std::size_t streamed = std::size_t{8} << 20;

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx512f,avx512bw"))) void stream_avx512(unsigned char* output,
                                                               const unsigned char* input,
                                                               std::size_t count,
                                                               unsigned char level) {
  std::size_t p = 0;
  for (; p < count && reinterpret_cast<std::uintptr_t>(output + p) % 64 != 0; ++p) {
    output[p] = input[p] >= level ? 255 : 0;
  }
  const __m512i threshold = _mm512_set1_epi8(static_cast<char>(level));
  for (; p + 64 <= count; p += 64) {
    const __m512i x = _mm512_loadu_si512(input + p);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(output + p),
                        _mm512_movm_epi8(_mm512_cmpge_epu8_mask(x, threshold)));
  }
  _mm_sfence();
  for (; p < count; ++p) output[p] = input[p] >= level ? 255 : 0;
}
#endif

// False where the processor has no such stores (the caller then uses the plain loops).
bool threshold_streamed(unsigned char* output, const unsigned char* input, std::size_t count,
                        unsigned char level) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  if (avx512) {
    stream_avx512(output, input, count, level);
    return true;
  }
#endif
#if defined(__SSE2__)
  std::size_t p = 0;
  for (; p < count && reinterpret_cast<std::uintptr_t>(output + p) % 16 != 0; ++p) {
    output[p] = input[p] >= level ? 255 : 0;
  }
  const __m128i threshold = _mm_set1_epi8(static_cast<char>(level));
  for (; p + 16 <= count; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + p));
    // x >= level exactly where max(x, level) is x.
    _mm_stream_si128(reinterpret_cast<__m128i*>(output + p),
                     _mm_cmpeq_epi8(_mm_max_epu8(x, threshold), x));
  }
  _mm_sfence();
  for (; p < count; ++p) output[p] = input[p] >= level ? 255 : 0;
  return true;
#else
  (void)output;
  (void)input;
  (void)count;
  (void)level;
  return false;
#endif
}

// ---- Otsu -------------------------------------------------------------------------------------

// The histogram of a raster, in blocks whose counts fit 32 bits.
void histogram(const unsigned char* image, std::size_t count, std::uint64_t total[256]) {
  constexpr std::size_t block = std::size_t{1} << 30;
  for (std::size_t start = 0; start < count; start += block) {
    Tally tally;
    tally.add(image + start, std::min(count - start, block));
    tally.add_to(total);
  }
}

}  // namespace

namespace imagefiles::detail {

int otsu_level(const std::uint64_t h[256], std::size_t count) {
  const double scale = 1. / static_cast<double>(count);
  double mu = 0;
  for (int i = 0; i < 256; ++i) mu += i * static_cast<double>(h[i]);
  mu *= scale;
  double mu1 = 0;
  double q1 = 0;
  double max_sigma = 0;
  int max_val = 0;
  const double epsilon = std::numeric_limits<float>::epsilon();
  for (int i = 0; i < 256; ++i) {
    const double p_i = static_cast<double>(h[i]) * scale;
    mu1 *= q1;
    q1 += p_i;
    const double q2 = 1. - q1;
    if (std::min(q1, q2) < epsilon || std::max(q1, q2) > 1. - epsilon) continue;
    mu1 = (mu1 + i * p_i) / q1;
    const double mu2 = (mu - q1 * mu1) / q2;
    const double sigma = q1 * q2 * (mu1 - mu2) * (mu1 - mu2);
    if (sigma > max_sigma) {
      max_sigma = sigma;
      max_val = i;
    }
  }
  return max_val;
}

void count_samples(const unsigned char* image, std::size_t count, std::uint64_t histogram_of[256]) {
  histogram(image, count, histogram_of);
}

int otsu_threshold(const std::uint64_t histogram_of[256]) {
  std::uint64_t count = 0;
  for (int v = 0; v < 256; ++v) count += histogram_of[v];
  return count == 0 ? 1 : otsu_level(histogram_of, count) + 1;
}

}  // namespace imagefiles::detail

void binariser(unsigned char* sortie, const unsigned char* image, size_t nb_pixels, int seuil) {
  if (sortie == nullptr || image == nullptr) return;
  if (seuil > 255) {
    std::memset(sortie, 0, nb_pixels);
    return;
  }
  const auto level = static_cast<unsigned char>(std::max(seuil, 0));
  if (nb_pixels >= streamed && threshold_streamed(sortie, image, nb_pixels, level)) return;
  if (sortie == image) {
    threshold_in_place(sortie, nb_pixels, level);
  } else {
    threshold_copy(sortie, image, nb_pixels, level);
  }
}

int calculer_seuil_otsu(const unsigned char* image, size_t nb_pixels) {
  if (image == nullptr || nb_pixels == 0) return 1;
  std::uint64_t h[256] = {};
  histogram(image, nb_pixels, h);
  return imagefiles::detail::otsu_threshold(h);
}
