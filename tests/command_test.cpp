// test_grey run as a real process: standard output bytes, exit status, and the files it leaves.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support.h"

namespace {

using namespace testing_support;

Outcome test_grey(const std::vector<std::string>& args) {
  return run_program(TEST_GREY_PATH, args);
}

// A 1 x 6 greymap with the samples 0, 1, 127, 128, 254, 255.
const std::string kSamples("\x00\x01\x7f\x80\xfe\xff", 6);
const std::string kInput = "P5\n6 1\n255\n" + kSamples;
const std::string kOutputHeader = "P5\r6 1\r255\r";

struct ThresholdCase {
  const char* threshold;
  std::string raster;  // expected output samples
};

TEST(Command, BinarisesAtOrAboveThreshold) {
  const std::string o("\x00", 1), w("\xff", 1);
  const std::vector<ThresholdCase> cases = {
      {"128", o + o + o + w + w + w},          {"0", w + w + w + w + w + w},
      {"-5", w + w + w + w + w + w},           {"1", o + w + w + w + w + w},
      {"255", o + o + o + o + o + w},          {"256", o + o + o + o + o + o},
      {"128abc", o + o + o + w + w + w},       {" \t127", o + o + w + w + w + w},
      {"+128", o + o + o + w + w + w},         {"99999999999", o + o + o + o + o + o},
      {"-99999999999", w + w + w + w + w + w},
  };
  for (const ThresholdCase& c : cases) {
    TempDir dir;
    write_file(dir / "in.pgm", kInput);
    const Outcome outcome = test_grey({dir / "in.pgm", dir / "out.pgm", c.threshold});
    EXPECT_EQ(outcome.status, 1) << c.threshold;
    EXPECT_EQ(outcome.out, "") << c.threshold;
    EXPECT_EQ(read_file(dir / "out.pgm"), kOutputHeader + c.raster) << c.threshold;
  }
}

struct FileCase {
  const char* what;
  std::string input;
  std::string output;  // expected output file
};

TEST(Command, WritesHeaderOfItsOwn) {
  const std::vector<FileCase> cases = {
      {"comment lines", "P5\n# made by hand\n# twice\n6 1\n255\n" + kSamples,
       kOutputHeader + std::string("\0\0\0\xff\xff\xff", 6)},
      {"zero rows", "P5\n6 0\n255\n", "P5\r6 0\r255\r"},
      {"zero columns", "P5\n0 3\n255\n", "P5\r0 3\r255\r"},
      {"maximum value ignored", "P5 6 1 65535 " + kSamples,
       kOutputHeader + std::string("\0\0\0\xff\xff\xff", 6)},
  };
  for (const FileCase& c : cases) {
    TempDir dir;
    write_file(dir / "in.pgm", c.input);
    const Outcome outcome = test_grey({dir / "in.pgm", dir / "out.pgm", "128"});
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.out, "") << c.what;
    EXPECT_EQ(read_file(dir / "out.pgm"), c.output) << c.what;
  }
}

TEST(Samples, AreWhatTheDrawingProgramMakes) {
  TempDir dir;
  const Outcome outcome = run_command({MAKE_SAMPLE_PATH, dir / "sample.pgm", dir / "sample.ppm"});
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(read_file(dir / "sample.pgm"), read_file(SAMPLE_PATH));
  EXPECT_EQ(read_file(dir / "sample.ppm"), read_file(COLOUR_SAMPLE_PATH));
}

}  // namespace

// Every fuzzing seed, and every input that ever made the fuzzer fail (kept under
// tests/crashers/command/), run through the command itself: each ends with status 1 and one known
// message or none. A line feed within the first 24 bytes ends the threshold argument, as in the
// command fuzzer.
TEST(Command, ReplaysFuzzingInputs) {
  int replayed = 0;
  for (const char* folder : {FUZZ_CORPUS_PATH, CRASHERS_PATH}) {
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string data = read_file(entry.path());
      const std::size_t line_end = data.substr(0, 24).find('\n');
      const std::string threshold =
          line_end == std::string::npos ? "128" : data.substr(0, line_end);
      TempDir dir;
      write_file(dir / "in.pgm", line_end == std::string::npos ? data : data.substr(line_end + 1));
      const Outcome outcome = test_grey({dir / "in.pgm", dir / "out.pgm", threshold.c_str()});
      const std::vector<std::string> known = {"", kUsageMessage, read_error_message(dir / "in.pgm"),
                                              kAllocationMessage};
      EXPECT_EQ(outcome.status, 1) << entry.path();
      EXPECT_NE(std::find(known.begin(), known.end(), outcome.out), known.end()) << entry.path();
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0);
}
