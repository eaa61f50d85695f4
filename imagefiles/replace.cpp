// Writing a file so that it is never left half-written: the bytes go to a new file in the same
// folder, which takes the name once all of them are written. A failure at any point, the process
// killed included, leaves the named file as it was.
//
// The new file is unnamed where the file system allows (O_TMPFILE): until it is linked in at the
// end it has no name, so a killed process leaves nothing behind; a new output is linked straight to
// its name. Elsewhere it is a hidden file with a unique name, removed on every failure path. The
// catchable signals wait while the file takes its name, so that Ctrl-C cannot stop the process
// between the two steps of a replacement. Outputs that are not regular files (devices, pipes,
// terminals, the process's own descriptors under /proc) cannot be replaced and are written
// directly, as is a writable file in a folder that refuses new files.
//
// Every step after the folder is found works relative to one open descriptor of that folder, so
// that a folder renamed during the write cannot redirect it, and only the length of the folder
// entry matters, not that of the whole path. Symbolic links are followed by this code, as the
// kernel would follow them under its protection for shared folders (fs.protected_symlinks),
// whatever that setting says.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

constexpr long proc_super_magic = 0x9fa0;  // the file system type of /proc

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
  explicit TemporaryName(int folder) : folder_(folder) {}
  ~TemporaryName() {
    if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  const std::string& name() const { return name_; }
  void set(std::string name) { name_ = std::move(name); }
  void keep() { name_.clear(); }
  void in(int folder) { folder_ = folder; }

 private:
  int folder_;
  std::string name_;
};

// The catchable signals held back for the life of the object (in this thread), then delivered.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
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

statut_image failure_to_open() {
  return open_failure(IMAGE_PAS_D_ACCES_EN_ECRITURE);
}

// ".<name>.<unique part>" for `entry`; the name is cut so that the whole fits a folder entry.
std::string hidden_name_for(const std::string& entry, unsigned attempt) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char unique[48];
  std::snprintf(unique, sizeof unique, ".%ld-%lx-%u", static_cast<long>(getpid()),
                static_cast<unsigned long>(now.tv_nsec), attempt);
  return "." + entry.substr(0, 200) + unique;
}

// Makes a file under a hidden name in `folder` with `make(candidate)`, which fails with EEXIST
// when the name is taken: the next name is tried then. The name made is kept in `name`.
template <typename Make>
bool claim_hidden_name(const std::string& entry, TemporaryName* name, Make make) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = hidden_name_for(entry, attempt);
    if (make(candidate)) {
      name->set(std::move(candidate));
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Where the bytes go: an entry of an open folder.
struct Target {
  Descriptor folder;
  std::string entry;
  bool on_proc = false;  // the folder is on /proc: the process's own descriptors
  bool exists = false;
  struct stat existing {};
};

// The kernel's rule for links in shared folders: a link in a sticky folder that everyone may
// write is followed only when it belongs to the process's user or to the folder's owner.
bool may_follow(int folder, const struct stat& link) {
  struct stat st {};
  if (::fstat(folder, &st) != 0) return false;
  const bool shared = (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == ::geteuid() || link.st_uid == st.st_uid;
}

Descriptor open_folder(int at, const std::string& path) {
  return Descriptor(::openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Follows the chain of symbolic links from `name` to the entry the bytes go to. IMAGE_OK with the
// target, whose folder is not open when there is no folder to work in (missing, not searchable:
// the name is then written directly, and opening it tells what is wrong);
// IMAGE_PAS_D_ACCES_EN_ECRITURE for a link that the kernel's rule forbids to follow, a loop of
// links, or an entry name too long for the file system.
statut_image find_target(const std::string& name, Target* target) {
  target->folder = open_folder(AT_FDCWD, folder_of(name));
  target->entry = base_of(name);
  for (int hop = 0; hop < 40; ++hop) {
    if (target->folder.get() < 0) {
      return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? failure_to_open() : IMAGE_OK;
    }
    struct statfs fs {};
    target->on_proc = ::fstatfs(target->folder.get(), &fs) == 0 &&
                      static_cast<long>(fs.f_type) == proc_super_magic;
    if (target->on_proc) return IMAGE_OK;
    target->exists = ::fstatat(target->folder.get(), target->entry.c_str(), &target->existing,
                               AT_SYMLINK_NOFOLLOW) == 0;
    if (!target->exists && errno == ENAMETOOLONG) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
    if (!target->exists || !S_ISLNK(target->existing.st_mode)) return IMAGE_OK;
    if (!may_follow(target->folder.get(), target->existing)) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
    std::vector<char> link(static_cast<std::size_t>(target->existing.st_size) + PATH_MAX);
    const ssize_t length =
        ::readlinkat(target->folder.get(), target->entry.c_str(), link.data(), link.size() - 1);
    if (length <= 0) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
    const std::string next(link.data(), static_cast<std::size_t>(length));
    // A relative link is read from the link's own folder, through its descriptor.
    target->folder = open_folder(target->folder.get(), folder_of(next));
    target->entry = base_of(next);
    if (target->entry.empty()) return IMAGE_PAS_D_ACCES_EN_ECRITURE;  // a link to a folder
  }
  return IMAGE_PAS_D_ACCES_EN_ECRITURE;
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

// Linking an unnamed file in goes through its /proc/self/fd entry: /proc must be mounted.
bool unnamed_files_can_be_linked() {
  static const bool proc_mounted = [] {
    struct statfs fs {};
    return ::statfs("/proc/self/fd", &fs) == 0 && static_cast<long>(fs.f_type) == proc_super_magic;
  }();
  return proc_mounted;
}

// The extended attributes of the file being replaced (ACLs among them) onto its successor, where
// the process may read and set them; one that cannot be copied is left out. Read by a path through
// the folder's descriptor where /proc is mounted (one system call for a file that has none),
// through a descriptor of the file elsewhere.
void copy_attributes(const Target& target, int to) {
  std::string path;
  Descriptor from;
  if (unnamed_files_can_be_linked()) {
    char folder[40];
    std::snprintf(folder, sizeof folder, "/proc/self/fd/%d/", target.folder.get());
    path = folder + target.entry;
  } else {
    from = Descriptor(::openat(target.folder.get(), target.entry.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (from.get() < 0) return;
  }
  const auto list = [&](char* names, std::size_t size) {
    return path.empty() ? ::flistxattr(from.get(), names, size)
                        : ::llistxattr(path.c_str(), names, size);
  };
  const auto get = [&](const char* attribute, void* value, std::size_t size) {
    return path.empty() ? ::fgetxattr(from.get(), attribute, value, size)
                        : ::lgetxattr(path.c_str(), attribute, value, size);
  };
  const ssize_t list_bytes = list(nullptr, 0);
  if (list_bytes <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(list_bytes));
  const ssize_t listed = list(names.data(), names.size());
  if (listed <= 0) return;
  std::vector<char> value;
  for (const char* attribute = names.data(); attribute < names.data() + listed;
       attribute += std::char_traits<char>::length(attribute) + 1) {
    const ssize_t bytes = get(attribute, nullptr, 0);
    if (bytes < 0) continue;
    value.resize(static_cast<std::size_t>(bytes) + 1);
    const ssize_t got = get(attribute, value.data(), value.size());
    if (got < 0) continue;
    [[maybe_unused]] const int set =
        ::fsetxattr(to, attribute, value.data(), static_cast<std::size_t>(got), 0);
  }
}

// A new file in the target's folder, unnamed where possible, or named in `name`. On an existing
// file, takes its owner and group (where allowed), its extended attributes and its permission
// bits; otherwise the umask gives the mode. A negative descriptor with errno set when the folder
// takes no new file.
Descriptor create_beside(const Target& target, bool unnamed, TemporaryName* name) {
  Descriptor fd;
  if (unnamed && unnamed_files_can_be_linked()) {
    fd = Descriptor(::openat(target.folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  }
  if (fd.get() < 0) {
    const int folder = target.folder.get();
    claim_hidden_name(target.entry, name, [&fd, folder](const std::string& candidate) {
      fd = Descriptor(
          ::openat(folder, candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
      return fd.get() >= 0;
    });
  }
  if (fd.get() >= 0 && target.exists) {
    // Owner first, where allowed (a refusal leaves the process's own): changing it clears the
    // set-user-ID and set-group-ID bits, which the mode then puts back.
    const struct stat& existing = target.existing;
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
      [[maybe_unused]] const int owned = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
    }
    copy_attributes(target, fd.get());
    [[maybe_unused]] const int kept = ::fchmod(fd.get(), existing.st_mode & 07777);
  }
  return fd;
}

// Links the unnamed file behind `fd` as `entry` of `folder`.
bool link_as(const Descriptor& fd, int folder, const char* entry) {
  char proc_entry[40];
  std::snprintf(proc_entry, sizeof proc_entry, "/proc/self/fd/%d", fd.get());
  return ::linkat(AT_FDCWD, proc_entry, folder, entry, AT_SYMLINK_FOLLOW) == 0;
}

// Gives the file written behind `fd` the target's name: linked straight to it when it is new and
// unnamed, otherwise under a hidden name renamed over it. Closes `fd` (the last check of the data)
// before the name is taken over.
statut_image put_in_place(Descriptor* fd, const Target& target, TemporaryName* temporary) {
  const int folder = target.folder.get();
  const char* entry = target.entry.c_str();
  const SignalsHeld held;
  if (temporary->name().empty()) {
    if (!target.exists && link_as(*fd, folder, entry)) {
      if (fd->close()) return IMAGE_OK;
      ::unlinkat(folder, entry, 0);
      return IMAGE_ERREUR_D_ECRITURE;
    }
    // The name exists (or appeared meanwhile): a hidden name first, then the replacement.
    if (!claim_hidden_name(target.entry, temporary, [fd, folder](const std::string& candidate) {
          return link_as(*fd, folder, candidate.c_str());
        })) {
      return IMAGE_ERREUR_D_ECRITURE;
    }
  }
  if (!fd->close() || ::renameat(folder, temporary->name().c_str(), folder, entry) != 0) {
    return IMAGE_ERREUR_D_ECRITURE;
  }
  temporary->keep();
  return IMAGE_OK;
}

// Writes `bytes` at `offset`, whole.
bool write_all_at(int fd, const void* bytes, std::size_t count, std::uint64_t offset) {
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t written = ::pwrite(fd, at, count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    at += written;
    count -= static_cast<std::size_t>(written);
    offset += static_cast<std::uint64_t>(written);
  }
  return true;
}

}  // namespace

// Where the bytes go while they are written: a new file beside the target (`replacing`), or the
// name itself opened for writing when it cannot be replaced.
struct ReplacementFile::State {
  Target target;
  TemporaryName temporary{-1};
  Descriptor fd;
  bool replacing = false;
  bool seekable = false;
  bool failed = false;
};

ReplacementFile::ReplacementFile() = default;
ReplacementFile::~ReplacementFile() = default;

statut_image ReplacementFile::open(const char* name, bool unnamed) {
  if (name == nullptr) return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  state_ = std::make_unique<State>();
  State& s = *state_;
  const auto directly = [&s](int folder, const char* entry) {
    s.fd = Descriptor(
        ::openat(folder, entry, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
    if (s.fd.get() < 0) return failure_to_open();
    struct stat st {};
    s.seekable = ::fstat(s.fd.get(), &st) == 0 && S_ISREG(st.st_mode);
    return IMAGE_OK;
  };
  const std::string path = name;
  if (path.empty() || path.back() == '/') return directly(AT_FDCWD, name);
  if (const statut_image found = find_target(path, &s.target); found != IMAGE_OK) return found;
  if (s.target.folder.get() < 0) return directly(AT_FDCWD, name);
  if (s.target.on_proc || (s.target.exists && !S_ISREG(s.target.existing.st_mode))) {
    return directly(s.target.folder.get(), s.target.entry.c_str());
  }
  // A file the process may not write is not replaced behind its back.
  if (s.target.exists &&
      ::faccessat(s.target.folder.get(), s.target.entry.c_str(), W_OK, AT_EACCESS) != 0) {
    return IMAGE_PAS_D_ACCES_EN_ECRITURE;
  }
  s.temporary.in(s.target.folder.get());
  s.fd = create_beside(s.target, unnamed, &s.temporary);
  if (s.fd.get() < 0) {
    // The folder takes no new file (or is read-only): writing in place is what is left, and
    // opening says whether the name can be written at all.
    if (errno == ENOSPC || errno == EDQUOT) return IMAGE_ERREUR_D_ECRITURE;
    if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) return failure_to_open();
    return directly(s.target.folder.get(), s.target.entry.c_str());
  }
  s.replacing = true;
  s.seekable = true;
  return IMAGE_OK;
}

bool ReplacementFile::seekable() const {
  return state_ != nullptr && state_->seekable;
}

statut_image ReplacementFile::write(const void* head, std::size_t head_bytes, const void* body,
                                    std::size_t body_bytes) {
  if (state_ == nullptr || state_->fd.get() < 0 || state_->failed) return IMAGE_ERREUR_D_ECRITURE;
  if (!write_all(state_->fd.get(), head, head_bytes, body, body_bytes)) {
    state_->failed = true;
    return IMAGE_ERREUR_D_ECRITURE;
  }
  return IMAGE_OK;
}

statut_image ReplacementFile::write_at(const void* bytes, std::size_t count, std::uint64_t offset) {
  if (state_ == nullptr || state_->fd.get() < 0 || state_->failed || !state_->seekable) {
    return IMAGE_ERREUR_D_ECRITURE;
  }
  if (!write_all_at(state_->fd.get(), bytes, count, offset)) {
    state_->failed = true;
    return IMAGE_ERREUR_D_ECRITURE;
  }
  return IMAGE_OK;
}

statut_image ReplacementFile::commit() {
  if (state_ == nullptr || state_->fd.get() < 0 || state_->failed) return IMAGE_ERREUR_D_ECRITURE;
  State& s = *state_;
  if (!s.replacing) return s.fd.close() ? IMAGE_OK : IMAGE_ERREUR_D_ECRITURE;
  return put_in_place(&s.fd, s.target, &s.temporary);
}

statut_image write_file(const char* name, const void* head, std::size_t head_bytes,
                        const void* body, std::size_t body_bytes, bool unnamed) {
  ReplacementFile file;
  if (const statut_image opened = file.open(name, unnamed); opened != IMAGE_OK) return opened;
  if (const statut_image written = file.write(head, head_bytes, body, body_bytes);
      written != IMAGE_OK) {
    return written;
  }
  return file.commit();
}

}  // namespace imagefiles::detail
