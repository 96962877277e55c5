// Sinks: where every text shown to a user is written while the value is walked.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tracemill {

// A destination for text. Once a write fails the sink stays failed and writes nothing more.
class Sink {
 public:
  virtual ~Sink() = default;
  // Writes all of `text`; returns false when the sink has failed (now or earlier).
  virtual bool write(std::string_view text) = 0;
};

// Collects everything written into a string; never fails. Used for messages and in tests.
class StringSink final : public Sink {
 public:
  bool write(std::string_view text) override {
    text_.append(text);
    return true;
  }
  const std::string& text() const { return text_; }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

// Writes to a file descriptor. Line buffering hands each completed line to the system when its
// line feed is written; block buffering gathers up to kBlockSize bytes and hands them over when
// full or at flush(); no buffering passes every write straight on. Partial writes and EINTR
// are retried; the first failed write is remembered in error() and ends all further output.
class FdSink final : public Sink {
 public:
  enum class Buffering { Line, Block, None };
  static constexpr std::size_t kBlockSize = std::size_t{64} << 10;
  FdSink(int fd, Buffering buffering) : fd_(fd), buffering_(buffering) {}
  ~FdSink() override { flush(); }
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;

  bool write(std::string_view text) override;
  // Hands everything buffered to the system; returns false when the sink has failed.
  bool flush();
  // Hands the buffered complete lines to the system and keeps a partial last line, so that
  // what has left is what line buffering would have let out. Allocates nothing: the fatal
  // report and the report of exhausted memory call it before they write to standard error.
  void flush_lines();
  // The errno of the first failed write, 0 while none failed.
  int error() const { return error_; }

 private:
  bool write_through(std::string_view text);
  // Adds `text` to the buffer, which grows to hold it.
  void append(std::string_view text);

  int fd_;
  Buffering buffering_;
  int error_ = 0;
  // What is written but not yet handed over: the first used_ bytes. Its size is kBlockSize
  // from the first buffered write on (more while line buffering holds a longer partial line).
  std::string buffer_;
  std::size_t used_ = 0;
};

// The process's standard output over descriptor 1: line-buffered on a terminal, where a reader
// watches it, block-buffered otherwise (a file or a pipe), as the C library does.
FdSink& stdout_sink();

}  // namespace tracemill
