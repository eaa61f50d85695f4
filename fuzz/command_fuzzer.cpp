// Fuzzes test_grey as a whole: its main runs on an arbitrary input file and threshold, in this
// process, and every outcome is checked against the reference header reader: exit status 1, exactly
// one expected message or none, an output file exactly when the run succeeded, and that file's
// header and binarised raster.
//
// Input layout: when a line feed comes within the first 24 bytes, the bytes before it are the
// threshold argument and the rest is the input file; otherwise the threshold is "128".
//
// The library ends the process on failure. This harness is linked with -Wl,--wrap=exit,fopen,
// fclose: while a run is on, exit throws, so that the run unwinds back to the harness with the
// status it asked for, and the harness then does what the end of a process does: it flushes and
// closes the streams the run left open (the compiler, knowing exit never throws, may leave out
// the cleanups between the library's failure and its caller). The library itself is unchanged. A
// run that returns must leave no stream open, and no run may leave a file descriptor open.

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reference_header.h"

int test_grey_main(int argc, char** argv);

namespace {

struct ProcessEnd {
  int status;
};
bool run_in_progress = false;
std::vector<std::FILE*> streams_of_run;  // opened during the run and not closed yet

void check(bool condition) {
  if (!condition) std::abort();
}

// Paths and the standard output capture, made once.
struct Harness {
  Harness() {
    // A memory file system where there is one: every run creates and opens files.
    char in_memory[] = "/dev/shm/command-fuzzer-XXXXXX";
    char on_disk[] = "/tmp/command-fuzzer-XXXXXX";
    const char* made = mkdtemp(in_memory);
    if (made == nullptr) made = mkdtemp(on_disk);
    check(made != nullptr);
    folder = made;
    input = folder + "/in.pgm";
    output = folder + "/out.pgm";
    capture = memfd_create("stdout", 0);
    check(capture >= 0 && dup2(capture, STDOUT_FILENO) == STDOUT_FILENO);
  }
  ~Harness() {
    std::remove(input.c_str());
    std::remove(output.c_str());
    rmdir(folder.c_str());
  }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;
  std::string folder, input, output;
  int capture;
};

std::string captured(int fd) {
  std::fflush(stdout);
  std::string text;
  char chunk[256];
  check(lseek(fd, 0, SEEK_SET) == 0);
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
  check(ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0);
  return text;
}

bool exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// Open file descriptors: a run must leave as many as it found.
int open_descriptors() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
  }
  return count;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the run should have done, worked out with the reference reader.
struct Expectation {
  bool usage;
  bool dimensions_read;
  int rows;
  int columns;
  std::size_t raster_offset;
  int level;
};

Expectation expect(const std::string& threshold, std::vector<std::uint8_t>& file) {
  Expectation e{};
  e.usage = std::sscanf(threshold.c_str(), "%d", &e.level) != 1;
  file.reserve(1);
  std::FILE* stream = fmemopen(file.data(), file.size(), "rb");
  check(stream != nullptr);
  int maximum = 0;
  e.dimensions_read = reference::read_header(stream, '5', &e.columns, &e.rows, &maximum) >= 2;
  e.raster_offset = file.size() - reference::remaining(stream);
  std::fclose(stream);
  return e;
}

bool one_of(const std::string& out, const std::vector<std::string>& messages) {
  return std::find(messages.begin(), messages.end(), out) != messages.end();
}

}  // namespace

extern "C" [[noreturn]] void __real_exit(int status);
extern "C" std::FILE* __real_fopen(const char* name, const char* mode);
extern "C" int __real_fclose(std::FILE* stream);

extern "C" [[noreturn]] void __wrap_exit(int status) {
  if (run_in_progress) throw ProcessEnd{status};
  __real_exit(status);
}

extern "C" std::FILE* __wrap_fopen(const char* name, const char* mode) {
  std::FILE* stream = __real_fopen(name, mode);
  if (run_in_progress && stream != nullptr) streams_of_run.push_back(stream);
  return stream;
}

extern "C" int __wrap_fclose(std::FILE* stream) {
  streams_of_run.erase(std::remove(streams_of_run.begin(), streams_of_run.end(), stream),
                       streams_of_run.end());
  return __real_fclose(stream);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Harness harness;
  const std::uint8_t* line_end = std::find(data, data + std::min<std::size_t>(size, 24), '\n');
  const bool has_threshold = line_end != data + std::min<std::size_t>(size, 24);
  std::string threshold = has_threshold ? std::string(data, line_end) : "128";
  threshold = threshold.substr(0, threshold.find('\0'));  // an argument ends at a zero byte
  std::vector<std::uint8_t> file(has_threshold ? line_end + 1 : data, data + size);

  {
    std::ofstream out(harness.input, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
  }
  std::remove(harness.output.c_str());

  std::vector<std::string> args = {"test_grey", harness.input, harness.output, threshold};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const int descriptors = open_descriptors();
  int status = 0;
  bool ended_by_exit = false;
  run_in_progress = true;
  try {
    status = test_grey_main(4, argv.data());
  } catch (const ProcessEnd& end) {
    status = end.status;
    ended_by_exit = true;
  }
  run_in_progress = false;
  check(ended_by_exit || streams_of_run.empty());
  while (!streams_of_run.empty()) __wrap_fclose(streams_of_run.back());
  const std::string out = captured(harness.capture);
  check(status == 1);
  check(open_descriptors() == descriptors);

  const std::string usage = "Usage: ImageIn.pgm ImageOut.pgm Seuil \n";
  const std::string read_error = "\nErreur de lecture de l'image " + harness.input + " \n";
  const std::string allocation = "\n Allocation dynamique impossible pour un pointeur-tableau \n";
  check(exists(harness.output) == out.empty());
  // Numbers beyond the 32-bit range have no defined reference value: only the kind of outcome is
  // checked for them.
  if (reference::has_long_number(data, size)) {
    check(one_of(out, {"", usage, read_error, allocation}));
    return 0;
  }

  const Expectation e = expect(threshold, file);
  const std::int64_t count = std::int64_t{e.rows} * e.columns;
  std::string message;
  if (e.usage) {
    message = usage;
  } else if (!e.dimensions_read) {
    message = read_error;
  } else if (count < 0 || count > INT_MAX) {
    message = allocation;
  } else if (static_cast<std::uint64_t>(count) > file.size() - e.raster_offset) {
    message = read_error;
  }
  check(out == message);
  if (!message.empty()) return 0;

  // The output: the written header, then `count` bytes, binarised where both dimensions are
  // positive and zero otherwise.
  const std::string written = contents(harness.output);
  const std::string header =
      "P5\r" + std::to_string(e.columns) + " " + std::to_string(e.rows) + "\r255\r";
  check(written.size() == header.size() + static_cast<std::size_t>(count));
  check(written.compare(0, header.size(), header) == 0);
  const bool visited = e.rows > 0 && e.columns > 0;
  for (std::size_t p = 0; p < static_cast<std::size_t>(count); ++p) {
    const auto pixel = static_cast<unsigned char>(written[header.size() + p]);
    const int sample = file[e.raster_offset + p];
    check(pixel == (visited && sample >= e.level ? 255 : 0));
  }
  return 0;
}
