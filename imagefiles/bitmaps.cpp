// Bitmap rows: one byte a pixel in memory, one bit a pixel in a file ("P4": the leftmost pixel in
// the most significant bit, 1 for black), or a character '0' or '1' in a plain file ("P1").

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imagefiles/internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace imagefiles::detail {
namespace {

// The bits of each byte of `x` in reverse order: the byte's first pixel then goes to its most
// significant bit.
std::uint64_t reverse_bits_of_bytes(std::uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555u) | ((x & 0x5555555555555555u) << 1);
  x = ((x >> 2) & 0x3333333333333333u) | ((x & 0x3333333333333333u) << 2);
  return ((x >> 4) & 0x0f0f0f0f0f0f0f0fu) | ((x & 0x0f0f0f0f0f0f0f0fu) << 4);
}

// The eight bytes a bitmap byte stands for: 0 for a bit 1, 255 for a bit 0.
struct Expansions {
  unsigned char of[256][8];
  constexpr Expansions() : of() {
    for (int bits = 0; bits < 256; ++bits) {
      for (int pixel = 0; pixel < 8; ++pixel) {
        of[bits][pixel] = (bits & (0x80 >> pixel)) == 0 ? 255 : 0;
      }
    }
  }
};
constexpr Expansions expansions;

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

void pack_row(const unsigned char* samples, std::size_t columns, unsigned char* bits) {
  pack_threshold_row(samples, columns, 128, bits);
}

void pack_threshold_row(const unsigned char* samples, std::size_t columns, int level,
                        unsigned char* bits) {
  if (level > 255) {
    // Every pixel black: whole bytes of 1 bits, the last one's padding 0.
    std::memset(bits, 0xff, columns / 8);
    if (columns % 8 != 0) bits[columns / 8] = static_cast<unsigned char>(0xff00u >> (columns % 8));
    return;
  }
  const auto threshold = static_cast<unsigned char>(level < 0 ? 0 : level);
  std::size_t x = 0;
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Sixty-four pixels a step: a sample is white exactly where max(sample, level) is the sample,
  // and the vector unit gathers one bit of each of sixteen comparisons at once.
  const __m128i at = _mm_set1_epi8(static_cast<char>(threshold));
  for (; x + 64 <= columns; x += 64) {
    std::uint64_t white = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + x + 16 * part));
      const __m128i kept = _mm_cmpeq_epi8(_mm_max_epu8(v, at), v);
      white |= std::uint64_t(static_cast<unsigned>(_mm_movemask_epi8(kept))) << (16 * part);
    }
    const std::uint64_t black = reverse_bits_of_bytes(~white);
    std::memcpy(bits + x / 8, &black, 8);  // the first pixels in the first byte (little-endian)
  }
#endif
  for (; x < columns; x += 8) {
    unsigned byte = 0;
    const std::size_t end = x + 8 < columns ? x + 8 : columns;
    for (std::size_t i = x; i < end; ++i) byte |= (samples[i] < threshold ? 0x80u : 0u) >> (i - x);
    bits[x / 8] = static_cast<unsigned char>(byte);
  }
}

void unpack_row(const unsigned char* bits, std::size_t columns, unsigned char* samples) {
  std::size_t x = 0;
  for (; x + 8 <= columns; x += 8) {
    // Eight pixels a byte, from one table of words: no test a pixel.
    std::memcpy(samples + x, expansions.of[bits[x / 8]], 8);
  }
  for (; x < columns; ++x) samples[x] = (bits[x / 8] & (0x80 >> (x % 8))) != 0 ? 0 : 255;
}

statut_image read_plain_bits(std::FILE* stream, unsigned char* samples, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    int c;
    do {
      c = std::getc(stream);
    } while (is_space(c));
    if (c == EOF) return IMAGE_ERREUR_DE_LECTURE;
    if (c != '0' && c != '1') return IMAGE_PAS_PBM;
    samples[i] = c == '1' ? 0 : 255;
  }
  return IMAGE_OK;
}

}  // namespace imagefiles::detail
