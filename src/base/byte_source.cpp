#include "base/byte_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tracemill {

ByteSource::ByteSource(std::size_t capacity)
    : capacity_(capacity), buffer_(new char[capacity + kPadding]) {
  // The padding is read by wide loads near the end of a block; give it defined contents.
  std::memset(buffer_.get(), 0, capacity + kPadding);
  pos_ = end_ = buffer_.get();
}

ByteSource::ByteSource(int fd) : ByteSource(kBufferSize) {
  fd_ = fd;
  struct stat info {};
  regular_file_ = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

ByteSource ByteSource::from_memory(std::string bytes, std::size_t block, int fail_errno,
                                   bool rewindable) {
  // No block larger than the bytes themselves: tests and fuzzing make many small sources.
  ByteSource source(std::clamp<std::size_t>(bytes.size(), 1, std::max<std::size_t>(block, 1)));
  source.memory_ = std::move(bytes);
  source.fail_errno_ = fail_errno;
  source.from_memory_ = true;
  source.regular_file_ = rewindable;
  return source;
}

ByteSource::ByteSource(ByteSource&& other) noexcept
    : capacity_(other.capacity_),
      buffer_(std::move(other.buffer_)),
      fd_(std::exchange(other.fd_, -1)),
      error_(other.error_),
      regular_file_(other.regular_file_),
      pos_(std::exchange(other.pos_, nullptr)),
      end_(std::exchange(other.end_, nullptr)),
      block_offset_(other.block_offset_),
      memory_(std::move(other.memory_)),
      memory_pos_(other.memory_pos_),
      fail_errno_(other.fail_errno_),
      from_memory_(other.from_memory_) {}

bool ByteSource::refill() {
  block_offset_ += static_cast<std::uint64_t>(end_ - buffer_.get());
  pos_ = end_ = buffer_.get();
  if (error_ != 0) return false;
  if (from_memory_) {
    if (memory_pos_ >= memory_.size()) {
      error_ = fail_errno_;
      return false;
    }
    std::size_t n = std::min(capacity_, memory_.size() - memory_pos_);
    std::memcpy(buffer_.get(), memory_.data() + memory_pos_, n);
    memory_pos_ += n;
    end_ = buffer_.get() + n;
    return true;
  }
  if (fd_ < 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.get(), capacity_);
    if (n > 0) {
      end_ = buffer_.get() + n;
      return true;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    error_ = errno;
    return false;
  }
}

bool ByteSource::rewind() {
  if (!regular_file_) return false;
  if (from_memory_) {
    memory_pos_ = 0;
  } else if (fd_ < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
    return false;
  }
  error_ = 0;
  pos_ = end_ = buffer_.get();
  block_offset_ = 0;
  return true;
}

void ByteSource::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace tracemill
