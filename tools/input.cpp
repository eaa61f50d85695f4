#include "input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

// A descriptor closed on destruction unless it was handed over.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

enum class Writer { present, none, interrupted };

// Whether a process writes to the pipe `fd`, opened without blocking. A read tells: no data and
// no writer is end of file (0), no data but a writer is EAGAIN. The first byte, when one is read,
// is given in *first. Without a writer, poll waits for data or for a writer that comes and goes
// (POLLHUP), in short steps that let a writer that only opens the pipe be seen.
Writer find_writer(int fd, int* first) {
  using clock = std::chrono::steady_clock;
  const clock::time_point deadline = clock::now() + std::chrono::milliseconds(writer_wait_ms);
  for (;;) {
    unsigned char byte = 0;
    const ssize_t got = read(fd, &byte, 1);
    if (got == 1) {
      *first = byte;
      return Writer::present;
    }
    if (got < 0 && errno == EINTR) return Writer::interrupted;
    // EAGAIN: a writer and no data yet. Another error is left to the reading, which reports it.
    if (got < 0) return Writer::present;
    if (got == 0) {
      pollfd wait{fd, POLLIN, 0};
      const int ready = poll(&wait, 1, 10);
      if (ready < 0 && errno == EINTR) return Writer::interrupted;
      // A writer came and went without writing: an empty input, read as such.
      if (ready > 0 && (wait.revents & POLLIN) == 0) return Writer::present;
    }
    if (clock::now() >= deadline) return Writer::none;
  }
}

statut_image open_failure() {
  if (errno == EMFILE || errno == ENFILE) return IMAGE_DESCRIPTEURS_EPUISES;
  return errno == ENOMEM ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_PAS_D_ACCES_EN_LECTURE;
}

}  // namespace

Input open_input(const char* name) {
  Input input;
  const int opened = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (opened < 0) {
    input.status = errno == EINTR ? IMAGE_ERREUR_DE_LECTURE : open_failure();
    return input;
  }
  Descriptor fd(opened);
  int first = EOF;
  struct stat st {};
  if (fstat(fd.get(), &st) == 0 && S_ISFIFO(st.st_mode)) {
    const Writer writer = find_writer(fd.get(), &first);
    if (writer == Writer::none) input.no_writer = true;
    if (writer == Writer::interrupted) input.status = IMAGE_ERREUR_DE_LECTURE;
    if (writer != Writer::present) return input;
  }
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    input.status = IMAGE_PAS_D_ACCES_EN_LECTURE;
    return input;
  }
  input.stream.reset(fdopen(fd.get(), "rb"));
  if (!input.stream) {
    input.status = open_failure();
    return input;
  }
  fd.release();
  // The byte read to find a writer goes back: a fresh stream takes one.
  if (first != EOF) std::ungetc(first, input.stream.get());
  return input;
}
