// Writing a file so that it is never left half-written: the bytes go to a new file in the same
// folder, which takes the name with one rename once all of them are written. A failure at any
// point, the process killed included, leaves the named file as it was.
//
// The new file is unnamed where the file system allows (O_TMPFILE): until it is linked in at the
// end it has no name, so a killed process leaves nothing behind. Elsewhere it is a hidden file with
// a unique name, removed on every failure path. Outputs that are not regular files (devices,
// pipes, terminals, the process's own descriptors under /proc) cannot be replaced and are written
// directly, as is a writable file in a folder that refuses new files.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// A descriptor, closed on destruction unless close() took it first.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }
  // Closing is the last chance for a file system to report a lost write.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A name in a folder that nothing else owns yet, removed on destruction unless kept.
class TemporaryName {
 public:
  TemporaryName() = default;
  ~TemporaryName() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  const std::string& path() const { return path_; }
  void set(std::string path) { path_ = std::move(path); }
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".<name>.<unique part>" beside `path`; the name is cut so that the whole fits a folder entry.
std::string hidden_name_beside(const std::string& path, unsigned attempt) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char unique[48];
  std::snprintf(unique, sizeof unique, ".%ld-%lx-%u", static_cast<long>(getpid()),
                static_cast<unsigned long>(now.tv_nsec), attempt);
  const std::string folder = folder_of(path);
  return (folder == "/" ? "" : folder) + "/." + base_of(path).substr(0, 200) + unique;
}

// Makes a file under a hidden name beside `path` with `make(candidate)`, which fails with EEXIST
// when the name is taken: the next name is tried then. The name made is kept in `name`.
template <typename Make>
bool claim_hidden_name(const std::string& path, TemporaryName* name, Make make) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = hidden_name_beside(path, attempt);
    if (make(candidate)) {
      name->set(std::move(candidate));
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// A folder of /proc: the process's own descriptors, whose names must not be replaced. Told by the
// file system it is on, which follows every link on the way (/dev/fd, /dev/stdout).
bool under_proc(const std::string& folder) {
  static const dev_t proc = [] {
    struct stat st {};
    return ::stat("/proc", &st) == 0 ? st.st_dev : dev_t(-1);
  }();
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && st.st_dev == proc;
}

// Where the bytes for `name` go: the file a chain of symbolic links ends at, and what is there
// (nothing yet, when `*exists` is false); false when the name must be written directly.
bool replaceable_path(const std::string& name, std::string* path, struct stat* existing,
                      bool* exists) {
  if (name.empty() || name.back() == '/') return false;
  std::string at = name;
  for (int hop = 0; hop < 40; ++hop) {
    if (under_proc(folder_of(at))) return false;
    *exists = ::lstat(at.c_str(), existing) == 0;
    if (!*exists || !S_ISLNK(existing->st_mode)) {
      *path = at;
      return true;
    }
    char target[PATH_MAX];
    const ssize_t length = ::readlink(at.c_str(), target, sizeof target - 1);
    if (length <= 0) return false;
    const std::string next(target, static_cast<std::size_t>(length));
    at = next[0] == '/' ? next : folder_of(at) + "/" + next;
  }
  return false;  // a loop: opening the name reports it
}

// Writes `head` then `body` whole, in as few system calls as the file takes.
bool write_all(int fd, const void* head, std::size_t head_bytes, const void* body,
               std::size_t body_bytes) {
  iovec parts[] = {{const_cast<void*>(head), head_bytes}, {const_cast<void*>(body), body_bytes}};
  iovec* at = parts;
  int left = 2;
  for (;;) {
    while (left > 0 && at->iov_len == 0) {
      ++at;
      --left;
    }
    if (left == 0) return true;
    ssize_t written = ::writev(fd, at, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    for (; left > 0 && static_cast<std::size_t>(written) >= at->iov_len; ++at, --left) {
      written -= static_cast<ssize_t>(at->iov_len);
    }
    if (left > 0) {
      at->iov_base = static_cast<char*>(at->iov_base) + written;
      at->iov_len -= static_cast<std::size_t>(written);
    }
  }
}

bool unnamed_files_can_be_linked() {
  // Linking an unnamed file in goes through its /proc/self/fd entry.
  static const bool proc_mounted = ::access("/proc/self/fd", X_OK) == 0;
  return proc_mounted;
}

// A new file in the folder of `path`, unnamed where possible, or named in `name`. On an existing
// file, takes its owner and group (where allowed) and its permission bits; otherwise the umask
// gives the mode. A negative descriptor with errno set when the folder takes no new file.
Descriptor create_beside(const std::string& path, const struct stat* existing, bool unnamed,
                         TemporaryName* name) {
  Descriptor fd;
  if (unnamed && unnamed_files_can_be_linked()) {
    fd = Descriptor(::open(folder_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  }
  if (fd.get() < 0) {
    claim_hidden_name(path, name, [&fd](const std::string& candidate) {
      fd = Descriptor(::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
      return fd.get() >= 0;
    });
  }
  if (fd.get() >= 0 && existing != nullptr) {
    // Owner first, where allowed (a refusal leaves the process's own): changing it clears the
    // set-user-ID and set-group-ID bits, which the mode then puts back.
    if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) {
      [[maybe_unused]] const int owned = ::fchown(fd.get(), existing->st_uid, existing->st_gid);
    }
    [[maybe_unused]] const int kept = ::fchmod(fd.get(), existing->st_mode & 07777);
  }
  return fd;
}

// Gives the unnamed file behind `fd` a hidden name beside `path`, in `name`.
bool link_in(const Descriptor& fd, const std::string& path, TemporaryName* name) {
  char proc_entry[40];
  std::snprintf(proc_entry, sizeof proc_entry, "/proc/self/fd/%d", fd.get());
  return claim_hidden_name(path, name, [&proc_entry](const std::string& candidate) {
    return ::linkat(AT_FDCWD, proc_entry, AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
  });
}

statut_image write_directly(const char* name, const void* head, std::size_t head_bytes,
                            const void* body, std::size_t body_bytes) {
  Descriptor fd(::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
  if (fd.get() < 0) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  if (!write_all(fd.get(), head, head_bytes, body, body_bytes) || !fd.close()) {
    return IMAGE_ERREUR_D_ECRITURE;
  }
  return IMAGE_OK;
}

}  // namespace

statut_image write_file(const char* name, const void* head, std::size_t head_bytes,
                        const void* body, std::size_t body_bytes, bool unnamed) {
  std::string path;
  struct stat existing {};
  bool exists = false;
  if (!replaceable_path(name, &path, &existing, &exists) ||
      (exists && !S_ISREG(existing.st_mode))) {
    return write_directly(name, head, head_bytes, body, body_bytes);
  }
  // A file the process may not write is not replaced behind its back.
  if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  }

  TemporaryName temporary;
  Descriptor fd = create_beside(path, exists ? &existing : nullptr, unnamed, &temporary);
  if (fd.get() < 0) {
    // The folder takes no new file (or is missing, or read-only): writing in place is what is
    // left, and opening says whether the name can be written at all.
    if (errno == ENOSPC || errno == EDQUOT) return IMAGE_ERREUR_D_ECRITURE;
    return write_directly(name, head, head_bytes, body, body_bytes);
  }
  if (!write_all(fd.get(), head, head_bytes, body, body_bytes)) return IMAGE_ERREUR_D_ECRITURE;
  if (temporary.path().empty() && !link_in(fd, path, &temporary)) return IMAGE_ERREUR_D_ECRITURE;
  if (!fd.close() || ::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return IMAGE_ERREUR_D_ECRITURE;
  }
  temporary.keep();
  return IMAGE_OK;
}

}  // namespace imagefiles::detail
