// The floor for a batch of files: each file read whole into a buffer already faulted in, written
// as a new file beside its output name and renamed over it, on N threads; no header parsed, no
// pixel touched. What seuiller does beyond this is its own cost.
//
//   copy_floor [-j N] DOSSIER FILE...

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

bool copy(const char* from, const std::string& to, std::vector<unsigned char>& buffer) {
  const int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  fstat(in, &st);
  const auto size = static_cast<std::size_t>(st.st_size);
  if (buffer.size() < size) buffer.resize(size);  // value-initialised: faulted in once
  std::size_t got = 0;
  for (ssize_t n; got < size && (n = read(in, buffer.data() + got, size - got)) > 0;) got += n;
  close(in);
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
  if (argc > 2 && std::strcmp(argv[1], "-j") == 0) {
    threads = static_cast<unsigned>(std::atoi(argv[2]));
    at = 3;
  }
  if (argc - at < 2 || threads == 0) {
    std::fprintf(stderr, "Usage: copy_floor [-j N] DOSSIER FILE...\n");
    return 2;
  }
  const std::string folder = argv[at];
  std::atomic<int> next{at + 1};
  std::atomic<bool> failed{false};
  const auto work = [&] {
    std::vector<unsigned char> buffer;
    for (int i; (i = next++) < argc;) {
      const char* slash = std::strrchr(argv[i], '/');
      if (!copy(argv[i], folder + "/" + (slash ? slash + 1 : argv[i]), buffer)) failed = true;
    }
  };
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  return failed ? 1 : 0;
}
