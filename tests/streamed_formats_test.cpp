// PNG and TIFF binarised in bands (binariser_fichier): the file written equals, byte for byte,
// the one the whole-image path makes (charger_image_grise, the whole-image method,
// enregistrer_image_binaire), for each way of storing the rows x each method x each shape x each
// output format; and a file cut or changed while it is read leaves the old output whole and no
// file beside it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <imagefiles/bands.h>
#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

bool tools_present() {
  return programs_present("pnmtopng pamtotiff tiffcp pgmnoise pamdepth rgb3toppm");
}

Outcome sh(const TempDir& dir, const std::string& script) {
  return run_command({"/bin/sh", "-c", script}, dir.path().string());
}

// How the rows of each input are stored, made by netpbm and libtiff's tools from g.pgm (and a
// colour c.ppm) of the shape under test.
struct Storage {
  const char* name;
  const char* command;
};
const Storage kStorages[] = {
    {"grey.png", "pnmtopng g.pgm > grey.png"},
    {"deep.png", "pamdepth 65535 g.pgm | pnmtopng > deep.png"},
    {"colour.png", "pnmtopng c.ppm > colour.png"},
    {"interlaced.png", "pnmtopng -interlace g.pgm > interlaced.png"},
    {"strips.tif", "pamtotiff -rowsperstrip 3 g.pgm > strips.tif"},
    {"lzw.tif", "pamtotiff -lzw -rowsperstrip 5 c.ppm > lzw.tif"},
    {"one-strip.tif", "pamtotiff -rowsperstrip 100000 -flate g.pgm > one-strip.tif"},
    {"tiled.tif", "tiffcp -t -w 16 -l 16 strips.tif tiled.tif"},
};

struct Shape {
  int rows;
  int columns;
};

// The page binarised whole: the method's whole-image function, as seuiller does.
statut_image whole(const parametres_binarisation& p, std::vector<unsigned char>& pixels, int rows,
                   int columns) {
  unsigned char* data = pixels.data();
  switch (p.methode) {
    case BINARISATION_SEUIL:
      binariser(data, data, pixels.size(), p.seuil);
      return IMAGE_OK;
    case BINARISATION_OTSU:
      binariser(data, data, pixels.size(), calculer_seuil_otsu(data, pixels.size()));
      return IMAGE_OK;
    case BINARISATION_SAUVOLA:
      return binariser_sauvola(data, data, rows, columns, p.fenetre, p.k);
    case BINARISATION_NIBLACK:
      return binariser_niblack(data, data, rows, columns, p.fenetre, p.k);
    case BINARISATION_WOLF:
      return binariser_wolf(data, data, rows, columns, p.fenetre, p.k);
    case BINARISATION_AUTO:
      return binariser_auto(data, data, rows, columns);
  }
  return IMAGE_PARAMETRE_INVALIDE;
}

// What the whole-image path writes as `name` for page 0 of `input`, or its status.
statut_image written_whole(const std::string& input, const parametres_binarisation& p,
                           const std::string& name) {
  int rows = 0;
  int columns = 0;
  statut_image status = charger_image_grise(input.c_str(), 0, nullptr, 0, &rows, &columns);
  if (status != IMAGE_TAMPON_TROP_PETIT) return status;
  std::vector<unsigned char> pixels(std::size_t(rows) * columns);
  status = charger_image_grise(input.c_str(), 0, pixels.data(), pixels.size(), &rows, &columns);
  if (status == IMAGE_OK) status = whole(p, pixels, rows, columns);
  if (status != IMAGE_OK) return status;
  return enregistrer_image_binaire(name.c_str(), pixels.data(), rows, columns);
}

const parametres_binarisation kMethods[] = {
    {BINARISATION_SEUIL, 128, 0, 0},   {BINARISATION_OTSU, 0, 0, 0},
    {BINARISATION_SAUVOLA, 0, 7, 0.2}, {BINARISATION_WOLF, 0, 9, 0.5},
    {BINARISATION_AUTO, 0, 0, 0},
};

TEST(StreamedFormats, EqualTheWholeImagePath) {
  if (!tools_present()) GTEST_SKIP();
  // A row, a column, and a page whose height is a multiple of neither the strips nor the tiles.
  for (const Shape shape : {Shape{1, 300}, Shape{300, 1}, Shape{37, 53}}) {
    TempDir dir;
    const std::string size = std::to_string(shape.columns) + " " + std::to_string(shape.rows);
    std::string script = "for s in 1 2 3; do pgmnoise -randomseed=$s " + size +
                         " > n$s.pgm 2>/dev/null || exit 1; done; cp n1.pgm g.pgm && "
                         "rgb3toppm n1.pgm n2.pgm n3.pgm > c.ppm";
    for (const Storage& storage : kStorages) script += std::string(" && ") + storage.command;
    ASSERT_EQ(sh(dir, script).status, 0);
    for (const Storage& storage : kStorages) {
      const std::string input = dir / storage.name;
      for (const parametres_binarisation& method : kMethods) {
        for (const char* extension : {".pgm", ".pbm", ".png", ".tif"}) {
          SCOPED_TRACE(std::string(storage.name) + " " + std::to_string(shape.rows) + "x" +
                       std::to_string(shape.columns) + " method " + std::to_string(method.methode) +
                       " " + extension);
          const std::string expected = dir / (std::string("whole") + extension);
          const std::string streamed = dir / (std::string("streamed") + extension);
          const statut_image want = written_whole(input, method, expected);
          const bool pbm = std::string(extension) == ".pbm";
          EXPECT_EQ(binariser_fichier(input.c_str(), 0, &method, pbm, streamed.c_str()), want);
          if (want == IMAGE_OK) {
            EXPECT_EQ(read_file(streamed), read_file(expected));
          }
          // auto's first passes read rows in pieces: here pieces of rows, from the row held.
          if (method.methode == BINARISATION_AUTO) {
            imagefiles::detail::StreamOptions options;
            options.piece = 7;
            std::filesystem::remove(streamed);
            EXPECT_EQ(imagefiles::detail::binarise_file_to_file(input.c_str(), 0, &method, pbm,
                                                                streamed.c_str(), options),
                      want);
            if (want == IMAGE_OK) {
              EXPECT_EQ(read_file(streamed), read_file(expected));
            }
          }
          std::filesystem::remove(expected);
          std::filesystem::remove(streamed);
        }
      }
    }
  }
}

// What cannot be read fails as charger_image_grise fails on it, before any output is made.
TEST(StreamedFormats, StatusesOfTheReader) {
  if (!tools_present()) GTEST_SKIP();
  TempDir dir;
  ASSERT_EQ(sh(dir,
               "pgmnoise -randomseed=5 40 30 > g.pgm 2>/dev/null && pnmtopng g.pgm > g.png "
               "&& pamtotiff g.pgm > g.tif && head -c 5 g.png > short.png && "
               "printf 'GIF89a' > g.gif && mkdir folder && mkfifo fifo && "
               "pamdepth 1000 g.pgm > deep.pgm")
                .status,
            0);
  struct Case {
    const char* name;
    int page;
  };
  const parametres_binarisation method = {BINARISATION_WOLF, 0, 9, 0.5};
  for (const Case c : {Case{"missing.png", 0}, Case{"folder", 0}, Case{"fifo", 0},
                       Case{"short.png", 0}, Case{"g.gif", 0}, Case{"g.png", 1}, Case{"g.pgm", 1},
                       Case{"g.tif", 1}, Case{"deep.pgm", 1}, Case{"g.tif", -1}}) {
    SCOPED_TRACE(std::string(c.name) + " page " + std::to_string(c.page));
    const std::string input = dir / c.name;
    const statut_image want =
        charger_image_grise(input.c_str(), c.page, nullptr, 0, nullptr, nullptr);
    ASSERT_NE(want, IMAGE_TAMPON_TROP_PETIT);
    const std::string out = dir / "out.png";
    EXPECT_EQ(binariser_fichier(input.c_str(), c.page, &method, 0, out.c_str()), want);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

// The folder's entries, sorted.
std::string listing(const TempDir& dir) {
  return sh(dir, "ls -A").out;
}

TEST(StreamedFormats, CutOrChangedFilesLeaveTheOldOutput) {
  if (!tools_present()) GTEST_SKIP();
  TempDir dir;
  ASSERT_EQ(sh(dir,
               "pgmnoise -randomseed=4 300 200 > g.pgm 2>/dev/null && "
               "pnmtopng g.pgm > page.png && pamtotiff -rowsperstrip 8 g.pgm > page.tif && "
               "head -c $(( $(wc -c < page.png) / 2 )) page.png > cut.png && "
               "head -c $(( $(wc -c < page.tif) / 2 )) page.tif > cut.tif && "
               "rm g.pgm")
                .status,
            0);
  for (const char* extension : {".png", ".tif", ".pbm"}) {
    const std::string out = dir / (std::string("out") + extension);
    write_file(out, "old");
    const std::string before = listing(dir);
    for (const parametres_binarisation& method : kMethods) {
      SCOPED_TRACE(std::string(extension) + " method " + std::to_string(method.methode));
      for (const char* cut : {"cut.png", "cut.tif"}) {
        EXPECT_EQ(binariser_fichier((dir / cut).c_str(), 0, &method, 1, out.c_str()),
                  IMAGE_ERREUR_DE_LECTURE)
            << cut;
        EXPECT_EQ(read_file(out), "old");
        EXPECT_EQ(listing(dir), before);
      }
      // The file rewritten (same bytes, a new time) while its rows are read: between the passes
      // of a two-pass method, during the one pass of the others.
      for (const char* page : {"page.png", "page.tif"}) {
        const std::string input = dir / page;
        imagefiles::detail::StreamOptions options;
        options.at_row = [&](int, int row) {
          if (row > 0) return;
          const std::string bytes = read_file(input);
          write_file(input, bytes);
        };
        EXPECT_EQ(imagefiles::detail::binarise_file_to_file(input.c_str(), 0, &method, true,
                                                            out.c_str(), options),
                  IMAGE_ERREUR_DE_LECTURE)
            << page;
        EXPECT_EQ(read_file(out), "old");
        EXPECT_EQ(listing(dir), before);
      }
    }
  }
}

}  // namespace
