// Greymap files: exact bytes written, round trips, and every failure's message and status.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using testing_support::Outcome;
using testing_support::read_file;
using testing_support::run_in_child;
using testing_support::TempDir;
using testing_support::write_file;

std::vector<unsigned char> pattern(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
  return bytes;
}

unsigned char* bytes_of(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}

TEST(GreymapWriting, WritesCarriageReturnHeaderThenRaster) {
  TempDir dir;
  const std::string path = dir / "out.pgm";
  const unsigned char raster[] = {0, 1, 2, 253, 254, 255};
  ecrire_image_pgm(path.c_str(), raster, 2, 3);
  EXPECT_EQ(read_file(path), std::string("P5\r3 2\r255\r\x00\x01\x02\xfd\xfe\xff", 17));
}

struct WriteCase {
  int rows;
  int columns;
  std::string file;  // the whole file written from a buffer of 0x2a bytes
};

TEST(GreymapWriting, HeaderAloneOrExactCountForUnusualDimensions) {
  const std::vector<WriteCase> cases = {
      {0, 5, "P5\r5 0\r255\r"},
      {4, 0, "P5\r0 4\r255\r"},
      {-1, 3, "P5\r3 -1\r255\r"},  // negative count: nothing to transfer
      {-2, -3, "P5\r-3 -2\r255\r******"},
  };
  for (const WriteCase& c : cases) {
    TempDir dir;
    const std::string path = dir / "out.pgm";
    const std::vector<unsigned char> raster(6, '*');
    ecrire_image_pgm(path.c_str(), raster.data(), c.rows, c.columns);
    EXPECT_EQ(read_file(path), c.file) << c.rows << " x " << c.columns;
  }
}

TEST(GreymapRoundTrip, GivesBackDimensionsAndBytes) {
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {5, 7}, {13, 1}, {1, 4099}, {480, 640}};
  for (const auto& [rows, columns] : sizes) {
    TempDir dir;
    const std::string path = dir / "image.pgm";
    const std::vector<unsigned char> written = pattern(static_cast<std::size_t>(rows) * columns);
    ecrire_image_pgm(path.c_str(), written.data(), rows, columns);

    int read_rows = 0;
    int read_columns = 0;
    lire_nb_lignes_colonnes_image_pgm(path.c_str(), &read_rows, &read_columns);
    EXPECT_EQ(read_rows, rows);
    EXPECT_EQ(read_columns, columns);
    std::vector<unsigned char> read(written.size());
    lire_image_pgm(path.c_str(), read.data(), static_cast<int>(read.size()));
    EXPECT_EQ(read, written) << rows << " x " << columns;
  }
}

TEST(GreymapReading, ReadsJustTheRequestedBytes) {
  TempDir dir;
  const std::string path = dir / "image.pgm";
  write_file(path, "P5\n2 2\n255\nABCDEFGH");  // four bytes more than announced
  std::string buffer = "........";
  lire_image_pgm(path.c_str(), bytes_of(buffer), 4);
  EXPECT_EQ(buffer, "ABCD....");
  lire_image_pgm(path.c_str(), bytes_of(buffer), 2);
  EXPECT_EQ(buffer, "ABCD....");
  lire_image_pgm(path.c_str(), bytes_of(buffer), 6);
  EXPECT_EQ(buffer, "ABCDEF..");
}

TEST(GreymapReading, CountOfZeroOrLessTransfersNothing) {
  TempDir dir;
  const std::string path = dir / "image.pgm";
  write_file(path, "P5\n2 2\n255\nABCD");
  for (const int count : {0, -1, -2147483647 - 1}) {
    std::string buffer = "....";
    const Outcome outcome =
        run_in_child([&] { lire_image_pgm(path.c_str(), bytes_of(buffer), count); });
    EXPECT_EQ(outcome.status, 0) << count;
    EXPECT_EQ(outcome.out, "");
    lire_image_pgm(path.c_str(), bytes_of(buffer), count);
    EXPECT_EQ(buffer, "....");
  }
}

// A failure prints its message with the name and ends the process with status 1.
struct FailureCase {
  const char* what;
  std::function<void(const std::string& name)> call;
  std::string name;     // relative to the test directory, or absolute
  std::string message;  // with "%s" for the name
};

std::string message_for(std::string message, const std::string& name) {
  return message.replace(message.find("%s"), 2, name);
}

TEST(GreymapFailures, PrintMessageAndEndWithStatusOne) {
  const std::string read_access = "\nPas d'acces en lecture sur l'image %s \n";
  const std::string read_error = "\nErreur de lecture de l'image %s \n";
  const std::string write_access = "\nPas d'acces en ecriture sur l'image %s \n";
  const std::string write_error = "\nErreur d'ecriture de l'image %s \n";
  static unsigned char buffer[64];
  const std::vector<FailureCase> cases = {
      {"query on a missing file",
       [](const std::string& n) {
         int r = 0, c = 0;
         lire_nb_lignes_colonnes_image_pgm(n.c_str(), &r, &c);
       },
       "missing.pgm", read_access},
      {"read of a missing file", [](const std::string& n) { lire_image_pgm(n.c_str(), buffer, 4); },
       "missing.pgm", read_access},
      {"raster one byte short", [](const std::string& n) { lire_image_pgm(n.c_str(), buffer, 7); },
       "six.pgm", read_error},
      {"write into a missing folder",
       [](const std::string& n) { ecrire_image_pgm(n.c_str(), buffer, 2, 3); }, "no/such.pgm",
       write_access},
      {"write onto a full disk",
       [](const std::string& n) { ecrire_image_pgm(n.c_str(), buffer, 2, 3); }, "/dev/full",
       write_error},
      {"write of more than 2^31 - 1 bytes",
       [](const std::string& n) { ecrire_image_pgm(n.c_str(), buffer, 65536, 32768); }, "huge.pgm",
       write_error},
      {"write of a name with a blank",
       [](const std::string& n) { ecrire_image_pgm(n.c_str(), buffer, 2, 3); }, "no such/x y.pgm",
       write_access},
  };
  for (const FailureCase& c : cases) {
    TempDir dir;
    write_file(dir / "six.pgm", "P5\n2 3\n255\n123456");
    const std::string name = c.name[0] == '/' ? c.name : dir / c.name;
    const Outcome outcome = run_in_child([&] { c.call(name); });
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.out, message_for(c.message, name)) << c.what;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"six.pgm"}) << c.what;
  }
}

}  // namespace
