// Image buffers for the commands: zero-filled, released on destruction, and laid out for speed.

#ifndef IMAGEFILES_TOOLS_BUFFER_H
#define IMAGEFILES_TOOLS_BUFFER_H

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <utility>

// A zero-filled image buffer.
//
// calloc rather than a value-initialised container: large blocks come from the kernel already
// zeroed, with no pass over them. A large buffer also starts on a 2 MiB boundary, inside a block
// 2 MiB longer (address space only: the slack is never touched), and asks the kernel for
// transparent huge pages. The read and the binarisation are the first to touch the buffer, and
// one page fault per 2 MiB instead of one per 4 KiB is a large share of a command's time on
// big images. The last, partial 2 MiB is advised too: the block reaches to its end.
class Buffer {
 public:
  Buffer() = default;
  Buffer(Buffer&& other) noexcept
      : block_(std::move(other.block_)),
        data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    block_ = std::move(other.block_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  // False when the memory cannot be had; a buffer of 0 bytes is empty and null. A buffer that
  // holds `bytes` already keeps its memory (and its content).
  bool allocate(std::size_t bytes);
  unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  struct FreeDeleter {
    void operator()(unsigned char* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<unsigned char[], FreeDeleter> block_;
  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

#endif  // IMAGEFILES_TOOLS_BUFFER_H
