// A catalogue of bad inputs, arguments and faults given to test_grey: each ends with status 1,
// prints exactly its message, and leaves the folder with exactly the files it should.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

using Files = std::map<std::string, std::string>;  // name -> content

struct BadInput {
  std::string what;
  Files before;                   // the folder's files before the run
  std::vector<std::string> args;  // run inside the folder
  std::string message;
  std::optional<Files> after;  // every file afterwards; none: as before
  // What the status-returning reader says of the first argument, where the case is about it.
  std::optional<statut_image> strict = std::nullopt;
};

void PrintTo(const BadInput& c, std::ostream* os) {
  *os << c.what;
}

const std::string kUsage = kUsageMessage;
const std::string kAllocation = kAllocationMessage;

// A 1 x 6 greymap with the samples 0, 1, 127, 128, 254, 255, and its binarisation at 128.
const std::string kSamples("\x00\x01\x7f\x80\xfe\xff", 6);
const std::string kHeader = "P5\n# made by hand\n6 1\n255\n";
const std::string kInput = kHeader + kSamples;
const std::string kBinarised = "P5\r6 1\r255\r" + std::string("\0\0\0\xff\xff\xff", 6);

const std::string kColour = "P6\n1 1\n255\n\xc8\x10\x80";

const std::vector<std::string> kArgs = {"in.pgm", "out.pgm", "128"};

BadInput input_fails(const std::string& what, const std::string& input, const std::string& message,
                     statut_image strict) {
  return {what, {{"in.pgm", input}}, kArgs, message, std::nullopt, strict};
}

BadInput runs(const std::string& what, Files before, std::vector<std::string> args, Files after,
              std::optional<statut_image> strict = std::nullopt) {
  return {what, std::move(before), std::move(args), "", std::move(after), strict};
}

std::vector<BadInput> catalogue() {
  const Files input = {{"in.pgm", kInput}};
  std::vector<BadInput> cases = {
      {"no arguments", input, {}, kUsage, std::nullopt},
      {"two arguments", input, {"in.pgm", "out.pgm"}, kUsage, std::nullopt},
      {"four arguments", input, {"in.pgm", "out.pgm", "128", "0"}, kUsage, std::nullopt},
      {"missing input",
       {},
       kArgs,
       read_access_message("in.pgm"),
       std::nullopt,
       IMAGE_PAS_D_ACCES_EN_LECTURE},
      {"directory as input",
       input,
       {".", "out.pgm", "128"},
       read_error_message("."),
       std::nullopt,
       IMAGE_ERREUR_DE_LECTURE},
      {"5000-character name",
       input,
       {std::string(5000, 'n'), "out.pgm", "128"},
       read_access_message(std::string(5000, 'n')),
       std::nullopt,
       IMAGE_PAS_D_ACCES_EN_LECTURE},
      input_fails("empty file", "", read_error_message("in.pgm"), IMAGE_ERREUR_DE_LECTURE),
      input_fails("magic only", "P5", read_error_message("in.pgm"), IMAGE_ERREUR_DE_LECTURE),
      input_fails("dimensions not numbers", "P5\nsix one\n255\n", read_error_message("in.pgm"),
                  IMAGE_PAS_PGM),
      input_fails("end of file inside a comment", "P5\n# no end", read_error_message("in.pgm"),
                  IMAGE_ERREUR_DE_LECTURE),
      input_fails("comment between numbers", "P5\n6 # one\n1\n255\n", read_error_message("in.pgm"),
                  IMAGE_ERREUR_DE_LECTURE),
      input_fails("raster one byte short", kHeader + kSamples.substr(1),
                  read_error_message("in.pgm"), IMAGE_ERREUR_DE_LECTURE),
      input_fails("negative width", "P5\n-6 1\n255\n", kAllocation, IMAGE_PAS_PGM),
      input_fails("negative height", "P5\n6 -1\n255\n", kAllocation, IMAGE_PAS_PGM),
      input_fails("70000 x 70000", "P5\n70000 70000\n255\n", kAllocation,
                  IMAGE_TAILLE_HORS_LIMITES),
      input_fails("99999999999 x 2", "P5\n99999999999 2\n255\n", kAllocation,
                  IMAGE_TAILLE_HORS_LIMITES),
      // The width saturates to 2^31 - 1: the buffer is allowed, the raster is short.
      input_fails("99999999999 x 1", "P5\n99999999999 1\n255\n", read_error_message("in.pgm"),
                  IMAGE_TAILLE_HORS_LIMITES),
      {"empty threshold", input, {"in.pgm", "out.pgm", ""}, kUsage, std::nullopt},
      {"threshold plus sign", input, {"in.pgm", "out.pgm", "+"}, kUsage, std::nullopt},
      {"threshold minus sign", input, {"in.pgm", "out.pgm", "-"}, kUsage, std::nullopt},
      {"threshold abc", input, {"in.pgm", "out.pgm", "abc"}, kUsage, std::nullopt},
      {"output into a missing folder",
       input,
       {"in.pgm", "no/out.pgm", "128"},
       write_access_message("no/out.pgm"),
       std::nullopt},
      {"output into a folder nobody can write in",
       input,
       {"in.pgm", "/proc/out.pgm", "128"},
       write_access_message("/proc/out.pgm"),
       std::nullopt},
      {"output onto a full disk",
       input,
       {"in.pgm", "/dev/full", "128"},
       write_error_message("/dev/full"),
       std::nullopt},
      runs("threshold 12abc", input, {"in.pgm", "out.pgm", "12abc"},
           {{"in.pgm", kInput},
            {"out.pgm", "P5\r6 1\r255\r" + std::string("\0\0\xff\xff\xff\xff", 6)}}),
      runs("both dimensions negative", {{"in.pgm", "P5\n-2 -3\n255\nabcdef"}}, kArgs,
           {{"in.pgm", "P5\n-2 -3\n255\nabcdef"},
            {"out.pgm", "P5\r-2 -3\r255\r" + std::string(6, '\0')}},
           IMAGE_PAS_PGM),
      runs("maximum value 0", {{"in.pgm", "P5\n6 1\n0\n" + kSamples}}, kArgs,
           {{"in.pgm", "P5\n6 1\n0\n" + kSamples}, {"out.pgm", kBinarised}}, IMAGE_PAS_PGM),
      runs("maximum value 65535", {{"in.pgm", "P5\n6 1\n65535\n" + kSamples}}, kArgs,
           {{"in.pgm", "P5\n6 1\n65535\n" + kSamples}, {"out.pgm", kBinarised}}, IMAGE_16_BITS),
      // A one-pixel colour file: "P6" gives a width of 6, the real width (1) becomes the height
      // and the real height (1) the maximum value. The six bytes after the byte that follows it
      // are "255\n" and two of the pixel's: only 200 reaches the threshold.
      runs("colour file", {{"in.pgm", kColour}}, kArgs,
           {{"in.pgm", kColour}, {"out.pgm", "P5\r6 1\r255\r" + std::string("\0\0\0\0\xff\0", 6)}},
           IMAGE_PAS_PGM),
      runs("names with blanks", {{"my in.pgm", kInput}}, {"my in.pgm", "my out.pgm", "128"},
           {{"my in.pgm", kInput}, {"my out.pgm", kBinarised}}),
      runs("names with leading dashes", {{"-in.pgm", kInput}}, {"-in.pgm", "--out.pgm", "128"},
           {{"-in.pgm", kInput}, {"--out.pgm", kBinarised}}),
      runs("input is the output", input, {"in.pgm", "in.pgm", "128"}, {{"in.pgm", kBinarised}},
           IMAGE_OK),
  };
  // A file cut at any byte, in the header or in the raster, is a read error.
  for (std::size_t length = 0; length < kInput.size(); ++length) {
    cases.push_back(input_fails("cut after " + std::to_string(length) + " bytes",
                                kInput.substr(0, length), read_error_message("in.pgm"),
                                IMAGE_ERREUR_DE_LECTURE));
  }
  return cases;
}

class BadInputs : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, EndWithStatusOneTheirMessageAndOnlyTheirFiles) {
  const BadInput& c = GetParam();
  TempDir dir;
  for (const auto& [name, content] : c.before) write_file(dir / name, content);

  const Outcome outcome = run_program(TEST_GREY_PATH, c.args, dir.path().string());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, c.message);
  EXPECT_EQ(outcome.err, "");

  const Files& expected = c.after ? *c.after : c.before;
  Files found;
  for (const std::string& name : dir.entries()) found[name] = read_file(dir / name);
  EXPECT_EQ(found, expected);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BadInputs, testing::ValuesIn(catalogue()),
                         [](const testing::TestParamInfo<BadInput>& info) {
                           std::string name;
                           for (const char ch : info.param.what)
                             name += std::isalnum(ch) ? ch : '_';
                           return name;
                         });

// The inputs of the catalogue read through the status-returning functions, in this process: each
// gives its status, and the program goes on to the next.
TEST(BadInputs, GiveTheirStatusToTheStrictReader) {
  int read = 0;
  for (const BadInput& c : catalogue()) {
    if (!c.strict) continue;
    TempDir dir;
    for (const auto& [name, content] : c.before) write_file(dir / name, content);
    const std::string input = c.args[0].size() > 255 ? c.args[0] : dir / c.args[0];
    std::vector<unsigned char> buffer(64);
    EXPECT_EQ(
        charger_image_pgm(input.c_str(), buffer.data(), buffer.size(), nullptr, nullptr, nullptr),
        *c.strict)
        << c.what;
    ++read;
  }
  EXPECT_GT(read, 40);
}

}  // namespace
