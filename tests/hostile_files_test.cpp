// Hostile files for charger_image_grise and compter_pages, one row each: cut short, lying about
// their size, pointing outside themselves, damaged, or not files at all. Each is read in a child
// (a crash or a hang fails the row, not the suite), gives its status, writes nothing outside the
// caller's buffer and nothing on standard output or error, and grows by less than 64 MiB.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

// ---- Files made byte by byte -------------------------------------------------------------------

std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xffffffffu;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string big_endian(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string chunk(const std::string& type, const std::string& data) {
  return big_endian(static_cast<std::uint32_t>(data.size())) + type + data +
         big_endian(crc32(type + data));
}

// A PNG that claims width x height 8-bit grey pixels, with one tiny (stored) zlib stream.
std::string png_claiming(std::uint32_t width, std::uint32_t height) {
  const std::string header =
      big_endian(width) + big_endian(height) + std::string("\x08\0\0\0\0", 5);
  const std::string idat("\x78\x01\x01\x02\x00\xfd\xff\x00\x00\x00\x02\x00\x01", 13);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", idat) +
         chunk("IEND", "");
}

std::string little(std::uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

struct Entry {
  std::uint16_t tag;
  std::uint16_t type;  // 3 SHORT, 4 LONG
  std::uint32_t value;
};

// A little-endian TIFF of `pages` directories, each an 8-bit grey page of width x height whose one
// strip is at `strip_offset`, `strip_bytes` long; the strip's bytes follow the header.
std::string tiff_of(std::uint32_t width, std::uint32_t height, std::uint32_t strip_offset,
                    std::uint32_t strip_bytes, int pages, const std::string& strip) {
  std::string file = "II*" + std::string(1, '\0') + little(8 + strip.size(), 4) + strip;
  for (int page = 0; page < pages; ++page) {
    const Entry entries[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},
                             {259, 3, 1},     {262, 3, 1},      {273, 4, strip_offset},
                             {277, 3, 1},     {278, 4, height}, {279, 4, strip_bytes}};
    const std::uint32_t n = sizeof entries / sizeof entries[0];
    file += little(n, 2);
    for (const Entry& e : entries) {
      file += little(e.tag, 2) + little(e.type, 2) + little(1, 4) + little(e.value, 4);
    }
    const bool last = page + 1 == pages;
    file += little(last ? 0 : static_cast<std::uint32_t>(file.size() + 4), 4);
  }
  return file;
}

// A JPEG start of image, frame and scan headers claiming width x height, and no data.
std::string jpeg_claiming(std::uint16_t width, std::uint16_t height) {
  std::string sof = "\xff\xc0";
  sof += std::string("\x00\x0b\x08", 3);
  sof += static_cast<char>(height >> 8);
  sof += static_cast<char>(height & 0xff);
  sof += static_cast<char>(width >> 8);
  sof += static_cast<char>(width & 0xff);
  sof += std::string("\x01\x01\x11\x00", 4);
  const std::string sos("\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00", 10);
  return std::string("\xff\xd8", 2) + sof + sos + std::string("\xff\xd9", 2);
}

// ---- Files made by tools, then spoiled ---------------------------------------------------------

// A noisy 200 x 150 picture as made by netpbm, converted by `command` (reading p.ppm, writing
// out), then cut to `keep` of its bytes.
std::string made(const TempDir& dir, const std::string& command, double keep = 1.0) {
  const std::string script =
      "for s in 1 2 3; do pgmnoise -randomseed=$s 200 150 > g$s.pgm 2>/dev/null || exit 1; done; "
      "rgb3toppm g1.pgm g2.pgm g3.pgm > p.ppm && " +
      command;
  const Outcome outcome = run_command({"/bin/sh", "-c", script}, dir.path().string());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  std::string bytes = read_file(dir.path() / "out");
  bytes.resize(static_cast<std::size_t>(bytes.size() * keep));
  return bytes;
}

struct Hostile {
  const char* name;
  const char* tools;  // needed to make the file; empty for those made byte by byte
  std::function<void(const TempDir&, const std::string& path)> make;
  statut_image status;
  int page = 0;
};

void bytes(const std::string& path, const std::string& content) {
  write_file(path, content);
}

const Hostile kHostile[] = {
    {"empty", "", [](auto&, auto& p) { bytes(p, ""); }, IMAGE_ERREUR_DE_LECTURE},
    {"unknown_format", "", [](auto&, auto& p) { bytes(p, "GIF89a\x01\x00\x01\x00"); },
     IMAGE_FORMAT_INCONNU},
    {"png_signature_cut", "", [](auto&, auto& p) { bytes(p, "\x89PN"); }, IMAGE_ERREUR_DE_LECTURE},
    {"png_truncated", "pnmtopng",
     [](auto& d, auto& p) { bytes(p, made(d, "pnmtopng p.ppm > out", 0.5)); },
     IMAGE_ERREUR_DE_LECTURE},
    {"png_100000_x_100000", "", [](auto&, auto& p) { bytes(p, png_claiming(100000, 100000)); },
     IMAGE_TAILLE_HORS_LIMITES},
    {"png_bad_crc", "pnmtopng",
     [](auto& d, auto& p) {
       std::string f = made(d, "pnmtopng p.ppm > out");
       f[f.find("IDAT") + 40] ^= 0x20;  // a byte of the compressed data: the chunk's CRC fails
       bytes(p, f);
     },
     IMAGE_DONNEES_ENDOMMAGEES},
    {"png_bad_header_crc", "",
     [](auto&, auto& p) {
       std::string f = png_claiming(4, 4);
       f[29] ^= 1;
       bytes(p, f);
     },
     IMAGE_DONNEES_ENDOMMAGEES},
    {"png_second_page", "pnmtopng",
     [](auto& d, auto& p) { bytes(p, made(d, "pnmtopng p.ppm > out")); }, IMAGE_PAGE_ABSENTE, 1},
    {"tiff_truncated", "pamtotiff",
     [](auto& d, auto& p) { bytes(p, made(d, "pamtotiff -lzw p.ppm > out", 0.5)); },
     IMAGE_ERREUR_DE_LECTURE},
    {"tiff_header_only", "", [](auto&, auto& p) { bytes(p, std::string("II*\0\x08\0\0\0", 8)); },
     IMAGE_ERREUR_DE_LECTURE},
    {"tiff_100000_x_100000", "",
     [](auto&, auto& p) { bytes(p, tiff_of(100000, 100000, 8, 4, 1, "abcd")); },
     IMAGE_TAILLE_HORS_LIMITES},
    {"tiff_strip_outside_the_file", "",
     [](auto&, auto& p) { bytes(p, tiff_of(4, 1, 1000000000, 4, 1, "abcd")); },
     IMAGE_DONNEES_ENDOMMAGEES},
    {"tiff_strip_past_the_end", "",
     [](auto&, auto& p) { bytes(p, tiff_of(4, 1000, 8, 4000, 1, "abcd")); },
     IMAGE_ERREUR_DE_LECTURE},
    {"tiff_page_past_the_last", "",
     [](auto&, auto& p) { bytes(p, tiff_of(4, 1, 8, 4, 3, "abcd")); }, IMAGE_PAGE_ABSENTE, 3},
    {"tiff_float_samples", "python3",
     [](auto& d, auto& p) {
       bytes(p, made(d,
                     "/usr/bin/python3 -c \"from PIL import Image; "
                     "Image.open('p.ppm').convert('F').save('out.tif')\" && mv out.tif out"));
     },
     IMAGE_VARIANTE_NON_PRISE_EN_CHARGE},
    {"jpeg_cut_mid_scan", "pnmtojpeg",
     [](auto& d, auto& p) { bytes(p, made(d, "pnmtojpeg p.ppm > out", 0.6)); },
     IMAGE_ERREUR_DE_LECTURE},
    {"jpeg_progressive_cut", "pnmtojpeg",
     [](auto& d, auto& p) { bytes(p, made(d, "pnmtojpeg --progressive p.ppm > out", 0.6)); },
     IMAGE_ERREUR_DE_LECTURE},
    {"jpeg_65000_x_65000", "", [](auto&, auto& p) { bytes(p, jpeg_claiming(65000, 65000)); },
     IMAGE_TAILLE_HORS_LIMITES},
    {"jpeg_cmyk", "convert",
     [](auto& d, auto& p) { bytes(p, made(d, "convert p.ppm -colorspace CMYK jpg:out")); },
     IMAGE_VARIANTE_NON_PRISE_EN_CHARGE},
    {"jpeg_damaged_header", "",
     [](auto&, auto& p) {
       // A frame of no component.
       bytes(p, std::string("\xff\xd8\xff\xc0\x00\x08\x08\x00\x01\x00\x01\x00\xff\xd9", 14));
     },
     IMAGE_DONNEES_ENDOMMAGEES},
    {"pgm_16_truncated", "", [](auto&, auto& p) { bytes(p, "P5\n2 2\n65535\n\x01\x02\x03"); },
     IMAGE_ERREUR_DE_LECTURE},
    // Sizes that the file cannot hold: refused on the size call, before a caller reserves them.
    {"pgm_claiming_2_gigabytes", "", [](auto&, auto& p) { bytes(p, "P5\n46000 46000\n255\nab"); },
     IMAGE_ERREUR_DE_LECTURE},
    {"pam_claiming_2_gigabytes", "",
     [](auto&, auto& p) {
       bytes(p,
             "P7\nWIDTH 23000\nHEIGHT 23000\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nab");
     },
     IMAGE_ERREUR_DE_LECTURE},
    {"plain_pbm_claiming_2_gigapixels", "",
     [](auto&, auto& p) { bytes(p, "P1\n46000 46000\n0 1"); }, IMAGE_ERREUR_DE_LECTURE},
    {"pgm_sample_above_maximum", "", [](auto&, auto& p) { bytes(p, "P2\n2 1\n100\n7 101\n"); },
     IMAGE_DONNEES_ENDOMMAGEES},
    {"pgm_maximum_0", "", [](auto&, auto& p) { bytes(p, "P5\n1 1\n0\n\x00"); },
     IMAGE_DONNEES_ENDOMMAGEES},
    {"pnm_2147483648_wide", "", [](auto&, auto& p) { bytes(p, "P5\n2147483648 1\n255\n"); },
     IMAGE_TAILLE_HORS_LIMITES},
    {"pam_unknown_tuple_type", "",
     [](auto&, auto& p) {
       bytes(p, "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\nabcd");
     },
     IMAGE_VARIANTE_NON_PRISE_EN_CHARGE},
    {"pam_header_cut", "", [](auto&, auto& p) { bytes(p, "P7\nWIDTH 1\nHEIGHT 1\n"); },
     IMAGE_ERREUR_DE_LECTURE},
    {"directory", "", [](auto&, auto& p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); },
     IMAGE_ERREUR_DE_LECTURE},
    {"fifo", "", [](auto&, auto& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
     IMAGE_PAS_D_ACCES_EN_LECTURE},
    {"missing", "", [](auto&, auto&) {}, IMAGE_PAS_D_ACCES_EN_LECTURE},
};

// Test names show the row's name, not its bytes.
void PrintTo(const Hostile& row, std::ostream* os) {
  *os << row.name;
}

class HostileFiles : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileFiles, GiveTheirStatusAndNothingElse) {
  const Hostile& h = GetParam();
  if (*h.tools != '\0' && !programs_present(h.tools)) GTEST_SKIP() << "missing: " << h.tools;
  TempDir dir;
  const std::string path = dir / "hostile";
  h.make(dir, path);
  const auto before = dir.entries();
  const Outcome outcome = run_in_child([&] {
    alarm(20);  // a read that waits (a pipe) fails the row
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    int rows = -7;
    int columns = -7;
    // The buffer protocol: the size, then a buffer of that size (for what is not refused on its
    // size), never written past.
    statut_image status = charger_image_grise(path.c_str(), h.page, nullptr, 0, &rows, &columns);
    if (status != IMAGE_TAMPON_TROP_PETIT && (rows != -7 || columns != -7)) {
      std::_Exit(101);  // dimensions stored on a failure
    }
    const long long pixels = static_cast<long long>(rows) * columns;
    std::vector<unsigned char> image(1, 0x5A);
    if (status == IMAGE_TAMPON_TROP_PETIT && pixels <= (1 << 20)) {
      image.assign(static_cast<std::size_t>(pixels) + 1, 0x5A);
      status = charger_image_grise(path.c_str(), h.page, image.data(), image.size() - 1, &rows,
                                   &columns);
    }
    if (image.back() != 0x5A) std::_Exit(102);
    int pages = -7;
    const statut_image counted = compter_pages(path.c_str(), &pages);
    if (counted != IMAGE_OK && pages != -7) std::_Exit(103);
    // Refused before any large allocation: the child grows by little (its size at the fork, the
    // test program's, does not count).
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    if (after.ru_maxrss - before.ru_maxrss > 64 * 1024) std::_Exit(104);
    std::_Exit(status);
  });
  EXPECT_EQ(outcome.status, static_cast<int>(h.status))
      << "status " << outcome.status << ": " << decrire_statut_image(statut_image(outcome.status));
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(dir.entries(), before);
}

INSTANTIATE_TEST_SUITE_P(Table, HostileFiles, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& info) {
                           return std::string(info.param.name);
                         });

// A thousand pages are counted from their directories alone: their strips lie outside the file,
// which reading any raster would find.
TEST(HostileFiles, AThousandPagesCountedWithoutTheirRasters) {
  TempDir dir;
  const std::string path = dir / "pages.tif";
  write_file(path, tiff_of(4, 1, 1000000000, 4, 1000, "abcd"));
  int pages = 0;
  EXPECT_EQ(compter_pages(path.c_str(), &pages), IMAGE_OK);
  EXPECT_EQ(pages, 1000);
  unsigned char image[4];
  int rows = 0;
  int columns = 0;
  EXPECT_EQ(charger_image_grise(path.c_str(), 999, image, 4, &rows, &columns),
            IMAGE_DONNEES_ENDOMMAGEES);
  // The same pages with their strip in the file: the last one reads.
  write_file(path, tiff_of(4, 1, 8, 4, 1000, "abcd"));
  ASSERT_EQ(charger_image_grise(path.c_str(), 999, image, 4, &rows, &columns), IMAGE_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image), 4), "abcd");
}

}  // namespace
