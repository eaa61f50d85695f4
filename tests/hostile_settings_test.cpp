// The settings real machines have and attackers make: no /proc, closed standard descriptors,
// links in shared folders, extended attributes, closed pipes, limits, FIFOs, null pointers, names
// too long or holding control characters, Ctrl-C at the worst moment.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

const std::string kRaster = [] {
  std::string raster(65536, '\0');
  for (std::size_t i = 0; i < raster.size(); ++i) raster[i] = static_cast<char>(i * 7);
  return raster;
}();
const std::string kInput = "P5\n256 256\n255\n" + kRaster;
const std::string kOld = "P5\r1 1\r255\r\x2a";
const std::string kWritten = [] {
  std::string out = "P5\r256 256\r255\r" + kRaster;
  for (std::size_t i = 15; i < out.size(); ++i)
    out[i] = static_cast<unsigned char>(out[i]) >= 128 ? '\xff' : '\0';
  return out;
}();

void limit(int resource, rlim_t value) {
  const rlimit to{value, value};
  setrlimit(resource, &to);
}

// 1. Without /proc (a container without it): the output is still replaced, never written in
// place, so a file-size limit leaves the old file whole.
TEST(Hostile, NoProcStillReplacesWhole) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  write_file(dir / "out.pgm", kOld);
  const Outcome run = run_program(TEST_GREY_PATH, {dir / "in.pgm", dir / "out.pgm", "128"}, [] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        umount2("/proc", MNT_DETACH) != 0) {
      _exit(77);
    }
    limit(RLIMIT_FSIZE, 4096);
    std::signal(SIGXFSZ, SIG_IGN);
  });
  if (run.status == 77) GTEST_SKIP() << "no mount namespace here (needs root)";
  EXPECT_EQ(run.out, write_error_message(dir / "out.pgm"));
  EXPECT_EQ(read_file(dir / "out.pgm"), kOld);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm", "out.pgm"}));
}

// 2. With standard error closed, no output file takes descriptor 2: the error lines of other
// threads never land in an image.
TEST(Hostile, ClosedStandardErrorNeverReachesAnImage) {
  TempDir dir;
  std::vector<std::string> args = {"-q", "-j", "2", "128", dir / "out"};
  for (int i = 0; i < 40; ++i) {
    const std::string name = dir / ((i % 2 ? "bad" : "good") + std::to_string(i) + ".pgm");
    write_file(name, i % 2 ? "P6\n2 2\n255\nabc" : kInput);  // a colour file cut short
    args.push_back(name);
  }
  const Outcome run = run_program(SEUILLER_PATH, args, [] { close(STDERR_FILENO); });
  EXPECT_EQ(run.status, 1);
  for (int i = 0; i < 40; i += 2) {
    EXPECT_EQ(read_file(dir / ("out/good" + std::to_string(i) + ".pgm")), kWritten) << i;
  }
}

// 3. A link in a sticky folder that everyone may write, made by a user who owns neither the link's
// folder nor the process, is not followed (whatever fs.protected_symlinks says): the write-access
// message, and the file it points to untouched.
TEST(Hostile, ALinkPlantedInASharedFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to plant another user's link";
  TempDir dir;
  const std::string shared = dir / "shared";
  mkdir(shared.c_str(), 01777);
  chmod(shared.c_str(), 01777);
  ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
  write_file(dir / "in.pgm", kInput);
  write_file(dir / "system-file", kOld);
  ASSERT_EQ(symlink((dir / "system-file").c_str(), (shared + "/out.pgm").c_str()), 0);
  ASSERT_EQ(lchown((shared + "/out.pgm").c_str(), 65533, 65533), 0);
  const Outcome run = run_program(TEST_GREY_PATH, {dir / "in.pgm", shared + "/out.pgm", "128"});
  EXPECT_EQ(run.out, write_access_message(shared + "/out.pgm"));
  EXPECT_EQ(read_file(dir / "system-file"), kOld);
  // The folder's owner's link is followed, as the kernel would.
  ASSERT_EQ(lchown((shared + "/out.pgm").c_str(), 65534, 65534), 0);
  EXPECT_EQ(run_program(TEST_GREY_PATH, {dir / "in.pgm", shared + "/out.pgm", "128"}).out, "");
  EXPECT_EQ(read_file(dir / "system-file"), kWritten);
}

// 4. The extended attributes of a replaced file (ACLs are some) stay with its name.
TEST(Hostile, ExtendedAttributesAreKept) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  write_file(dir / "out.pgm", kOld);
  if (setxattr((dir / "out.pgm").c_str(), "user.origin", "scan", 4, 0) != 0) {
    GTEST_SKIP() << "no user attributes on this file system";
  }
  EXPECT_EQ(run_program(TEST_GREY_PATH, {dir / "in.pgm", dir / "out.pgm", "128"}).out, "");
  char value[16] = {};
  EXPECT_EQ(getxattr((dir / "out.pgm").c_str(), "user.origin", value, sizeof value), 4);
  EXPECT_EQ(std::string(value), "scan");
  EXPECT_EQ(read_file(dir / "out.pgm"), kWritten);
}

// 5 and 6. A closed pipe and a file-size limit are write errors with their message, not a silent
// death; seuiller goes on with the rest of the batch.
TEST(Hostile, ClosedPipesAndSizeLimitsAreWriteErrors) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  write_file(dir / "small.pgm", "P5\n2 2\n255\nabcd");
  // test_grey writing to a pipe whose reader has gone.
  const Outcome piped = run_program(TEST_GREY_PATH, {dir / "in.pgm", "/dev/stdout", "128"}, [] {
    int fds[2];
    if (pipe(fds) != 0) _exit(77);
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
  });
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err, write_error_message("/dev/stdout"));
  // seuiller under a file-size limit: the large image fails alone.
  const Outcome limited = run_program(
      SEUILLER_PATH, {"-q", "-j1", "128", dir / "out", dir / "in.pgm", dir / "small.pgm"},
      [] { limit(RLIMIT_FSIZE, 4096); });
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "seuiller: Erreur d'ecriture de l'image " + dir / "out/in.pgm" + "\n");
  EXPECT_EQ(read_file(dir / "out/small.pgm"), std::string("P5\r2 2\r255\r") + std::string(4, '\0'));
}

// 7. Threads the system refuses are done without.
TEST(Hostile, ThreadsThatCannotBeMadeAreDoneWithout) {
#if defined(UNDER_SANITIZERS)
  GTEST_SKIP() << "under_sanitizers: an address-space limit leaves them no room for their shadow";
#endif
  TempDir dir;
  std::vector<std::string> args = {"-q", "-j", "4096", "128", dir / "out"};
  for (int i = 0; i < 30; ++i) {
    write_file(dir / ("in" + std::to_string(i) + ".pgm"), kInput);
    args.push_back(dir / ("in" + std::to_string(i) + ".pgm"));
  }
  const Outcome run = run_program(SEUILLER_PATH, args, [] { limit(RLIMIT_AS, 256u << 20); });
  EXPECT_EQ(run.status, 0) << run.err;
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(read_file(dir / ("out/in" + std::to_string(i) + ".pgm")), kWritten);
  }
}

// 9 and 12. Null pointers and exhausted descriptors are statuses, never a crash.
TEST(Hostile, NullPointersAndExhaustedDescriptorsAreStatuses) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  const std::string in = dir / "in.pgm";
  const std::string out = dir / "out.pgm";
  unsigned char raster[4] = {1, 2, 3, 4};
  int rows = 0;
  const struct {
    const char* what;
    statut_image status;
    statut_image expected;
  } cases[] = {
      {"write, null name", enregistrer_image_pgm(nullptr, raster, 2, 2),
       IMAGE_PAS_D_ACCES_EN_ECRITURE},
      {"write, null image", enregistrer_image_ppm(out.c_str(), nullptr, 2, 2),
       IMAGE_PARAMETRE_INVALIDE},
      {"read, null name", charger_image_pgm(nullptr, raster, 4, &rows, &rows, nullptr),
       IMAGE_PAS_D_ACCES_EN_LECTURE},
      {"header, null name", lire_entete_image_ppm(nullptr, nullptr, nullptr, nullptr),
       IMAGE_PAS_D_ACCES_EN_LECTURE},
      {"read, null image", charger_image_pgm(in.c_str(), nullptr, 65536, &rows, nullptr, nullptr),
       IMAGE_TAMPON_TROP_PETIT},
      {"stream, null", lire_entete_flux_pgm(nullptr, nullptr, nullptr, nullptr),
       IMAGE_PARAMETRE_INVALIDE},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  EXPECT_EQ(rows, 256);  // the size still comes with a null buffer
  EXPECT_EQ(access(out.c_str(), F_OK), -1);
  const Outcome exhausted = run_in_child([&] {
    limit(RLIMIT_NOFILE, 3);
    _exit(charger_image_pgm(in.c_str(), raster, 4, nullptr, nullptr, nullptr) * 10 +
          enregistrer_image_pgm(out.c_str(), raster, 2, 2));
  });
  EXPECT_EQ(exhausted.status, IMAGE_DESCRIPTEURS_EPUISES * 10 + IMAGE_DESCRIPTEURS_EPUISES);
}

// 10. A folder entry too long for the file system is refused with the write-access message before
// anything is written; a whole path near PATH_MAX, of entries that fit, is written.
TEST(Hostile, OnlyTheFolderEntryLengthMatters) {
  TempDir dir;
  write_file(dir / "in.pgm", kInput);
  const std::string too_long = dir / (std::string(300, 'x') + ".pgm");
  const Outcome refused = run_program(TEST_GREY_PATH, {dir / "in.pgm", too_long, "128"});
  EXPECT_EQ(refused.out, write_access_message(too_long));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm"}));
  std::string deep = dir.path().string();
  while (deep.size() < 4096 - 2 * 201) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  const std::string name = deep + "/" + std::string(4090 - deep.size(), 'n');
  ASSERT_LT(name.size(), 4096u);
  // Relative to the deepest folder, as a process working there would name its output.
  const Outcome written = run_program(TEST_GREY_PATH, {dir / "in.pgm", name, "128"});
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(read_file(name), kWritten);
}

// 11. Ctrl-C between the link of the new file and its rename (a shim sends SIGINT from inside
// linkat) still ends with the output whole and no hidden file: the signal waits until the name is
// taken.
TEST(Hostile, CtrlCAtTheWorstMomentLeavesNoHiddenFile) {
  for (const bool exists : {false, true}) {
    TempDir dir;
    write_file(dir / "in.pgm", kInput);
    if (exists) write_file(dir / "out.pgm", kOld);
    const Outcome run = run_program(TEST_GREY_PATH, {dir / "in.pgm", dir / "out.pgm", "128"}, [] {
      setenv("LD_PRELOAD", INTERRUPT_SHIM_PATH, 1);
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    });
    EXPECT_EQ(run.status, 128 + SIGINT) << exists;
    EXPECT_EQ(read_file(dir / "out.pgm"), kWritten) << exists;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm", "out.pgm"})) << exists;
  }
}

// 14. A name with a line feed cannot forge a line of its own on standard error.
TEST(Hostile, ControlCharactersInNamesAreEscaped) {
  TempDir dir;
  const Outcome run =
      run_program(SEUILLER_PATH, {"-q", "128", dir / "out", "a\nseuiller: fake.pgm\t\x01"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "seuiller: Pas d'acces en lecture sur l'image a\\nseuiller: fake.pgm\\t\\001\n");
}

// 15. Named pipes never hold a run: one that no process writes to fails at once, with its line;
// one whose writer stalls is waited for, but SIGINT and SIGTERM still end the run (130, 143), with
// no line for the cut read, the images written before whole, no other started, and nothing left
// of the output under way, even a named temporary (without /proc, where the file system's unnamed
// files cannot be linked). A guard alarm ends a run that would wait for ever.
TEST(Hostile, NamedPipesNeverHoldTheRun) {
  enum Writer { none, stalled, late };
  const std::string no_writer = "seuiller: Aucun processus n'ecrit dans le tube de l'image fifo\n";
  const struct {
    const char* what;
    std::vector<std::string> args;  // run in a folder with the greymaps s.pgm, t.pgm, and fifo
    Writer writer;
    int signal;  // sent once s.pgm is written (a pipeline: after a moment)
    int status;
    std::string err;
    std::vector<std::string> written;  // in out/ afterwards
    bool without_proc = false;
  } cases[] = {
      {"batch, no writer",
       {"-q", "otsu", "out", "fifo", "s.pgm"},
       none,
       0,
       1,
       no_writer,
       {"s.pgm"}},
      {"pipeline, no writer", {"otsu", "-", "fifo"}, none, 0, 1, no_writer, {}},
      {"two threads, the pipe last, SIGTERM",
       {"-q", "-j", "2", "otsu", "out", "s.pgm", "fifo"},
       stalled,
       SIGTERM,
       143,
       "",
       {"s.pgm"}},
      {"one thread, SIGINT",
       {"-q", "-j", "1", "otsu", "out", "s.pgm", "fifo", "t.pgm"},
       stalled,
       SIGINT,
       130,
       "",
       {"s.pgm"}},
      {"pipeline, SIGTERM", {"otsu", "-", "fifo"}, stalled, SIGTERM, 143, "", {}},
      {"without /proc, SIGTERM",
       {"-q", "-j", "2", "128", "out", "s.pgm", "fifo"},  // one pass: the output open meanwhile
       stalled,
       SIGTERM,
       143,
       "",
       {"s.pgm"},
       true},
      {"a writer that comes late",
       {"-q", "otsu", "out", "fifo", "s.pgm"},
       late,
       0,
       0,
       "",
       {"fifo", "s.pgm"}},
  };
  for (const auto& c : cases) {
#if defined(UNDER_SANITIZERS)
    if (c.without_proc) continue;  // a sanitized command cannot end without /proc
#endif
    TempDir dir;
    write_file(dir / "s.pgm", kInput);
    write_file(dir / "t.pgm", kInput);
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened for reading and writing, the pipe has a writer that stops halfway through the image:
    // the output is open meanwhile.
    const int held = c.writer == stalled ? open(fifo.c_str(), O_RDWR | O_NONBLOCK) : -1;
    if (held >= 0) {
      ASSERT_EQ(write(held, kInput.data(), kInput.size() / 2), ssize_t(kInput.size() / 2));
    }
    std::thread feeder;
    if (c.writer == late) {
      feeder = std::thread([&] {
        usleep(300 * 1000);
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < 1000; ++tries, usleep(10 * 1000)) {
          fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO until a reader is there
        }
        if (fd < 0) return;
        fcntl(fd, F_SETFL, 0);
        const bool whole = write(fd, kInput.data(), kInput.size()) == ssize_t(kInput.size());
        EXPECT_TRUE(whole);
        close(fd);
      });
    }
    const std::string ready = dir / "out/s.pgm";
    const Outcome run = run_program(SEUILLER_PATH, c.args, [&] {
      if (chdir(dir.path().c_str()) != 0) _exit(127);
      if (c.without_proc && (unshare(CLONE_NEWNS) != 0 ||
                             mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
                             umount2("/proc", MNT_DETACH) != 0)) {
        _exit(77);
      }
      alarm(10);
      if (c.signal == 0) return;
      const pid_t command = getpid();
      if (fork() == 0) {
        for (int i = 0; i < 1000 && c.args[1] != "-" && access(ready.c_str(), F_OK) != 0; ++i) {
          usleep(10 * 1000);
        }
        usleep(200 * 1000);  // the pipe's read under way
        kill(command, c.signal);
        _exit(0);
      }
    });
    if (feeder.joinable()) feeder.join();
    if (held >= 0) close(held);
    if (c.without_proc && run.status == 77) continue;  // no mount namespace here (needs root)
    EXPECT_EQ(run.status, c.status) << c.what;
    EXPECT_EQ(run.err, c.err) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    if (c.written.empty()) {
      EXPECT_EQ(access((dir / "out").c_str(), F_OK), -1) << c.what;
      continue;
    }
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "out")) {
      found.push_back(entry.path().filename().string());
      EXPECT_EQ(read_file(entry.path()), kWritten) << c.what << ": " << entry.path();
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, c.written) << c.what;
  }
}

}  // namespace
