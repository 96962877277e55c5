#include "base/byte_source.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tracemill {

// The inflater's stream and the block of compressed bytes it reads from, as large as the
// source's buffer.
struct ByteSource::Inflater {
  explicit Inflater(std::size_t size) : input(new unsigned char[size]), input_size(size) {}
  ~Inflater() { inflateEnd(&stream); }  // harmless when inflateInit2 failed
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  z_stream stream{};
  std::unique_ptr<unsigned char[]> input;
  std::size_t input_size;
  bool member_ended = false;  // the last member is complete; a further byte starts another
  bool input_ended = false;
};

namespace {

// 16 + the largest window: a gzip wrapper, not a zlib one or raw deflate data.
constexpr int kGzipWindowBits = 16 + MAX_WBITS;

}  // namespace

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
  // No buffer larger than the bytes themselves: tests and fuzzing make many small sources. Two
  // bytes at least, so that inflate_if_gzip() can look at the magic.
  block = std::max<std::size_t>(block, 1);
  ByteSource source(std::clamp<std::size_t>(bytes.size(), 2, std::max<std::size_t>(block, 2)));
  source.memory_ = std::move(bytes);
  source.memory_block_ = block;
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
      stream_error_(std::move(other.stream_error_)),
      inflater_(std::move(other.inflater_)),
      memory_(std::move(other.memory_)),
      memory_pos_(other.memory_pos_),
      memory_block_(other.memory_block_),
      fail_errno_(other.fail_errno_),
      from_memory_(other.from_memory_) {}

ByteSource::~ByteSource() { close(); }

std::size_t ByteSource::read_raw(char* to, std::size_t max) {
  if (error_ != 0) return 0;
  if (from_memory_) {
    if (memory_pos_ >= memory_.size()) {
      error_ = fail_errno_;
      return 0;
    }
    const std::size_t n = std::min({max, memory_block_, memory_.size() - memory_pos_});
    std::memcpy(to, memory_.data() + memory_pos_, n);
    memory_pos_ += n;
    return n;
  }
  if (fd_ < 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, to, max);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    error_ = errno;
    return 0;
  }
}

bool ByteSource::refill() {
  block_offset_ += static_cast<std::uint64_t>(end_ - buffer_.get());
  pos_ = end_ = buffer_.get();
  if (inflater_) return refill_inflated();
  end_ += read_raw(buffer_.get(), capacity_);
  return end_ != pos_;
}

bool ByteSource::inflate_if_gzip() {
  if (inflater_) return true;
  // The first bytes may come in pieces (a pipe, a terminal, small memory blocks).
  while (available() < 2) {
    const auto used = static_cast<std::size_t>(end_ - buffer_.get());
    const std::size_t n = read_raw(buffer_.get() + used, capacity_ - used);
    if (n == 0) break;
    end_ += n;
  }
  if (available() < 2 || static_cast<unsigned char>(pos_[0]) != 0x1f ||
      static_cast<unsigned char>(pos_[1]) != 0x8b) {
    return false;
  }
  inflater_ = std::make_unique<Inflater>(capacity_);
  z_stream& stream = inflater_->stream;
  if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) {
    stream_error_ = stream.msg ? stream.msg : "cannot start inflating";
  }
  // The bytes read so far are the start of the compressed stream.
  std::memcpy(inflater_->input.get(), pos_, available());
  stream.next_in = inflater_->input.get();
  stream.avail_in = static_cast<uInt>(available());
  pos_ = end_ = buffer_.get();
  return true;
}

bool ByteSource::refill_inflated() {
  if (error_ != 0 || !stream_error_.empty()) return false;
  Inflater& z = *inflater_;
  auto* const out = reinterpret_cast<Bytef*>(buffer_.get());
  z.stream.next_out = out;
  z.stream.avail_out = static_cast<uInt>(capacity_);
  while (z.stream.avail_out > 0) {
    if (z.stream.avail_in == 0) {
      // Serve what is there rather than wait for more input (a pipe may be slow to deliver).
      if (z.stream.next_out != out) break;
      if (z.input_ended) {
        if (!z.member_ended) stream_error_ = "gzip stream truncated";
        break;
      }
      const std::size_t n = read_raw(reinterpret_cast<char*>(z.input.get()), z.input_size);
      if (n == 0) {
        if (error_ != 0) break;
        z.input_ended = true;
        continue;
      }
      z.stream.next_in = z.input.get();
      z.stream.avail_in = static_cast<uInt>(n);
    }
    if (z.member_ended) {
      // A further byte after a complete member starts the next one, as with `gzip -d`; bytes
      // that are not a gzip header fail its header check.
      inflateReset(&z.stream);
      z.member_ended = false;
    }
    const int status = inflate(&z.stream, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      z.member_ended = true;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      stream_error_ = z.stream.msg ? z.stream.msg : "corrupt gzip stream";
      break;
    }
  }
  // Bytes inflated before a failure are served; the refill after them reports it.
  end_ = buffer_.get() + (z.stream.next_out - out);
  return end_ != pos_;
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
  if (inflater_) {
    stream_error_.clear();
    if (inflateReset(&inflater_->stream) != Z_OK) stream_error_ = "cannot start inflating";
    inflater_->stream.avail_in = 0;
    inflater_->member_ended = inflater_->input_ended = false;
  }
  return true;
}

void ByteSource::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace tracemill
