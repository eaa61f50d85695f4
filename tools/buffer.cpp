#include "buffer.h"

#include <sys/mman.h>

#include <cstdint>

bool Buffer::allocate(std::size_t bytes) {
  if (bytes <= size_) return true;
  constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
  const bool huge = bytes >= huge_page;
  const std::size_t rounded = (bytes + huge_page - 1) & ~(huge_page - 1);
  block_.reset(static_cast<unsigned char*>(std::calloc(huge ? rounded + huge_page : bytes, 1)));
  size_ = 0;
  data_ = block_.get();
  if (block_ == nullptr) return false;
  if (huge) {
    const auto start = reinterpret_cast<std::uintptr_t>(data_);
    data_ += ((start + huge_page - 1) & ~(huge_page - 1)) - start;
    madvise(data_, rounded, MADV_HUGEPAGE);
  }
  size_ = bytes;
  return true;
}
