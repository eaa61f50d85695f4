// test_grey run as a real process: standard output bytes, exit status, and the files it leaves.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

using testing_support::Outcome;
using testing_support::read_file;
using testing_support::run_command;
using testing_support::TempDir;
using testing_support::write_file;

const std::string kUsage = "Usage: ImageIn.pgm ImageOut.pgm Seuil \n";
const std::string kAllocation = "\n Allocation dynamique impossible pour un pointeur-tableau \n";

Outcome test_grey(const std::vector<std::string>& args) {
  std::vector<std::string> command = {TEST_GREY_PATH};
  command.insert(command.end(), args.begin(), args.end());
  return run_command(command);
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
      {"both dimensions negative", "P5\n-2 -3\n255\nabcdef",
       "P5\r-2 -3\r255\r" + std::string(6, '\0')},
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

// A failing run prints one message, ends with status 1 and leaves no file but its input.
struct FailureCase {
  const char* what;
  std::vector<std::string> args;  // "IN" and "OUT" stand for the input and output paths
  std::string input;              // written to IN unless empty
  std::string message;            // "%s" stands for the input path
};

TEST(Command, FailsWithMessageAndNoOutput) {
  const std::string read_access = "\nPas d'acces en lecture sur l'image %s \n";
  const std::string read_error = "\nErreur de lecture de l'image %s \n";
  const std::vector<FailureCase> cases = {
      {"no argument", {}, kInput, kUsage},
      {"two arguments", {"IN", "OUT"}, kInput, kUsage},
      {"four arguments", {"IN", "OUT", "128", "x"}, kInput, kUsage},
      {"empty threshold", {"IN", "OUT", ""}, kInput, kUsage},
      {"threshold sign only", {"IN", "OUT", "-"}, kInput, kUsage},
      {"threshold not a number", {"IN", "OUT", "abc"}, kInput, kUsage},
      {"missing input", {"IN", "OUT", "128"}, "", read_access},
      {"raster one byte short", {"IN", "OUT", "128"}, "P5\n6 1\n255\nabcde", read_error},
      {"not an image", {"IN", "OUT", "128"}, "hello, world\n", read_error},
      {"header cut after width", {"IN", "OUT", "128"}, "P5\n6", read_error},
      {"one negative dimension", {"IN", "OUT", "128"}, "P5\n-6 1\n255\n", kAllocation},
      {"beyond 2^31 - 1 pixels", {"IN", "OUT", "128"}, "P5\n70000 70000\n255\n", kAllocation},
  };
  for (const FailureCase& c : cases) {
    TempDir dir;
    const std::string in = dir / "in.pgm";
    if (!c.input.empty()) write_file(in, c.input);
    std::vector<std::string> args;
    for (const std::string& arg : c.args)
      args.push_back(arg == "IN" ? in : arg == "OUT" ? dir / "out.pgm" : arg);
    const Outcome outcome = test_grey(args);
    std::string message = c.message;
    if (const auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, in);
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.out, message) << c.what;
    EXPECT_EQ(dir.entries(),
              c.input.empty() ? std::vector<std::string>{} : std::vector<std::string>{"in.pgm"})
        << c.what;
  }
}

TEST(Command, ReportsTheWriteFailures) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  const Outcome full = test_grey({dir / "in.pgm", "/dev/full", "128"});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.out, "\nErreur d'ecriture de l'image /dev/full \n");
  const std::string missing_folder = dir / "no/out.pgm";
  const Outcome unopened = test_grey({dir / "in.pgm", missing_folder, "128"});
  EXPECT_EQ(unopened.status, 1);
  EXPECT_EQ(unopened.out, "\nPas d'acces en ecriture sur l'image " + missing_folder + " \n");
}

TEST(Command, DirectoryAsInputIsAReadError) {
  TempDir dir;
  const Outcome outcome = test_grey({dir.path().string(), dir / "out.pgm", "128"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "\nErreur de lecture de l'image " + dir.path().string() + " \n");
  EXPECT_TRUE(dir.entries().empty());
}

TEST(Command, UsesNamesWhole) {
  TempDir dir;
  write_file(dir / "my input.pgm", kInput);
  const Outcome outcome = test_grey({dir / "my input.pgm", dir / "my output.pgm", "128"});
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"my input.pgm", "my output.pgm"}));

  const std::string long_name = dir / std::string(5000, 'n');
  const Outcome too_long = test_grey({long_name, dir / "out.pgm", "128"});
  EXPECT_EQ(too_long.status, 1);
  EXPECT_EQ(too_long.out, "\nPas d'acces en lecture sur l'image " + long_name + " \n");
}

TEST(Command, InputCanBeItsOwnOutput) {
  TempDir dir;
  write_file(dir / "image.pgm", kInput);
  const Outcome outcome = test_grey({dir / "image.pgm", dir / "image.pgm", "128"});
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(read_file(dir / "image.pgm"), kOutputHeader + std::string("\0\0\0\xff\xff\xff", 6));
}

TEST(Sample, IsWhatTheDrawingProgramMakes) {
  TempDir dir;
  const Outcome outcome = run_command({MAKE_SAMPLE_PATH, dir / "sample.pgm"});
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(read_file(dir / "sample.pgm"), read_file(SAMPLE_PATH));
}

}  // namespace
