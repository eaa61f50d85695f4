#include "temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!name_.empty()) ::unlink(name_.c_str());
}

bool TemporaryFile::create(const char* prefix, const char* suffix) {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  const std::string pattern = std::string(folder) + "/" + prefix + "XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemps(name.data(), static_cast<int>(std::strlen(suffix)), O_CLOEXEC);
  if (fd < 0) return false;
  fd_ = fd;
  name_ = name.data();
  return true;
}

statut_image TemporaryFile::fill(const unsigned char* start, std::size_t count, std::FILE* stream) {
  bool written = write_all(fd_, start, count);
  std::vector<unsigned char> block(1 << 16);
  std::size_t n;
  while (written && (n = std::fread(block.data(), 1, block.size(), stream)) > 0) {
    written = write_all(fd_, block.data(), n);
  }
  if (std::ferror(stream)) return IMAGE_ERREUR_DE_LECTURE;
  return written ? IMAGE_OK : IMAGE_ERREUR_DE_LECTURE;  // !written: the folder is full
}
