// seuiller on the files people have: every format in (as the library reads it), every format out
// (-t), every page of a multi-page TIFF, pipelines of PNG and TIFF, and damaged inputs that leave
// nothing behind, neither in the output folder nor in the temporary one.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

bool netpbm_and_libtiff_tools() {
  return programs_present("pnmtopng pamtotiff tiffcp pnmtojpeg pgmnoise");
}

Outcome sh(const TempDir& dir, const std::string& script) {
  return run_command({"/bin/sh", "-c", "S='" SEUILLER_PATH "'; " + script}, dir.path().string());
}

// Page `page` of `name` as the library reads it.
std::vector<unsigned char> grey(const std::string& name, int page = 0) {
  int rows = 0;
  int columns = 0;
  EXPECT_EQ(charger_image_grise(name.c_str(), page, nullptr, 0, &rows, &columns),
            IMAGE_TAMPON_TROP_PETIT)
      << name;
  std::vector<unsigned char> image(std::size_t(rows) * columns);
  EXPECT_EQ(charger_image_grise(name.c_str(), page, image.data(), image.size(), &rows, &columns),
            IMAGE_OK)
      << name;
  return image;
}

std::vector<unsigned char> at_128(std::vector<unsigned char> image) {
  binariser(image.data(), image.data(), image.size(), 128);
  return image;
}

// The inputs: a colour PNG, a JPEG, a 16-bit greymap and a three-page TIFF (grey, colour, bitmap).
const char* const kInputs =
    "for s in 1 2 3; do pgmnoise -randomseed=$s 70 40 > g$s.pgm 2>/dev/null; done && "
    "rgb3toppm g1.pgm g2.pgm g3.pgm > c.ppm && pnmtopng c.ppm > in/photo.png && "
    "pnmtojpeg c.ppm > in/scan.jpg && pamdepth 65535 g1.pgm > in/deep.pgm && "
    "pamtotiff g2.pgm > a.tif && pamtotiff -lzw c.ppm > b.tif && "
    "pgmtopbm -threshold g3.pgm | pamtotiff -g4 > c.tif && tiffcp a.tif b.tif c.tif in/pages.tif";

TEST(SeuillerFormats, EveryFormatInEveryFormatOut) {
  if (!netpbm_and_libtiff_tools()) GTEST_SKIP();
  TempDir dir;
  ASSERT_EQ(sh(dir, std::string("mkdir in && ") + kInputs).status, 0);
  const std::vector<std::string> inputs = {"photo.png", "scan.jpg", "deep.pgm", "pages.tif"};
  struct Case {
    const char* option;
    const char* extension;
  };
  for (const Case c : {Case{"-t png", ".png"}, Case{"-t tiff", ".tif"}, Case{"-b", ".pbm"},
                       Case{"-t pbm", ".pbm"}, Case{"", ".pgm"}}) {
    SCOPED_TRACE(c.option);
    const Outcome outcome =
        sh(dir, std::string("rm -rf out && $S -q ") + c.option +
                    " 128 out in/photo.png in/scan.jpg in/deep.pgm in/pages.tif");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    const bool tiff = std::string(c.extension) == ".tif";
    std::vector<std::string> expected_files = {"deep.pgm"};
    if (std::string(c.extension) != ".pgm") expected_files[0] = std::string("deep") + c.extension;
    for (const std::string stem : {"photo", "scan"}) expected_files.push_back(stem + c.extension);
    if (tiff) {
      expected_files.push_back("pages.tif");
    } else {
      for (int p = 1; p <= 3; ++p) {
        expected_files.push_back("pages-p" + std::to_string(p) + c.extension);
      }
    }
    std::sort(expected_files.begin(), expected_files.end());
    const std::string out = (dir / "out");
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected_files);
    // Every page written is the input's page at 128, read back.
    for (const std::string& name : inputs) {
      const std::string stem = name.substr(0, name.find('.'));
      int pages = 0;
      ASSERT_EQ(compter_pages((dir / ("in/" + name)).c_str(), &pages), IMAGE_OK);
      for (int page = 0; page < pages; ++page) {
        std::string written = out + "/" + stem + c.extension;
        int written_page = page;
        if (pages > 1 && !tiff) {
          written = out + "/" + stem + "-p" + std::to_string(page + 1) + c.extension;
          written_page = 0;
        }
        if (stem == "deep" && std::string(c.extension) == ".pgm") written = out + "/deep.pgm";
        EXPECT_EQ(grey(written, written_page), at_128(grey(dir / ("in/" + name), page)))
            << written << " page " << page;
      }
    }
  }
}

TEST(SeuillerFormats, PipelinesOfPngAndTiff) {
  if (!netpbm_and_libtiff_tools()) GTEST_SKIP();
  TempDir dir;
  ASSERT_EQ(sh(dir, std::string("mkdir in tmp && ") + kInputs).status, 0);
  // Standard input of every kind, copied to a temporary file that does not outlive the command.
  for (const char* input : {"photo.png", "scan.jpg", "pages.tif", "deep.pgm"}) {
    SCOPED_TRACE(input);
    const Outcome outcome =
        sh(dir, std::string("TMPDIR=tmp $S -t tiff 128 - - < in/") + input + " > piped.tif");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    int pages = 0;
    ASSERT_EQ(compter_pages((dir / ("in/" + std::string(input))).c_str(), &pages), IMAGE_OK);
    for (int page = 0; page < pages; ++page) {
      EXPECT_EQ(grey(dir / "piped.tif", page),
                at_128(grey(dir / ("in/" + std::string(input)), page)));
    }
    EXPECT_EQ(sh(dir, "ls -A tmp").out, "");
  }
  // Bitmaps of every page one after another; a PNG cannot hold three pages.
  const Outcome bitmaps = sh(dir, "$S -b 128 - - < in/pages.tif | pamfile -allimages | wc -l");
  EXPECT_EQ(bitmaps.out, "3\n");
  const Outcome png = sh(dir, "TMPDIR=tmp $S -t png 128 - in/pages.tif > piped.png");
  EXPECT_EQ(png.status, 1);
  EXPECT_EQ(png.err, "seuiller: plusieurs pages, qu'un PNG ne peut tenir : in/pages.tif\n");
  EXPECT_EQ(read_file(dir / "piped.png"), "");
  EXPECT_EQ(sh(dir, "ls -A tmp").out, "");
}

TEST(SeuillerFormats, DamagedInputsLeaveNothing) {
  if (!netpbm_and_libtiff_tools()) GTEST_SKIP();
  TempDir dir;
  ASSERT_EQ(sh(dir, std::string("mkdir in tmp && ") + kInputs +
                        " && head -c 300 in/photo.png > in/cut.png && head -c 900 in/pages.tif > "
                        "in/torn.tif && printf 'GIF89a' > in/other.gif")
                .status,
            0);
  for (const char* format : {"png", "tiff", "pgm"}) {
    const Outcome outcome = sh(dir, std::string("TMPDIR=tmp $S -q -j 1 -t ") + format +
                                        " otsu out in/cut.png in/torn.tif in/other.gif");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "seuiller: Erreur de lecture de l'image in/cut.png\n"
              "seuiller: Erreur de lecture de l'image in/torn.tif\n"
              "seuiller: Format inconnu pour l'image in/other.gif\n");
    EXPECT_EQ(sh(dir, "ls -A out tmp").out, "out:\n\ntmp:\n");
    const Outcome piped =
        sh(dir, std::string("TMPDIR=tmp $S -t ") + format + " otsu - - < in/cut.png > piped");
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.err, "seuiller: Erreur de lecture de l'image -\n");
    EXPECT_EQ(read_file(dir / "piped"), "");
    EXPECT_EQ(sh(dir, "ls -A tmp").out, "");
  }
}

}  // namespace
