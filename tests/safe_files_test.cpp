// Writes that never lose a file, reads that never mix two files, messages that are never lost.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "imagefiles/internal.h"
#include "support.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// A greymap of 256 x 256 pixels, and the same image's raster as test_grey writes it at 128.
const std::string kRaster = [] {
  std::string raster(65536, '\0');
  for (std::size_t i = 0; i < raster.size(); ++i) raster[i] = static_cast<char>(i * 7);
  return raster;
}();
const std::string kInput = "P5\n256 256\n255\n" + kRaster;
const std::string kOld = "P5\r1 1\r255\r\x2a";  // what an output held before a run

const unsigned char* pixels() {
  return reinterpret_cast<const unsigned char*>(kRaster.data());
}

// Limits the files the child may write to 4 KiB, ignoring the signal (the write then fails) or
// ending by it.
void limit_file_size(bool survive) {
  const rlimit limit{4096, 4096};
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, survive ? SIG_IGN : SIG_DFL);
}

Outcome test_grey(const std::vector<std::string>& args, const std::function<void()>& prepare) {
  return run_program(TEST_GREY_PATH, args, prepare);
}

struct CutShort {
  const char* what;
  std::function<Outcome(TempDir&)> run;
  std::string name;     // the file whose content must survive
  std::string content;  // what it holds before and after
  std::string message;  // relative name in it
};

TEST(Replacing, AWriteCutShortLeavesTheOldFileWholeAndNothingElse) {
  const auto library = [](auto write, bool unnamed) {
    return [write, unnamed](TempDir& dir) {
      const std::string name = dir / "out.pgm";
      return run_in_child([&] {
        limit_file_size(true);
        if (unnamed) {
          write(name.c_str(), pixels(), 256, 256);
        } else {
          const statut_image status = imagefiles::detail::write_file(
              name.c_str(), "P5\r", 3, pixels(), kRaster.size(), false);
          imagefiles::detail::end_process(status, name.c_str());
        }
      });
    };
  };
  const auto command = [](std::vector<std::string> args) {
    return [args](TempDir& dir) {
      std::vector<std::string> in_dir;
      for (const std::string& arg : args) in_dir.push_back(arg == "128" ? arg : dir / arg);
      return test_grey(in_dir, [] { limit_file_size(true); });
    };
  };
  const std::vector<CutShort> cases = {
      {"greymap writer", library(ecrire_image_pgm, true), "out.pgm", kOld, "out.pgm"},
      {"colour writer", library(ecrire_image_ppm, true), "out.pgm", kOld, "out.pgm"},
      {"writer with a named temporary", library(ecrire_image_pgm, false), "out.pgm", kOld,
       "out.pgm"},
      {"test_grey onto an existing output", command({"in.pgm", "out.pgm", "128"}), "out.pgm", kOld,
       "out.pgm"},
      {"test_grey with the input as output", command({"in.pgm", "in.pgm", "128"}), "in.pgm", kInput,
       "in.pgm"},
  };
  for (const CutShort& c : cases) {
    TempDir dir;
    write_file(dir / "in.pgm", kInput);
    write_file(dir / c.name, c.content);
    const Outcome outcome = c.run(dir);
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.out, write_error_message(dir / c.message)) << c.what;
    EXPECT_EQ(read_file(dir / c.name), c.content) << c.what;
    const std::vector<std::string> expected = c.name == "in.pgm"
                                                  ? std::vector<std::string>{"in.pgm"}
                                                  : std::vector<std::string>{"in.pgm", "out.pgm"};
    EXPECT_EQ(dir.entries(), expected) << c.what;
  }
}

TEST(Replacing, AProcessKilledMidWriteLeavesTheOldFileAndNothingElse) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  write_file(dir / "out.pgm", kOld);
  const Outcome outcome =
      test_grey({dir / "in.pgm", dir / "out.pgm", "128"}, [] { limit_file_size(false); });
  EXPECT_EQ(outcome.status, 128 + SIGXFSZ);
  EXPECT_EQ(read_file(dir / "out.pgm"), kOld);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm", "out.pgm"}));
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

TEST(Replacing, KeepsModeLinksAndTheUmask) {
  const unsigned char raster[] = {9};
  const std::string written = "P5\r1 1\r255\r\x09";
  TempDir dir;
  // An existing file keeps its permission bits.
  write_file(dir / "kept.pgm", kOld);
  chmod((dir / "kept.pgm").c_str(), 0604);
  ecrire_image_pgm((dir / "kept.pgm").c_str(), raster, 1, 1);
  EXPECT_EQ(mode_of(dir / "kept.pgm") & 07777, 0604u);
  EXPECT_EQ(read_file(dir / "kept.pgm"), written);
  // A new file gets its mode from the umask.
  const mode_t before = umask(027);
  ecrire_image_pgm((dir / "new.pgm").c_str(), raster, 1, 1);
  umask(before);
  EXPECT_EQ(mode_of(dir / "new.pgm") & 07777, 0640u);
  // A link stays a link; its target, existing or not, is what is written.
  for (const char* target : {"kept.pgm", "dangling.pgm"}) {
    const std::string link = dir / (std::string("link-to-") + target);
    fs::create_symlink(target, link);
    ecrire_image_pgm(link.c_str(), raster, 1, 1);
    EXPECT_TRUE(S_ISLNK(mode_of(link))) << target;
    EXPECT_EQ(read_file(dir / target), written) << target;
  }
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"dangling.pgm", "kept.pgm", "link-to-dangling.pgm",
                                      "link-to-kept.pgm", "new.pgm"}));
}

// As root, permissions are tried as the unprivileged user: root is never refused.
void drop_privileges() {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
}
void own_for_unprivileged(const std::string& path) {
  if (geteuid() == 0 && chown(path.c_str(), 65534, 65534) != 0) FAIL() << path;
}

TEST(Replacing, PermissionsDecideAsBefore) {
  const unsigned char raster[] = {9};
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  // A folder that refuses new files: a writable file in it is written in place.
  fs::create_directory(dir.path() / "closed");
  write_file(dir / "closed/out.pgm", kOld);
  own_for_unprivileged(dir / "closed/out.pgm");
  chmod((dir / "closed").c_str(), 0555);
  const std::string in_place = dir / "closed/out.pgm";
  Outcome outcome = run_in_child([&] {
    drop_privileges();
    ecrire_image_pgm(in_place.c_str(), raster, 1, 1);
  });
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(read_file(in_place), "P5\r1 1\r255\r\x09");
  EXPECT_EQ(fs::directory_iterator(dir.path() / "closed")->path().filename(), "out.pgm");
  // A file the process may not write is not replaced, though its folder would allow it.
  fs::create_directory(dir.path() / "open");
  chmod((dir / "open").c_str(), 0777);
  write_file(dir / "open/out.pgm", kOld);
  chmod((dir / "open/out.pgm").c_str(), 0444);
  const std::string locked = dir / "open/out.pgm";
  outcome = run_in_child([&] {
    drop_privileges();
    ecrire_image_pgm(locked.c_str(), raster, 1, 1);
  });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, write_access_message(locked));
  EXPECT_EQ(read_file(locked), kOld);
  chmod((dir / "closed").c_str(), 0755);  // for the clean-up
}

TEST(Replacing, OutputsThatAreNotFilesAreWrittenDirectly) {
  const unsigned char raster[] = {1, 2};
  const std::string written = "P5\r2 1\r255\r\x01\x02";
  Outcome outcome = run_in_child([&] { ecrire_image_pgm("/dev/stdout", raster, 1, 2); });
  EXPECT_EQ(outcome.out, written);

  TempDir dir;
  const std::string fifo = dir / "pipe.pgm";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opened for reading first, so that the writer does not wait; the image fits the pipe's buffer.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  outcome = run_in_child([&] { ecrire_image_pgm(fifo.c_str(), raster, 1, 2); });
  char received[64];
  const ssize_t length = read(reader, received, sizeof received);
  close(reader);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(std::string(received, length > 0 ? static_cast<std::size_t>(length) : 0), written);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"pipe.pgm"});
}

TEST(Reading, AnInputReplacedBetweenTheTwoReadsIsAReadError) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  // Larger than the input: its raster alone would satisfy the input's dimensions.
  const std::string newer_content = "P5\n512 256\n255\n" + kRaster + kRaster;
  write_file(dir / "newer.pgm", newer_content);
  const std::string input = dir / "in.pgm";
  const std::string newer = dir / "newer.pgm";
  const Outcome outcome = test_grey({input, dir / "out.pgm", "128"}, [&] {
    setenv("LD_PRELOAD", SWAP_SHIM_PATH, 1);
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    setenv("IMAGEFILES_SWAP_INPUT", input.c_str(), 1);
    setenv("IMAGEFILES_SWAP_WITH", newer.c_str(), 1);
  });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, read_error_message(input));
  // The swap did happen, and no output was made.
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.pgm"});
  EXPECT_EQ(read_file(input), newer_content);
}

TEST(Reading, PipesAreRefusedBeforeTheyAreOpened) {
  TempDir dir;
  const std::string fifo = dir / "in.pgm";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Nobody writes to the named pipe: opening it would wait for ever, and the alarm would end it.
  Outcome outcome = test_grey({fifo, dir / "out.pgm", "128"}, [] { alarm(20); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, read_error_message(fifo));
  // Standard input fed by a pipe, holding a whole image.
  outcome = test_grey({"/dev/stdin", dir / "out.pgm", "128"}, [] {
    int fds[2];
    if (pipe(fds) != 0 || write(fds[1], "P5 1 1 255 x", 12) != 12) _exit(125);
    dup2(fds[0], STDIN_FILENO);
    close(fds[1]);
  });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, read_error_message("/dev/stdin"));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.pgm"});
}

struct LostMessage {
  const char* what;
  std::vector<std::string> args;
  std::string message;
};

TEST(Messages, GoToStandardErrorTooWhenStandardOutputCannotTakeThem) {
  const std::vector<LostMessage> cases = {
      {"usage", {"in.pgm"}, kUsageMessage},
      {"library's", {"/no/such.pgm", "out.pgm", "1"}, read_access_message("/no/such.pgm")},
  };
  for (const LostMessage& c : cases) {
    // A full disk, then a pipe nobody reads any more.
    Outcome outcome = test_grey(c.args, [] {
      const int full = open("/dev/full", O_WRONLY);
      dup2(full, STDOUT_FILENO);
    });
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.err, c.message) << c.what;
    outcome = test_grey(c.args, [] {
      int fds[2];
      if (pipe(fds) != 0) _exit(125);
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
    });
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_EQ(outcome.err, c.message) << c.what;
  }
}

}  // namespace
