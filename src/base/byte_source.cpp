#include "base/byte_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/bulk_heap.h"

namespace tracemill {

ByteSource::ByteSource(int fd) : fd_(fd), buffer_(kBufferSize, '\0') {
  pos_ = end_ = buffer_.data();
}

ByteSource ByteSource::from_memory(std::string bytes, std::size_t block, int fail_errno) {
  ByteSource source;
  source.memory_ = std::move(bytes);
  source.block_ = std::max<std::size_t>(block, 1);
  source.fail_errno_ = fail_errno;
  source.from_memory_ = true;
  source.buffer_.assign(source.block_, '\0');
  source.pos_ = source.end_ = source.buffer_.data();
  return source;
}

ByteSource::ByteSource(ByteSource&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      error_(other.error_),
      memory_(std::move(other.memory_)),
      memory_pos_(other.memory_pos_),
      block_(other.block_),
      fail_errno_(other.fail_errno_),
      from_memory_(other.from_memory_) {
  // Bytes buffered but not yet taken move along: keep them at the same offsets.
  std::ptrdiff_t pos = other.pos_ - other.buffer_.data();
  std::ptrdiff_t end = other.end_ - other.buffer_.data();
  buffer_ = std::move(other.buffer_);
  pos_ = buffer_.data() + pos;
  end_ = buffer_.data() + end;
  other.pos_ = other.end_ = nullptr;
}

bool ByteSource::refill() {
  // The record decoded from this source grows the heap between refills.
  advise_new_heap();
  pos_ = end_ = buffer_.data();
  if (error_ != 0) return false;
  if (from_memory_) {
    if (memory_pos_ >= memory_.size()) {
      error_ = fail_errno_;
      return false;
    }
    std::size_t n = std::min(block_, memory_.size() - memory_pos_);
    std::copy_n(memory_.data() + memory_pos_, n, buffer_.data());
    memory_pos_ += n;
    end_ = buffer_.data() + n;
    return true;
  }
  if (fd_ < 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n > 0) {
      end_ = buffer_.data() + n;
      return true;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    error_ = errno;
    return false;
  }
}

void ByteSource::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace tracemill
