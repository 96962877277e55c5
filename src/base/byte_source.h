// ByteSource: the 8192-byte buffered reader that both decoders pull their bytes from.
//
// The decoders read straight from the buffer: data() .. limit() are the bytes not yet taken,
// advance_to() takes them, refill() loads the next block once the buffer is used up.
#pragma once

#include <cstddef>
#include <string>

namespace tracemill {

class ByteSource {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  // Reads from `fd` and closes it when destroyed (or at close()).
  explicit ByteSource(int fd);
  // Test door: serves `bytes` in blocks of at most `block` bytes; after the last one, a
  // refill fails with `fail_errno` when it is not 0, else reports the end of the input.
  static ByteSource from_memory(std::string bytes, std::size_t block = kBufferSize,
                                int fail_errno = 0);

  ByteSource(ByteSource&& other) noexcept;
  ByteSource& operator=(ByteSource&&) = delete;
  ByteSource(const ByteSource&) = delete;
  ~ByteSource() { close(); }

  const char* data() const { return pos_; }
  const char* limit() const { return end_; }
  std::size_t available() const { return static_cast<std::size_t>(end_ - pos_); }
  // Requires: data() <= p <= limit().
  void advance_to(const char* p) { pos_ = p; }

  // Requires: available() == 0. Loads the next block (a read interrupted by a signal is
  // retried). Returns true when bytes arrived; false at the end of the input or on a read
  // error, which error() then holds as an errno.
  bool refill();
  int error() const { return error_; }

  // Closes the file now; later refills report the end of the input.
  void close();

 private:
  ByteSource() = default;

  int fd_ = -1;
  int error_ = 0;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  std::string buffer_;
  // Memory door only: the bytes not yet served, the block size and the error at the end.
  std::string memory_;
  std::size_t memory_pos_ = 0;
  std::size_t block_ = kBufferSize;
  int fail_errno_ = 0;
  bool from_memory_ = false;
};

}  // namespace tracemill
