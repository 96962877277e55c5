#include "base/sink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tracemill {

bool FdSink::write(std::string_view text) {
  if (error_ != 0) return false;
  if (buffering_ == Buffering::Block) {
    if (text.size() > buffer_.size() - used_) {
      if (!flush()) return false;
      if (text.size() >= kBlockSize) return write_through(text);
    }
    append(text);
    return true;
  }
  if (buffering_ == Buffering::None) return write_through(text);
  std::size_t last_newline = text.rfind('\n');
  if (last_newline == std::string_view::npos) {
    append(text);
    return true;
  }
  const std::string_view complete = text.substr(0, last_newline + 1);
  if (used_ == 0) {
    if (!write_through(complete)) return false;
  } else {
    append(complete);
    if (!flush()) return false;
  }
  append(text.substr(last_newline + 1));
  return true;
}

void FdSink::append(std::string_view text) {
  if (text.size() > buffer_.size() - used_) {
    buffer_.resize(std::max(used_ + text.size(), kBlockSize));
  }
  used_ = static_cast<std::size_t>(std::copy(text.begin(), text.end(), buffer_.data() + used_) -
                                   buffer_.data());
}

bool FdSink::flush() {
  if (error_ != 0) return false;
  if (used_ == 0) return true;
  bool ok = write_through(std::string_view(buffer_.data(), used_));
  used_ = 0;
  return ok;
}

void FdSink::flush_lines() {
  if (error_ != 0) return;
  const std::size_t last_newline = std::string_view(buffer_.data(), used_).rfind('\n');
  if (last_newline == std::string_view::npos) return;
  if (write_through(std::string_view(buffer_.data(), last_newline + 1))) {
    std::copy(buffer_.data() + last_newline + 1, buffer_.data() + used_, buffer_.data());
    used_ -= last_newline + 1;
  }
}

bool FdSink::write_through(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    if (n == 0) {
      error_ = EIO;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

FdSink& stdout_sink() {
  static FdSink sink(1, ::isatty(1) == 1 ? FdSink::Buffering::Line : FdSink::Buffering::Block);
  return sink;
}

}  // namespace tracemill
