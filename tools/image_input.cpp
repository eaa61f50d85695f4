#include "image_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

statut_image open_failure() {
  if (errno == EMFILE || errno == ENFILE) return IMAGE_DESCRIPTEURS_EPUISES;
  return errno == ENOMEM ? IMAGE_MEMOIRE_INSUFFISANTE : IMAGE_PAS_D_ACCES_EN_LECTURE;
}

// Whether `bytes` start with the header of a greymap of maximum value 255.
bool greymap_of_255(unsigned char* bytes, std::size_t count) {
  if (count < 2 || bytes[0] != 'P' || bytes[1] != '5') return false;
  const Stream header(fmemopen(bytes, count, "rb"));
  int maximum = 0;
  return header && lire_entete_flux_pgm(header.get(), nullptr, nullptr, &maximum) == IMAGE_OK &&
         maximum == 255;
}

constexpr std::size_t kStart = 64;  // bytes read to tell a stream's kind

// A stream that gives `start` (kStart bytes, `count` of them used) then the rest of `rest`: a
// stream whose first bytes were read, whole again.
struct Rejoined {
  const unsigned char* start;
  std::size_t count;
  std::size_t at;
  std::FILE* rest;
};

ssize_t read_rejoined(void* cookie, char* to, std::size_t size) {
  auto* r = static_cast<Rejoined*>(cookie);
  if (r->at < r->count) {
    const std::size_t n = size < r->count - r->at ? size : r->count - r->at;
    std::memcpy(to, r->start + r->at, n);
    r->at += n;
    return static_cast<ssize_t>(n);
  }
  const std::size_t n = std::fread(to, 1, size, r->rest);
  return n == 0 && std::ferror(r->rest) ? -1 : static_cast<ssize_t>(n);
}

int close_rejoined(void* cookie) {
  delete static_cast<Rejoined*>(cookie);
  return 0;
}

}  // namespace

statut_image ImageInput::open(const std::string& name, bool bands, bool* no_writer) {
  *no_writer = false;
  if (name == "-") return open_stream(stdin, bands);
  Input input = open_input(name.c_str());
  if (!input.stream) {
    *no_writer = input.no_writer;
    return input.status;
  }
  file_ = std::move(input.stream);
  struct stat st {};
  if (::fstat(::fileno(file_.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
    return open_stream(file_.get(), bands);
  }
  if (bands) {
    unsigned char start[kStart];
    const std::size_t got = std::fread(start, 1, sizeof start, file_.get());
    std::rewind(file_.get());
    if (greymap_of_255(start, got)) {
      greymap_ = file_.get();
      return IMAGE_OK;
    }
  }
  file_.reset();
  path_ = name;
  return compter_pages(path_.c_str(), &pages_);
}

statut_image ImageInput::open_stream(std::FILE* stream, bool bands) {
  start_.reset(new unsigned char[kStart]);
  const std::size_t got = std::fread(start_.get(), 1, kStart, stream);
  if (std::ferror(stream)) return IMAGE_ERREUR_DE_LECTURE;
  if (bands && greymap_of_255(start_.get(), got)) {
    auto* rejoined = new Rejoined{start_.get(), got, 0, stream};
    rejoined_.reset(fopencookie(rejoined, "rb", {read_rejoined, nullptr, nullptr, close_rejoined}));
    if (!rejoined_) {
      delete rejoined;
      return IMAGE_MEMOIRE_INSUFFISANTE;
    }
    greymap_ = rejoined_.get();
    return IMAGE_OK;
  }
  // Anything else is copied, then read as a file.
  if (!copy_.create("seuiller-", "")) return open_failure();
  if (const statut_image status = copy_.fill(start_.get(), got, stream); status != IMAGE_OK) {
    return status;
  }
  file_.reset();
  path_ = copy_.name();
  return compter_pages(path_.c_str(), &pages_);
}

statut_image ImageInput::read(int page, Buffer* buffer, int* rows, int* columns) const {
  statut_image status = charger_image_grise(path_.c_str(), page, nullptr, 0, rows, columns);
  if (status != IMAGE_TAMPON_TROP_PETIT) return status;
  const std::size_t bytes = std::size_t(*rows) * std::size_t(*columns);
  if (!buffer->allocate(bytes)) return IMAGE_MEMOIRE_INSUFFISANTE;
  return charger_image_grise(path_.c_str(), page, buffer->data(), bytes, rows, columns);
}

bool copy_to_standard_output(const std::string& name) {
  const Stream stream(std::fopen(name.c_str(), "rbe"));
  if (!stream) return false;
  std::vector<unsigned char> block(1 << 16);
  std::size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), stream.get())) > 0) {
    if (std::fwrite(block.data(), 1, n, stdout) != n) return false;
  }
  return !std::ferror(stream.get()) && std::fflush(stdout) == 0;
}
