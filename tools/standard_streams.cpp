#include "standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

bool open_standard_descriptors(unsigned* closed) {
  if (closed != nullptr) *closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (closed != nullptr) *closed |= 1u << fd;
    // The lowest free number is this one: the lower ones are open.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd) {
      if (opened >= 0) close(opened);
      return false;
    }
  }
  return true;
}

void ignore_broken_pipes() {
  std::signal(SIGPIPE, SIG_IGN);
}
