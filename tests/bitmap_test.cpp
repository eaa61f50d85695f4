// Bitmaps: our writer and reader against each other and against netpbm, at widths around the
// byte and the vector boundaries; and a greymap and a bitmap written to a stream.

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

std::vector<unsigned char> picture(int rows, int columns) {
  std::vector<unsigned char> p(std::size_t(rows) * columns);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>(i * 37 + i / 11);
  return p;
}

// What a bitmap of `p` holds, read back: 0 below 128, 255 elsewhere.
std::vector<unsigned char> thresholded(std::vector<unsigned char> p) {
  for (unsigned char& v : p) v = v < 128 ? 0 : 255;
  return p;
}

bool netpbm_present() {
  return programs_present("pnmtoplainpnm pgmtopbm");
}

TEST(Bitmaps, RoundTripThroughOurReaderAndNetpbm) {
  const bool netpbm = netpbm_present();
  TempDir dir;
  for (const int columns : {1, 7, 8, 9, 63, 64, 65, 8 * 16 + 1, 8 * 200 + 1}) {
    SCOPED_TRACE("width " + std::to_string(columns));
    const int rows = 3;
    const std::vector<unsigned char> p = picture(rows, columns);
    const std::string ours = dir / "ours.pbm";
    ASSERT_EQ(enregistrer_image_pbm(ours.c_str(), p.data(), rows, columns), IMAGE_OK);
    const std::size_t stride = (std::size_t(columns) + 7) / 8;
    const std::string header = "P4\r" + std::to_string(columns) + " 3\r";
    const std::string file = read_file(ours);
    ASSERT_EQ(file.size(), header.size() + 3 * stride);
    EXPECT_EQ(file.substr(0, header.size()), header);
    std::vector<unsigned char> back(p.size() + 1, 7);
    int r = 0;
    int c = 0;
    EXPECT_EQ(charger_image_pbm(ours.c_str(), back.data(), p.size(), &r, &c), IMAGE_OK);
    back.pop_back();
    EXPECT_EQ(back, thresholded(p));
    EXPECT_TRUE(r == rows && c == columns);
    if (!netpbm) continue;
    // netpbm reads ours as the same pixels (in plain text, '1' black)...
    const Outcome plain = run_command({"/bin/sh", "-c", "pnmtoplainpnm \"$0\"", ours});
    std::string expected_text;
    for (const unsigned char v : thresholded(p)) expected_text += v == 0 ? '1' : '0';
    std::string digits;
    const std::size_t raster = plain.out.find('\n', plain.out.find('\n') + 1) + 1;
    for (std::size_t i = raster; i < plain.out.size(); ++i) {
      if (plain.out[i] == '0' || plain.out[i] == '1') digits += plain.out[i];
    }
    EXPECT_EQ(digits, expected_text);
    // ... and we read netpbm's, raw and plain, as the same pixels.
    ASSERT_EQ(enregistrer_image_pgm((dir / "grey.pgm").c_str(), p.data(), rows, columns), IMAGE_OK);
    run_command({"/bin/sh", "-c", "pgmtopbm -threshold -value 0.5 \"$0\" > \"$1\"",
                 dir / "grey.pgm", dir / "theirs.pbm"});
    run_command(
        {"/bin/sh", "-c", "pnmtoplainpnm \"$0\" > \"$1\"", dir / "theirs.pbm", dir / "plain.pbm"});
    for (const char* name : {"theirs.pbm", "plain.pbm"}) {
      std::fill(back.begin(), back.end(), 7);
      EXPECT_EQ(charger_image_pbm((dir / name).c_str(), back.data(), back.size(), &r, &c), IMAGE_OK)
          << name;
      EXPECT_EQ(back, thresholded(p)) << name;
    }
  }
}

// The usual image tools read our bitmaps as the same pixels: each turns one into a greymap.
TEST(Bitmaps, ImageToolsReadOurBitmaps) {
  const struct {
    const char* tool;
    const char* program;  // looked up on the PATH
    const char* command;  // $0 our bitmap, $1 the greymap to make
  } tools[] = {
      {"netpbm", "pbmtopgm",
       "pamfile \"$0\" | grep -q 'PBM raw, 77 by 3' && pbmtopgm 1 1 \"$0\" > \"$1\""},
      {"ImageMagick", "convert", "convert \"$0\" -depth 8 \"pgm:$1\""},
      {"libvips", "vips", "vips copy \"$0\" \"$1\""},
      {"Pillow", "/usr/bin/python3",
       "/usr/bin/python3 -c 'import sys; from PIL import Image; "
       "Image.open(sys.argv[1]).convert(\"L\").save(sys.argv[2], \"PPM\")' \"$0\" \"$1\""},
  };
  TempDir dir;
  const std::vector<unsigned char> p = picture(3, 77);
  ASSERT_EQ(enregistrer_image_pbm((dir / "ours.pbm").c_str(), p.data(), 3, 77), IMAGE_OK);
  for (const auto& t : tools) {
    if (!programs_present(t.program)) continue;
    std::remove((dir / "theirs.pgm").c_str());
    const Outcome run =
        run_command({"/bin/sh", "-c", t.command, dir / "ours.pbm", dir / "theirs.pgm"});
    EXPECT_EQ(run.status, 0) << t.tool << ": " << run.err;
    std::vector<unsigned char> back(p.size());
    int maximum = 0;
    EXPECT_EQ(charger_image_pgm((dir / "theirs.pgm").c_str(), back.data(), back.size(), nullptr,
                                nullptr, &maximum),
              IMAGE_OK)
        << t.tool;
    for (unsigned char& v : back)
      v = maximum > 0 ? static_cast<unsigned char>(v * 255 / maximum) : v;
    EXPECT_EQ(back, thresholded(p)) << t.tool;
  }
}

TEST(Bitmaps, StrictReadingAndStatuses) {
  TempDir dir;
  const struct {
    std::string file;
    statut_image expected;
  } cases[] = {
      {"P4\n8 1\n\x0f", IMAGE_OK},
      {"P1\n3 1\n0 1\n0", IMAGE_OK},
      {"P4\n8 2\n\x0f", IMAGE_ERREUR_DE_LECTURE},
      {"P1\n3 1\n0 2 0", IMAGE_PAS_PBM},
      {"P5\n3 1\n255\nabc", IMAGE_PAS_PBM},
      {"P4\n0 1\n", IMAGE_PAS_PBM},
  };
  for (const auto& c : cases) {
    write_file(dir / "b.pbm", c.file);
    unsigned char raster[64];
    EXPECT_EQ(charger_image_pbm((dir / "b.pbm").c_str(), raster, sizeof raster, nullptr, nullptr),
              c.expected)
        << c.file;
  }
  unsigned char pixels[8] = {0, 0, 0, 0, 255, 255, 255, 255};
  EXPECT_EQ(enregistrer_image_pbm((dir / "c.pbm").c_str(), pixels, 0, 8),
            IMAGE_TAILLE_HORS_LIMITES);
  EXPECT_EQ(enregistrer_image_pbm(nullptr, pixels, 1, 8), IMAGE_PAS_D_ACCES_EN_ECRITURE);
}

// Dimensions beyond an int, which every strict reader refuses alike, before any allocation: a
// bitmap's raster is small in the file (a bit a pixel) but a byte a pixel in memory. The
// dimensions are left untouched.
TEST(Bitmaps, DimensionsBeyondAnIntAreOutOfRange) {
  TempDir dir;
  const std::string name = dir / "wide";
  using Reader = statut_image (*)(const char*, unsigned char*, std::size_t, int*, int*);
  const Reader bitmap = charger_image_pbm;
  const Reader grey = [](const char* n, unsigned char* i, std::size_t c, int* r, int* w) {
    return charger_image_pgm(n, i, c, r, w, nullptr);
  };
  const Reader colour = [](const char* n, unsigned char* i, std::size_t c, int* r, int* w) {
    return charger_image_ppm(n, i, c, r, w, nullptr);
  };
  const Reader grey_header = [](const char* n, unsigned char*, std::size_t, int* r, int* w) {
    return lire_entete_image_pgm(n, r, w, nullptr);
  };
  const Reader stream = [](const char* n, unsigned char*, std::size_t, int* r, int* w) {
    std::FILE* f = std::fopen(n, "rb");
    const statut_image status = lire_entete_flux_pgm(f, r, w, nullptr);
    if (f != nullptr) std::fclose(f);
    return status;
  };
  const struct {
    const char* what;
    std::string file;
    Reader reader;
    bool room;  // a buffer of 64 bytes, or the call that asks how much room to make
  } cases[] = {
      {"P4, width 2^31", "P4\n2147483648 1\n" + std::string(64, '\0'), bitmap, true},
      {"P4, width 2^31, make room", "P4\n2147483648 1\n", bitmap, false},
      {"P1, width 2^31", "P1\n2147483648 1\n0", bitmap, true},
      {"P1, width 2^31, make room", "P1\n2147483648 1\n0", bitmap, false},
      {"P4, height 2^31", "P4\n1 2147483648\n", bitmap, true},
      {"P4, far beyond", "P4\n99999999999999 1\n", bitmap, false},
      {"P4, 2^31 - 1 pixels and one row more", "P4\n2147483647 2\n", bitmap, false},
      {"P5, width 2^31", "P5\n2147483648 1\n255\n", grey, true},
      {"P5 header, height 2^31", "P5\n1 2147483648\n255\n", grey_header, false},
      {"P6, width 2^31", "P6\n2147483648 1\n255\n", colour, false},
      {"P5 stream, width 2^31", "P5\n2147483648 1\n255\n", stream, false},
  };
  for (const auto& c : cases) {
    write_file(name, c.file);
    unsigned char raster[64] = {};
    int rows = -7;
    int columns = -7;
    EXPECT_EQ(c.reader(name.c_str(), c.room ? raster : nullptr, c.room ? sizeof raster : 0, &rows,
                       &columns),
              IMAGE_TAILLE_HORS_LIMITES)
        << c.what;
    EXPECT_EQ(rows, -7) << c.what;
    EXPECT_EQ(columns, -7) << c.what;
    EXPECT_EQ(std::string(raster, raster + sizeof raster), std::string(64, '\0')) << c.what;
  }
}

// Memory that runs out inside a reader is a status, never an exception through the C function
// (which would end the process): a bitmap of 2^31 - 1 pixels a row needs a row buffer of 256 MiB,
// which an address-space limit refuses.
TEST(Bitmaps, MemoryThatRunsOutIsAStatus) {
#if defined(UNDER_SANITIZERS)
  GTEST_SKIP() << "under_sanitizers: an address-space limit leaves them no room for their shadow";
#endif
  TempDir dir;
  const std::string name = dir / "wide.pbm";
  write_file(name, "P4\n2147483647 1\n" + std::string(4096, '\0'));
  const Outcome child = run_in_child([&] {
    // Room for the whole raster, as the caller must give, in address space only.
    const std::size_t bytes = std::size_t{1} << 31;
    void* room = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (room == MAP_FAILED) _exit(100);
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) _exit(101);
    std::fclose(statm);
    const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t{64} << 20);
    const rlimit to{limit, limit};
    if (setrlimit(RLIMIT_AS, &to) != 0) _exit(102);
    int rows = -7;
    const statut_image status =
        charger_image_pbm(name.c_str(), static_cast<unsigned char*>(room), bytes, &rows, nullptr);
    _exit(status == IMAGE_MEMOIRE_INSUFFISANTE && rows == -7 ? 0 : 103 + status);
  });
  EXPECT_EQ(child.status, 0) << child.err;
}

// Two images one after the other in one stream are read one at a time; a stream writer's output
// is what the file writer writes.
TEST(Streams, TwoImagesInOneStreamAndBothWriters) {
  TempDir dir;
  const std::vector<unsigned char> a = picture(2, 3);
  const std::vector<unsigned char> b = picture(4, 5);
  std::FILE* out = std::fopen((dir / "two.pgm").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(enregistrer_flux_pgm(out, a.data(), 2, 3), IMAGE_OK);
  EXPECT_EQ(enregistrer_flux_pgm(out, b.data(), 4, 5), IMAGE_OK);
  EXPECT_EQ(enregistrer_flux_pbm(out, b.data(), 4, 5), IMAGE_OK);
  std::fclose(out);
  ASSERT_EQ(enregistrer_image_pgm((dir / "b.pgm").c_str(), b.data(), 4, 5), IMAGE_OK);
  ASSERT_EQ(enregistrer_image_pbm((dir / "b.pbm").c_str(), b.data(), 4, 5), IMAGE_OK);
  EXPECT_EQ(read_file(dir / "two.pgm"), std::string("P5\r3 2\r255\r") +
                                            std::string(a.begin(), a.end()) +
                                            read_file(dir / "b.pgm") + read_file(dir / "b.pbm"));
  std::FILE* in = std::fopen((dir / "two.pgm").c_str(), "rb");
  for (const auto* image : {&a, &b}) {
    int rows = 0;
    int columns = 0;
    int maximum = 0;
    ASSERT_EQ(lire_entete_flux_pgm(in, &rows, &columns, &maximum), IMAGE_OK);
    std::vector<unsigned char> raster(std::size_t(rows) * columns);
    ASSERT_EQ(charger_raster_flux_pgm(in, raster.data(), raster.size(), maximum), IMAGE_OK);
    EXPECT_EQ(raster, *image);
  }
  EXPECT_EQ(lire_entete_flux_pgm(in, nullptr, nullptr, nullptr), IMAGE_PAS_PGM);  // the bitmap
  std::fclose(in);
}

}  // namespace
