// ByteSource: the buffered reader that both decoders pull their bytes from.
//
// The decoders read straight from the buffer: data() .. limit() are the bytes not yet taken,
// advance_to() takes them, refill() loads the next block once the buffer is used up. The
// buffer has kPadding readable bytes after limit(), so a word or vector load that starts before
// limit() never leaves the buffer; what those bytes hold is unspecified.
//
// A source can serve a gzip-compressed input inflated (inflate_if_gzip()): the decoders then see
// the inflated bytes through the same calls, and offset() counts inflated bytes. Memory stays
// bounded: one compressed block and the inflater's window beside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tracemill {

class ByteSource {
 public:
  // The read size. Larger blocks mean fewer read calls; beyond a few hundred KiB the block no
  // longer stays in the processor's cache while it is decoded. Chosen by measurement (see the
  // design notes).
  static constexpr std::size_t kBufferSize = std::size_t{128} << 10;
  static constexpr std::size_t kPadding = 64;

  // Reads from `fd` and closes it when destroyed (or at close()).
  explicit ByteSource(int fd);
  // Test door: serves `bytes` in blocks of at most `block` bytes; after the last one, a
  // refill fails with `fail_errno` when it is not 0, else reports the end of the input.
  // `rewindable` says whether rewind() may start it again, as for a regular file.
  static ByteSource from_memory(std::string bytes, std::size_t block = kBufferSize,
                                int fail_errno = 0, bool rewindable = true);

  ByteSource(ByteSource&& other) noexcept;
  ByteSource& operator=(ByteSource&&) = delete;
  ByteSource(const ByteSource&) = delete;
  ~ByteSource();

  // Requires: nothing taken yet (offset() == 0). Looks at the first two bytes of the input
  // (reading them when no refill did yet) and, when they are the gzip magic 1f 8b, serves the
  // inflated bytes from then on: members one after another, as `gzip -d` does, where bytes
  // after a member that do not start another are a stream_error(). Returns whether it does;
  // otherwise the bytes stay as they are, in the buffer or still to be read.
  bool inflate_if_gzip();
  bool inflating() const { return inflater_ != nullptr; }

  const char* data() const { return pos_; }
  const char* limit() const { return end_; }
  std::size_t available() const { return static_cast<std::size_t>(end_ - pos_); }
  // Requires: data() <= p <= limit().
  void advance_to(const char* p) { pos_ = p; }
  // How many bytes of the input come before data().
  std::uint64_t offset() const {
    return block_offset_ + static_cast<std::uint64_t>(pos_ - buffer_.get());
  }

  // Requires: available() == 0. Loads the next block (a read interrupted by a signal is
  // retried). Returns true when bytes arrived; false at the end of the input, on a read error,
  // which error() then holds as an errno, or when inflating on a compressed stream that is
  // corrupt or ends inside a member, which stream_error() then describes. A failed refill stays
  // failed.
  bool refill();
  int error() const { return error_; }
  // Empty unless the compressed stream is broken: then a message such as "gzip stream
  // truncated" or the inflater's own ("invalid block type"); error() is 0 for those.
  const std::string& stream_error() const { return stream_error_; }

  // Starts again from the first byte, for a second read of the same input (inflated again when
  // inflating). Only a regular file (or a rewindable memory source) can be read twice; false
  // for anything else (a pipe, a terminal, a closed source), and the source is then left as it
  // was.
  bool rewind();
  // Whether rewind() can work: the source is a regular file (or a rewindable memory source).
  bool rereadable() const { return regular_file_; }

  // Closes the file now; later refills report the end of the input.
  void close();

 private:
  struct Inflater;  // zlib's stream and the compressed block, in the source file

  ByteSource(std::size_t capacity);
  // Reads at most `max` bytes of the input as it comes into `to`; 0 at the end or on an error.
  std::size_t read_raw(char* to, std::size_t max);
  bool refill_inflated();

  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  int fd_ = -1;
  int error_ = 0;
  bool regular_file_ = false;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  std::uint64_t block_offset_ = 0;  // of the first byte of the buffer
  std::string stream_error_;
  std::unique_ptr<Inflater> inflater_;
  // Memory door only: the bytes, how many were served, the block size and the error at the end.
  std::string memory_;
  std::size_t memory_pos_ = 0;
  std::size_t memory_block_ = 0;
  int fail_errno_ = 0;
  bool from_memory_ = false;
};

}  // namespace tracemill
