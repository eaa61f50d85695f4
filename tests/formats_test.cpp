// Every format variant read by charger_image_grise against a reference: each file is made here by
// the tool that writes it (netpbm, ImageMagick, libtiff's tools, Pillow), its raw samples are read
// by a reference decoder (netpbm, libtiff's tools, Pillow) and put through the documented grey
// rule by tests/reference/grey_rule.py; the two greymaps must be equal byte for byte. Then the
// bilevel files we write, read back by Pillow, ImageMagick and libtiff's tools.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

const std::string kReference = REFERENCE_DIR;

// The tools a row needs, the shell commands that make f.<ext> in the working folder from the
// sources below, and the reference that writes ref.pam: the raw samples of page `page`.
struct Variant {
  const char* name;
  const char* tools;
  const char* make;
  const char* reference;
  int page = 0;
};

// References, by the program that decodes. tifftopnm reads rows (-byrow) to keep 16-bit samples
// and palettes whole, which it cannot do for tiles: Pillow reads those.
const char* const kPngtopam = "pngtopam -alphapam f.png | pamtopam > ref.pam";
const char* const kTifftopnm =
    "tiffcp -c none f.tif,$PAGE p.tif && tifftopnm -byrow p.tif 2>/dev/null | "
    "pamtopam > ref.pam";
const char* const kJpegtopnm = "jpegtopnm f.jpg 2>/dev/null | pamtopam > ref.pam";
const char* const kPamtopam = "pamtopam < f.pnm > ref.pam";
const char* const kPillow = "$PY raw f.* $PAGE ref.pam";

const Variant kVariants[] = {
    // PNG
    {"png_grey_1", "pnmtopng", "pnmtopng bits.pbm > f.png", kPngtopam},
    {"png_grey_2", "pnmtopng", "pamdepth 3 grey16.pgm | pnmtopng > f.png", kPngtopam},
    {"png_grey_4", "pnmtopng", "pamdepth 15 grey16.pgm | pnmtopng > f.png", kPngtopam},
    {"png_grey_8", "python", "$PY write L grey8.pam f.png", kPillow},
    {"png_grey_16", "pnmtopng", "pnmtopng grey16.pgm > f.png", kPngtopam},
    {"png_grey_alpha_8", "python", "$PY write LA greya8.pam f.png", kPngtopam},
    {"png_grey_alpha_16", "pnmtopng", "pnmtopng -alpha=alpha16.pgm grey16.pgm > f.png", kPngtopam},
    {"png_palette", "convert", "convert rgb8.ppm -colors 40 PNG8:f.png", kPngtopam},
    {"png_palette_transparent", "python", "$PY write P16 rgb8.pam f.png transparency=3", kPngtopam},
    {"png_rgb_8", "convert", "convert rgb8.ppm -define png:color-type=2 f.png", kPillow},
    {"png_rgb_16", "pnmtopng", "pnmtopng rgb16.ppm > f.png", kPngtopam},
    {"png_rgba_8", "python", "$PY write RGBA rgba8.pam f.png", kPillow},
    {"png_rgba_16", "pnmtopng", "pnmtopng -alpha=alpha16.pgm rgb16.ppm > f.png", kPngtopam},
    {"png_interlaced_rgb", "pnmtopng", "pnmtopng -interlace rgb8.ppm > f.png", kPngtopam},
    {"png_interlaced_grey_1", "pnmtopng", "pnmtopng -interlace bits.pbm > f.png", kPngtopam},
    {"png_interlaced_rgba_16", "pnmtopng",
     "pnmtopng -interlace -alpha=alpha16.pgm rgb16.ppm > f.png", kPngtopam},
    // TIFF
    {"tiff_none_grey_8", "pamtotiff", "pamtotiff grey8.pgm > f.tif", kTifftopnm},
    {"tiff_lzw_rgb_8", "pamtotiff", "pamtotiff -lzw rgb8.ppm > f.tif", kTifftopnm},
    {"tiff_deflate_grey_16", "tiffcp", "pamtotiff grey16.pgm > t.tif && tiffcp -c zip t.tif f.tif",
     kTifftopnm},
    {"tiff_packbits_rgb_16", "pamtotiff", "pamtotiff -packbits rgb16.ppm > f.tif", kTifftopnm},
    {"tiff_lzw_predictor_3_rows", "tiffcp",
     "pamtotiff rgb8.ppm > t.tif && tiffcp -r 3 -c lzw:2 t.tif f.tif", kTifftopnm},
    {"tiff_jpeg_ycbcr", "tiffcp", "pamtotiff rgb8.ppm > t.tif && tiffcp -c jpeg t.tif f.tif",
     kPillow},
    {"tiff_jpeg_grey", "tiffcp", "pamtotiff grey8.pgm > t.tif && tiffcp -c jpeg t.tif f.tif",
     kTifftopnm},
    {"tiff_group_4", "pamtotiff", "pamtotiff -g4 bits.pbm > f.tif", kTifftopnm},
    {"tiff_group_3", "pamtotiff", "pamtotiff -g3 bits.pbm > f.tif", kTifftopnm},
    {"tiff_group_3_2d", "pamtotiff", "pamtotiff -g3 -2d bits.pbm > f.tif", kTifftopnm},
    {"tiff_1_min_is_black", "pamtotiff", "pamtotiff -minisblack bits.pbm > f.tif", kTifftopnm},
    {"tiff_grey_2", "pamtotiff", "pamdepth 3 grey16.pgm | pamtotiff > f.tif", kTifftopnm},
    {"tiff_grey_4", "pamtotiff", "pamdepth 15 grey16.pgm | pamtotiff > f.tif", kTifftopnm},
    {"tiff_min_is_white_8", "pamtotiff", "pamtotiff -miniswhite grey8.pgm > f.tif", kTifftopnm},
    {"tiff_palette_netpbm", "pamtotiff", "pnmquant 16 rgb8.ppm 2>/dev/null | pamtotiff > f.tif",
     kTifftopnm},
    {"tiff_palette_imagemagick", "convert", "convert rgb8.ppm -colors 16 -type Palette f.tif",
     kPillow},
    {"tiff_tiled_rgb", "tiffcp", "pamtotiff rgb8.ppm > t.tif && tiffcp -t -w 16 -l 16 t.tif f.tif",
     kPillow},
    {"tiff_tiled_lzw_grey_16", "tiffcp",
     "pamtotiff grey16.pgm > t.tif && tiffcp -t -w 32 -l 16 -c lzw t.tif f.tif", kPillow},
    {"tiff_tiled_group_4", "tiffcp",
     "pamtotiff bits.pbm > t.tif && tiffcp -t -w 16 -l 16 -c g4 t.tif f.tif", kPillow},
    {"tiff_imagemagick_zip_rgb_16", "convert", "convert rgb16.ppm -compress zip f.tif", kTifftopnm},
    {"tiff_pillow_rgba", "python", "$PY write RGBA rgba8.pam f.tif compression=tiff_lzw", kPillow},
    {"tiff_pages_first", "tiffcp", "sh pages.sh", kTifftopnm, 0},
    {"tiff_pages_second", "tiffcp", "sh pages.sh", kPillow, 1},
    {"tiff_pages_third", "tiffcp", "sh pages.sh", kTifftopnm, 2},
    // JPEG
    {"jpeg_baseline_rgb", "pnmtojpeg", "pnmtojpeg rgb8.ppm > f.jpg", kJpegtopnm},
    {"jpeg_progressive_rgb", "pnmtojpeg", "pnmtojpeg --progressive rgb8.ppm > f.jpg", kJpegtopnm},
    {"jpeg_grey", "pnmtojpeg", "pnmtojpeg grey8.pgm > f.jpg", kJpegtopnm},
    {"jpeg_pillow_420", "python", "$PY write RGB rgb8.pam f.jpg quality=80", kPillow},
    {"jpeg_imagemagick_444_progressive", "convert",
     "convert rgb8.ppm -sampling-factor 1x1 -interlace Plane f.jpg", kPillow},
    // Netpbm
    {"pbm_plain", "pnmtoplainpnm", "pnmtoplainpnm bits.pbm > f.pnm", kPamtopam},
    {"pbm_raw", "pamtopam", "cp bits.pbm f.pnm", kPamtopam},
    {"pgm_plain_16", "pnmtoplainpnm", "pnmtoplainpnm grey16.pgm > f.pnm", kPamtopam},
    {"pgm_plain_100", "pnmtoplainpnm", "pamdepth 100 grey16.pgm | pnmtoplainpnm > f.pnm",
     kPamtopam},
    {"ppm_plain", "pnmtoplainpnm", "pnmtoplainpnm rgb8.ppm > f.pnm", kPamtopam},
    {"pgm_maximum_1000", "pamdepth", "pamdepth 1000 grey16.pgm > f.pnm", kPamtopam},
    {"pgm_maximum_15", "pamdepth", "pamdepth 15 grey16.pgm > f.pnm", kPamtopam},
    {"pgm_16", "pamtopam", "cp grey16.pgm f.pnm", kPamtopam},
    {"ppm_16", "pamtopam", "cp rgb16.ppm f.pnm", kPamtopam},
    {"ppm_maximum_7", "pamdepth", "pamdepth 7 rgb8.ppm > f.pnm", kPamtopam},
    {"pam_grey", "pamtopam", "pamtopam < grey8.pgm > f.pnm", kPamtopam},
    {"pam_grey_16", "pamtopam", "pamtopam < grey16.pgm > f.pnm", kPamtopam},
    {"pam_rgb", "pamtopam", "pamtopam < rgb8.ppm > f.pnm", kPamtopam},
    {"pam_grey_alpha", "pamtopam", "cp greya8.pam f.pnm", kPamtopam},
    {"pam_rgb_alpha_16", "pamtopam", "cp rgba16.pam f.pnm", kPamtopam},
    {"pam_blackandwhite", "pamtopam", "pamtopam < bits.pbm > f.pnm", kPamtopam},
    {"pam_blackandwhite_alpha", "pamstack",
     "pgmtopbm -threshold alpha8.pgm | pamtopam > a.pam && pamtopam < bits.pbm > b.pam && "
     "pamstack -tupletype BLACKANDWHITE_ALPHA b.pam a.pam > f.pnm",
     kPamtopam},
};

// The seed: a colour picture and an opacity, 16 bits a sample, 45 x 29 (odd, to cut bytes, tiles
// and blocks short), with smooth ramps, a hard pattern and opacities from 0 to 65535.
void write_seed(const TempDir& dir) {
  const int width = 45;
  const int height = 29;
  std::string rgb = "P6\n45 29\n65535\n";
  std::string alpha = "P5\n45 29\n65535\n";
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned values[4] = {
          static_cast<unsigned>(x * 65535 / (width - 1)),
          static_cast<unsigned>(y * 65535 / (height - 1)),
          static_cast<unsigned>(((x * 7919 + y * 104729) % 65536)),
          static_cast<unsigned>((x + y) % 5 == 0 ? 0 : (x * y * 977) % 65536),
      };
      for (int c = 0; c < 4; ++c) {
        std::string& to = c < 3 ? rgb : alpha;
        to += static_cast<char>(values[c] >> 8);
        to += static_cast<char>(values[c] & 0xff);
      }
    }
  }
  write_file(dir / "rgb16.ppm", rgb);
  write_file(dir / "alpha16.pgm", alpha);
  write_file(dir / "pages.sh",
             "pamtotiff grey8.pgm > a.tif && pamtotiff -lzw rgb8.ppm > b.tif && "
             "pamtotiff -g4 bits.pbm > c.tif && tiffcp a.tif b.tif c.tif f.tif\n");
}

// The sources every variant is made from, by netpbm.
const char* const kSources =
    "pamdepth 255 rgb16.ppm > rgb8.ppm && ppmtopgm rgb16.ppm > grey16.pgm && "
    "pamdepth 255 grey16.pgm > grey8.pgm && pamdepth 255 alpha16.pgm > alpha8.pgm && "
    "pgmtopbm -threshold grey8.pgm > bits.pbm && "
    "pamstack -tupletype RGB_ALPHA rgb8.ppm alpha8.pgm > rgba8.pam && "
    "pamstack -tupletype GRAYSCALE_ALPHA grey8.pgm alpha8.pgm > greya8.pam && "
    "pamstack -tupletype RGB_ALPHA rgb16.ppm alpha16.pgm > rgba16.pam && "
    "pamtopam < grey8.pgm > grey8.pam && pamtopam < rgb8.ppm > rgb8.pam";

// The tools of every row ("python": numpy and Pillow), and the reference's.
bool have_all(const std::string& tools) {
  std::istringstream words(tools);
  std::string programs = "pamtopam pamstack pamdepth pgmtopbm";
  for (std::string tool; words >> tool;) {
    if (tool != "python") programs += " " + tool;
  }
  return python_modules_present("numpy, PIL") && programs_present(programs);
}

Outcome shell(const TempDir& dir, const std::string& script, int page = 0) {
  return run_command({"/bin/sh", "-c",
                      "PY='/usr/bin/python3 " + kReference +
                          "/pillow_files.py'; PAGE=" + std::to_string(page) + "; " + script},
                     dir.path().string());
}

// What charger_image_grise reads of `name`, by its buffer protocol.
statut_image read_grey(const std::string& name, int page, std::vector<unsigned char>* image,
                       int* rows, int* columns) {
  const statut_image first = charger_image_grise(name.c_str(), page, nullptr, 0, rows, columns);
  if (first != IMAGE_TAMPON_TROP_PETIT) return first;
  image->assign(std::size_t(*rows) * std::size_t(*columns) + 1, 0xA5);
  const statut_image status =
      charger_image_grise(name.c_str(), page, image->data(), image->size() - 1, rows, columns);
  EXPECT_EQ(image->back(), 0xA5) << "written past the buffer";
  image->pop_back();
  return status;
}

// Test names show the row's name, not its bytes.
void PrintTo(const Variant& row, std::ostream* os) {
  *os << row.name;
}

class Formats : public ::testing::TestWithParam<Variant> {};

TEST_P(Formats, EqualTheReferenceThroughTheRule) {
  const Variant& v = GetParam();
  if (!have_all(v.tools)) GTEST_SKIP() << "tools missing: " << v.tools;
  TempDir dir;
  write_seed(dir);
  ASSERT_EQ(shell(dir, kSources).status, 0);
  const Outcome made = shell(dir, v.make);
  ASSERT_EQ(made.status, 0) << made.err;
  const Outcome reference = shell(dir, v.reference, v.page);
  ASSERT_EQ(reference.status, 0) << reference.err;
  const Outcome rule =
      shell(dir, "/usr/bin/python3 " + kReference + "/grey_rule.py ref.pam expected.pgm");
  ASSERT_EQ(rule.status, 0) << rule.err;

  std::string file;
  for (const char* name : {"f.png", "f.tif", "f.jpg", "f.pnm"}) {
    if (std::system(("test -f '" + (dir / name) + "'").c_str()) == 0) file = dir / name;
  }
  ASSERT_FALSE(file.empty());
  std::vector<unsigned char> ours;
  int rows = 0;
  int columns = 0;
  ASSERT_EQ(read_grey(file, v.page, &ours, &rows, &columns), IMAGE_OK);
  std::vector<unsigned char> expected(45 * 29);
  int r = 0;
  int c = 0;
  ASSERT_EQ(charger_image_pgm((dir / "expected.pgm").c_str(), expected.data(), expected.size(), &r,
                              &c, nullptr),
            IMAGE_OK);
  EXPECT_EQ(rows, r);
  EXPECT_EQ(columns, c);
  EXPECT_EQ(ours, expected);
  // The pages of the file, counted.
  int pages = 0;
  ASSERT_EQ(compter_pages(file.c_str(), &pages), IMAGE_OK);
  EXPECT_EQ(pages, std::string(v.make) == "sh pages.sh" ? 3 : 1);
}

INSTANTIATE_TEST_SUITE_P(Variants, Formats, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                           return std::string(info.param.name);
                         });

// A bilevel picture with every kind of row: runs, single pixels, all black, all white.
std::vector<unsigned char> bilevel(int rows, int columns) {
  std::vector<unsigned char> p(std::size_t(rows) * columns);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      const bool black = y == 0 || (y != 1 && ((x / 3 + y) % 4 == 0 || (x * y) % 7 == 1));
      p[std::size_t(y) * columns + x] = black ? (x % 2 ? 0 : 127) : (x % 2 ? 255 : 128);
    }
  }
  return p;
}

std::vector<unsigned char> levels(std::vector<unsigned char> p) {
  for (unsigned char& v : p) v = v < 128 ? 0 : 255;
  return p;
}

// The bilevel files we write, read back by three readers as the same pixels.
TEST(BilevelOut, ReadBackByPillowImageMagickAndLibtiff) {
  if (!have_all("convert tiffinfo tiffcp tifftopnm")) GTEST_SKIP() << "tools missing";
  TempDir dir;
  for (const int columns : {1, 8, 45, 64, 130}) {
    const int rows = 13;
    SCOPED_TRACE("width " + std::to_string(columns));
    const std::vector<unsigned char> p = bilevel(rows, columns);
    const std::vector<unsigned char> bytes = levels(p);
    const std::string expected(bytes.begin(), bytes.end());
    for (const char* name : {"out.png", "out.tif", "OUT.TIFF", "out.pbm", "out.pgm"}) {
      SCOPED_TRACE(name);
      const std::string path = dir / name;
      ASSERT_EQ(enregistrer_image_binaire(path.c_str(), p.data(), rows, columns), IMAGE_OK);
      // Pillow and ImageMagick, as 8-bit grey bytes.
      const Outcome pillow =
          run_command({"/usr/bin/python3", "-c",
                       "import sys; from PIL import Image; "
                       "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('L').tobytes())",
                       path});
      EXPECT_EQ(pillow.out, expected);
      const Outcome magick = shell(dir, std::string("convert ") + name + " -depth 8 gray:-");
      EXPECT_EQ(magick.out, expected);
      // And ours.
      std::vector<unsigned char> back;
      int r = 0;
      int c = 0;
      ASSERT_EQ(read_grey(path, 0, &back, &r, &c), IMAGE_OK);
      EXPECT_EQ(std::string(back.begin(), back.end()), expected);
    }
    // libtiff: Group 4, one bit, min-is-white; tiffcp decodes it whole into a plain file that
    // netpbm reads as the same pixels.
    const Outcome info = shell(dir, "tiffinfo out.tif");
    EXPECT_NE(info.out.find("Compression Scheme: CCITT Group 4"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Bits/Sample: 1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("min-is-white"), std::string::npos) << info.out;
    EXPECT_TRUE(info.err.empty()) << info.err;
    ASSERT_EQ(shell(dir, "rm -f plain.tif && tiffcp -c none out.tif plain.tif").status, 0);
    const Outcome plain = shell(dir, "tifftopnm plain.tif 2>/dev/null | pnmtoplainpnm");
    std::string digits;
    for (std::size_t i = plain.out.find('\n', plain.out.find('\n') + 1) + 1; i < plain.out.size();
         ++i) {
      if (plain.out[i] == '0' || plain.out[i] == '1') digits += plain.out[i] == '1' ? '\0' : '\xff';
    }
    EXPECT_EQ(digits, expected);
    // The PNG is one bit deep, grey.
    const Outcome png = run_command({"/usr/bin/python3", "-c",
                                     "import sys; from PIL import Image; "
                                     "print(Image.open(sys.argv[1]).mode)",
                                     dir / "out.png"});
    EXPECT_EQ(png.out, "1\n");
  }
}

// A multi-page Group 4 file: every page read back, by us and by libtiff's tools.
TEST(BilevelOut, PagesWrittenAsOneTiff) {
  if (!have_all("tiffinfo")) GTEST_SKIP() << "tools missing";
  TempDir dir;
  struct Pages {
    std::vector<std::vector<unsigned char>> images;
    std::vector<int> columns;
  } pages;
  for (const int columns : {9, 45, 200}) {
    pages.images.push_back(bilevel(7, columns));
    pages.columns.push_back(columns);
  }
  const auto give = [](void* context, int page, const unsigned char** image, int* rows,
                       int* columns) {
    const auto* p = static_cast<const Pages*>(context);
    *image = p->images[page].data();
    *rows = 7;
    *columns = p->columns[page];
    return IMAGE_OK;
  };
  const std::string path = dir / "pages.tif";
  ASSERT_EQ(enregistrer_pages_binaires(path.c_str(), 3, give, &pages), IMAGE_OK);
  int count = 0;
  ASSERT_EQ(compter_pages(path.c_str(), &count), IMAGE_OK);
  EXPECT_EQ(count, 3);
  for (int page = 0; page < 3; ++page) {
    std::vector<unsigned char> back;
    int r = 0;
    int c = 0;
    ASSERT_EQ(read_grey(path, page, &back, &r, &c), IMAGE_OK);
    EXPECT_EQ(back, levels(pages.images[page]));
  }
  std::vector<unsigned char> none;
  int r = 0;
  int c = 0;
  EXPECT_EQ(read_grey(path, 3, &none, &r, &c), IMAGE_PAGE_ABSENTE);
  const Outcome info = shell(dir, "tiffinfo pages.tif");
  std::size_t g4 = 0;
  for (std::size_t at = 0; (at = info.out.find("CCITT Group 4", at)) != std::string::npos; ++at)
    ++g4;
  EXPECT_EQ(g4, 3u) << info.out;
  // A page that fails stops the writing: nothing is written.
  const auto failing = [](void*, int page, const unsigned char**, int*, int*) {
    return page == 1 ? IMAGE_ERREUR_DE_LECTURE : IMAGE_MEMOIRE_INSUFFISANTE;
  };
  const std::string never = dir / "never.tif";
  EXPECT_EQ(enregistrer_pages_binaires(never.c_str(), 2, failing, nullptr),
            IMAGE_MEMOIRE_INSUFFISANTE);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"pages.tif"}));
}

}  // namespace
