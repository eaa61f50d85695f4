// Greymap and colour files: exact bytes written, round trips, and every failure's message and
// status.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

// The three file functions of one format. Both readers take rows x columns as their count.
struct Format {
  const char* name;
  int bytes_per_pixel;
  void (*query)(const char*, int*, int*);
  void (*read)(const char*, unsigned char*, int);
  void (*write)(const char*, const unsigned char*, int, int);
};

const Format kGreymap{"greymap", 1, lire_nb_lignes_colonnes_image_pgm, lire_image_pgm,
                      ecrire_image_pgm};
const Format kColour{"colour", 3, lire_nb_lignes_colonnes_image_ppm, lire_image_ppm,
                     ecrire_image_ppm};

std::vector<unsigned char> pattern(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
  return bytes;
}

unsigned char* bytes_of(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}

TEST(Writing, WritesCarriageReturnHeaderThenRaster) {
  TempDir dir;
  const unsigned char raster[] = {0, 1, 2, 253, 254, 255};
  ecrire_image_pgm((dir / "grey.pgm").c_str(), raster, 2, 3);
  EXPECT_EQ(read_file(dir / "grey.pgm"), std::string("P5\r3 2\r255\r\x00\x01\x02\xfd\xfe\xff", 17));
  ecrire_image_ppm((dir / "colour.ppm").c_str(), raster, 1, 2);
  EXPECT_EQ(read_file(dir / "colour.ppm"),
            std::string("P6\r2 1\r255\r\x00\x01\x02\xfd\xfe\xff", 17));
}

struct WriteCase {
  int rows;
  int columns;
  std::string greymap;  // the whole file written from a buffer of '*'
  std::string colour;
};

TEST(Writing, HeaderAloneOrExactCountForUnusualDimensions) {
  const std::vector<WriteCase> cases = {
      {0, 5, "P5\r5 0\r255\r", "P6\r5 0\r255\r"},
      {4, 0, "P5\r0 4\r255\r", "P6\r0 4\r255\r"},
      {-1, 3, "P5\r3 -1\r255\r", "P6\r3 -1\r255\r"},  // negative count: nothing to transfer
      {-1, -2, "P5\r-2 -1\r255\r**", "P6\r-2 -1\r255\r******"},
  };
  const std::vector<unsigned char> raster(6, '*');
  for (const WriteCase& c : cases) {
    TempDir dir;
    ecrire_image_pgm((dir / "out.pgm").c_str(), raster.data(), c.rows, c.columns);
    ecrire_image_ppm((dir / "out.ppm").c_str(), raster.data(), c.rows, c.columns);
    EXPECT_EQ(read_file(dir / "out.pgm"), c.greymap) << c.rows << " x " << c.columns;
    EXPECT_EQ(read_file(dir / "out.ppm"), c.colour) << c.rows << " x " << c.columns;
  }
}

TEST(RoundTrip, GivesBackDimensionsAndBytes) {
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {5, 7}, {13, 1}, {1, 4099}, {480, 640}};
  for (const Format& format : {kGreymap, kColour}) {
    for (const auto& [rows, columns] : sizes) {
      TempDir dir;
      const std::string path = dir / "image";
      const int count = rows * columns;
      const std::vector<unsigned char> written =
          pattern(std::size_t(count) * format.bytes_per_pixel);
      format.write(path.c_str(), written.data(), rows, columns);

      int read_rows = 0;
      int read_columns = 0;
      format.query(path.c_str(), &read_rows, &read_columns);
      EXPECT_EQ(read_rows, rows) << format.name;
      EXPECT_EQ(read_columns, columns) << format.name;
      std::vector<unsigned char> read(written.size());
      format.read(path.c_str(), read.data(), count);
      EXPECT_EQ(read, written) << format.name << " " << rows << " x " << columns;
    }
  }
}

TEST(Reading, ReadsJustTheRequestedBytes) {
  TempDir dir;
  const std::string grey = dir / "image.pgm";
  write_file(grey, "P5\n2 2\n255\nABCDEFGH");  // four bytes more than announced
  std::string buffer = "........";
  lire_image_pgm(grey.c_str(), bytes_of(buffer), 4);
  EXPECT_EQ(buffer, "ABCD....");
  lire_image_pgm(grey.c_str(), bytes_of(buffer), 6);
  EXPECT_EQ(buffer, "ABCDEF..");

  const std::string colour = dir / "image.ppm";
  write_file(colour, "P6\n2 2\n255\nabcdefghijkl");
  std::string pixels(13, '.');
  lire_image_ppm(colour.c_str(), bytes_of(pixels), 4);  // a count in pixels: 12 bytes
  EXPECT_EQ(pixels, "abcdefghijkl.");
}

TEST(Reading, CountOfZeroOrLessTransfersNothing) {
  TempDir dir;
  const std::string path = dir / "image";
  write_file(path, "P5\n2 2\n255\nABCD");
  for (const Format& format : {kGreymap, kColour}) {
    for (const int count : {0, -1, -2147483647 - 1}) {
      std::string buffer = "....";
      const Outcome outcome =
          run_in_child([&] { format.read(path.c_str(), bytes_of(buffer), count); });
      EXPECT_EQ(outcome.status, 0) << format.name << " " << count;
      EXPECT_EQ(outcome.out, "");
      format.read(path.c_str(), bytes_of(buffer), count);
      EXPECT_EQ(buffer, "....");
    }
  }
}

// A failure prints its message with the name and ends the process with status 1, leaving no file
// but the ones the test made.
struct FailureCase {
  const char* what;
  std::function<void(const char* name)> call;
  std::string name;  // relative to the test directory, or absolute
  std::string (*message)(const std::string& name);
};

TEST(Failures, PrintMessageAndEndWithStatusOne) {
  const auto read_access = read_access_message;
  const auto read_error = read_error_message;
  const auto write_access = write_access_message;
  const auto write_error = write_error_message;
  // Large enough for every call that succeeds; the calls that go beyond it must fail untouched.
  static unsigned char buffer[64];
  int rows = 0;
  int columns = 0;
  const std::vector<FailureCase> cases = {
      {"greymap query, missing file",
       [&](const char* n) { lire_nb_lignes_colonnes_image_pgm(n, &rows, &columns); }, "missing.pgm",
       read_access},
      {"colour query, missing file",
       [&](const char* n) { lire_nb_lignes_colonnes_image_ppm(n, &rows, &columns); }, "missing.ppm",
       read_access},
      {"greymap read, missing file", [](const char* n) { lire_image_pgm(n, buffer, 4); },
       "missing.pgm", read_access},
      {"colour read, missing file", [](const char* n) { lire_image_ppm(n, buffer, 4); },
       "missing.ppm", read_access},
      {"greymap raster one byte short", [](const char* n) { lire_image_pgm(n, buffer, 16); },
       "eleven", read_error},
      {"colour raster one byte short", [](const char* n) { lire_image_ppm(n, buffer, 4); },
       "eleven", read_error},
      {"colour read of more than 2^31 - 1 bytes",
       [](const char* n) { lire_image_ppm(n, buffer, 715827883); }, "eleven", read_error},
      {"greymap write into a missing folder",
       [](const char* n) { ecrire_image_pgm(n, buffer, 2, 3); }, "no/such.pgm", write_access},
      {"colour write into a missing folder",
       [](const char* n) { ecrire_image_ppm(n, buffer, 2, 3); }, "no such/x y.ppm", write_access},
      {"greymap write onto a full disk", [](const char* n) { ecrire_image_pgm(n, buffer, 2, 3); },
       "/dev/full", write_error},
      {"colour write onto a full disk", [](const char* n) { ecrire_image_ppm(n, buffer, 2, 3); },
       "/dev/full", write_error},
      {"greymap write of more than 2^31 - 1 bytes",
       [](const char* n) { ecrire_image_pgm(n, buffer, 65536, 32768); }, "huge.pgm", write_error},
      {"colour write of more than 2^31 - 1 bytes",
       [](const char* n) { ecrire_image_ppm(n, buffer, 2, 357913942); }, "huge.ppm", write_error},
  };
  for (const FailureCase& c : cases) {
    TempDir dir;
    // A 2 x 2 colour file one raster byte short. The greymap reader takes "P6" for a width of 6
    // and leaves 15 raster bytes.
    write_file(dir / "eleven", "P6\n2 2\n255\nabcdefghijk");
    const std::string name = c.name[0] == '/' ? c.name : dir / c.name;
    const Outcome outcome = run_in_child([&] { c.call(name.c_str()); });
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.out, c.message(name)) << c.what;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"eleven"}) << c.what;
  }
}

TEST(Planes, SplitTheColoursInOrder) {
  const unsigned char raster[] = {10, 20, 30, 40, 50, 60};
  const std::pair<void (*)(unsigned char*, const unsigned char*, int), std::vector<unsigned char>>
      cases[] = {{planR, {10, 40, 99}}, {planV, {20, 50, 99}}, {planB, {30, 60, 99}}};
  for (const auto& [extract, expected] : cases) {
    std::vector<unsigned char> plane = {99, 99, 99};
    extract(plane.data(), raster, 2);
    EXPECT_EQ(plane, expected);
    for (const int count : {0, -1, -2147483647 - 1}) {
      std::vector<unsigned char> untouched = {99, 99, 99};
      extract(untouched.data(), raster, count);
      EXPECT_EQ(untouched, std::vector<unsigned char>(3, 99)) << count;
    }
  }
}

}  // namespace
