// The floor: each file read whole into a buffer, written as a new file beside its output name and
// renamed over it, on N threads; no header parsed, no pixel touched. What seuiller and test_grey
// do beyond this is their own cost.
//
//   copy_floor [-j N] [-t] [-e] DOSSIER FILE...
//
// With -e each output is the first eighth of its input: the floor of writing a bitmap, which is
// an eighth of its greymap.
// Buffers are those of the commands (2 MiB aligned, huge pages). With -t the buffer is faulted in
// before the clock starts, and the program prints the seconds that the reading, writing and
// renaming took: the floor of one file's copy, without the start of a process or the first touch
// of its memory.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "buffer.h"

namespace {

bool copy(const char* from, const std::string& to, Buffer& buffer, bool eighth) {
  const int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  fstat(in, &st);
  const auto size = static_cast<std::size_t>(st.st_size);
  if (!buffer.allocate(size)) return false;
  std::size_t got = 0;
  for (ssize_t n; got < size && (n = read(in, buffer.data() + got, size - got)) > 0;) got += n;
  close(in);
  if (eighth) got /= 8;
  const std::string temporary = to + ".tmp";
  const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return false;
  std::size_t put = 0;
  for (ssize_t n; put < got && (n = write(out, buffer.data() + put, got - put)) > 0;) put += n;
  return close(out) == 0 && put == got && rename(temporary.c_str(), to.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int at = 1;
  unsigned threads = 1;
  bool timed = false;
  if (argc > 2 && std::strcmp(argv[1], "-j") == 0) {
    threads = static_cast<unsigned>(std::atoi(argv[2]));
    at = 3;
  }
  if (at < argc && std::strcmp(argv[at], "-t") == 0) {
    timed = true;
    ++at;
  }
  bool eighth = false;
  if (at < argc && std::strcmp(argv[at], "-e") == 0) {
    eighth = true;
    ++at;
  }
  if (argc - at < 2 || threads == 0 || (timed && threads != 1)) {
    std::fprintf(stderr, "Usage: copy_floor [-j N] [-t] [-e] DOSSIER FILE...\n");
    return 2;
  }
  const std::string folder = argv[at];
  std::atomic<int> next{at + 1};
  std::atomic<bool> failed{false};
  Buffer faulted;
  if (timed) {
    std::size_t largest = 0;
    for (int i = at + 1; i < argc; ++i) {
      struct stat st {};
      if (stat(argv[i], &st) == 0) {
        largest = std::max(largest, static_cast<std::size_t>(st.st_size));
      }
    }
    if (!faulted.allocate(largest)) return 1;
    std::memset(faulted.data(), 1, largest);
  }
  const auto start = std::chrono::steady_clock::now();
  const auto work = [&] {
    Buffer buffer = std::move(faulted);
    for (int i; (i = next++) < argc;) {
      const char* slash = std::strrchr(argv[i], '/');
      if (!copy(argv[i], folder + "/" + (slash ? slash + 1 : argv[i]), buffer, eighth)) {
        failed = true;
      }
    }
  };
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  if (timed) {
    std::printf("%.9f\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return failed ? 1 : 0;
}
