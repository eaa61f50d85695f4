// Reading headers: the scanning rules over many header texts, and the comment skipper on its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ostream>
#include <string>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

// What the dimension query leaves when it cannot read a dimension.
constexpr int kUnsetRows = -7;
constexpr int kUnsetColumns = -9;

struct HeaderCase {
  const char* name;
  std::string file;
  int rows;            // expected, kUnsetRows when the query cannot read it
  int columns;         // expected, kUnsetColumns likewise
  std::string raster;  // the first raster bytes, as the raster reader finds them
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
  *os << c.name;
}

class HeaderReading : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderReading, GivesDimensionsAndRasterStart) {
  const HeaderCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "image.pgm";
  write_file(path, c.file);

  int rows = kUnsetRows;
  int columns = kUnsetColumns;
  lire_nb_lignes_colonnes_image_pgm(path.c_str(), &rows, &columns);
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(columns, c.columns);

  std::string raster(c.raster.size(), '\0');
  lire_image_pgm(path.c_str(), reinterpret_cast<unsigned char*>(raster.data()),
                 static_cast<int>(raster.size()));
  EXPECT_EQ(raster, c.raster);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HeaderReading,
    testing::Values(
        HeaderCase{"AsWritten", "P5\r3 2\r255\rABCDEF", 2, 3, "ABCDEF"},
        HeaderCase{"CommentLines", "P5\n# one\n# two\n640 480\n255\nxy", 480, 640, "xy"},
        HeaderCase{"OneLine", "P5 3 2 255 xy", 2, 3, "xy"},
        // Only the carriage return ends the header: the line feed is the first raster byte.
        HeaderCase{"CarriageReturnLineFeed", "P5\n3 2\n255\r\nxy", 2, 3, "\nxy"},
        HeaderCase{"BlankLinesBeforeComment", "P5\n\n\n# c\n3 2\n255\nxy", 2, 3, "xy"},
        // A blank line ends comment skipping; the next '#' stops the number scan.
        HeaderCase{"BlankLineBetweenComments", "P5\n# a\n\n# b\n3 2\n255\nxy", kUnsetRows,
                   kUnsetColumns, "# b"},
        HeaderCase{"CommentBetweenNumbers", "P5\n3 # c\n2 255\nxy", kUnsetRows, 3, "# c"},
        HeaderCase{"CommentRightAfterDigit", "P5# c\n3 2\n255\nxy", 2, 3, "xy"},
        HeaderCase{"CarriageReturnInsideComment", "P5\n# a\r3 2\n7 8 255\nxy", 8, 7, "xy"},
        HeaderCase{"MaximumIgnored", "P5\n3 2\n65535\nxy", 2, 3, "xy"},
        HeaderCase{"AllWhitespaceKinds", "P5\t\v\f 3\r\n2\t255\vxy", 2, 3, "xy"},
        HeaderCase{"Signs", "P5\n+3 -2 255\nxy", -2, 3, "xy"},
        HeaderCase{"BothNegative", "P5\r-3 -2\r255\rxy", -2, -3, "xy"},
        HeaderCase{"Saturated", "P5\n99999999999 -99999999999 1\nxy", INT_MIN, INT_MAX, "xy"},
        HeaderCase{"LeadingZeros", "P5\n0003 00002 255\nxy", 2, 3, "xy"},
        HeaderCase{"SignWithoutDigits", "P5\n3 -x 255\nxy", kUnsetRows, 3, "x 2"},
        // A colour file read as a greymap: the magic digit becomes the width.
        HeaderCase{"ColourFile", "P6\r4 3\r255\rxy", 4, 6, "255\r"},
        HeaderCase{"WrongLetter", "Q5\n3 2\n255\n", kUnsetRows, kUnsetColumns, "Q5"},
        HeaderCase{"EmptyFile", "", kUnsetRows, kUnsetColumns, ""},
        HeaderCase{"MagicOnly", "P5", kUnsetRows, kUnsetColumns, ""},
        HeaderCase{"EndInsideComment", "P5\n# no end", kUnsetRows, kUnsetColumns, ""},
        HeaderCase{"WidthOnly", "P5\n3", kUnsetRows, 3, ""},
        HeaderCase{"NoByteAfterMaximum", "P5\n3 2 255", 2, 3, ""}),
    [](const testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

// The skipper on its own, over a stream, leaves the stream at `next` (EOF: end of file).
struct SkipCase {
  const char* name;
  std::string text;
  int next;
};

void PrintTo(const SkipCase& c, std::ostream* os) {
  *os << c.name;
}

class CommentSkipping : public testing::TestWithParam<SkipCase> {};

TEST_P(CommentSkipping, StopsAtFirstByteOutsideComments) {
  const SkipCase& c = GetParam();
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  std::fwrite(c.text.data(), 1, c.text.size(), stream);
  std::rewind(stream);
  ignorer_commentaires(stream);
  EXPECT_EQ(std::getc(stream), c.next);
  std::fclose(stream);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CommentSkipping,
    testing::Values(SkipCase{"NoComment", "640", '6'}, SkipCase{"TwoComments", "#a\n#b\n6", '6'},
                    SkipCase{"CrLfEndedComment", "#a\r\n6", '6'},
                    SkipCase{"BlankLineFirst", "\n#a\n6", '\n'},
                    SkipCase{"BlankLineBetween", "#a\n\n#b\n6", '\n'},
                    SkipCase{"EmptyComment", "#\n6", '6'}, SkipCase{"EndOfFile", "", EOF},
                    SkipCase{"EndInsideComment", "#abc", EOF}),
    [](const testing::TestParamInfo<SkipCase>& info) { return info.param.name; });

TEST(CommentSkipping, WorksOnAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string text = "# comment\n640 480";
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  std::FILE* stream = fdopen(fds[0], "rb");
  ASSERT_NE(stream, nullptr);
  ignorer_commentaires(stream);
  char rest[8] = {};
  EXPECT_EQ(std::fread(rest, 1, sizeof rest, stream), 7u);
  EXPECT_STREQ(rest, "640 480");
  std::fclose(stream);
}

}  // namespace
