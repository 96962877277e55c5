#include "base/sink.h"

#include <unistd.h>

#include <cerrno>

namespace tracemill {

bool FdSink::write(std::string_view text) {
  if (error_ != 0) return false;
  if (buffering_ == Buffering::None) return write_through(text);
  if (buffering_ == Buffering::Block) {
    if (pending_.size() + text.size() <= kBlockSize) {
      if (pending_.capacity() < kBlockSize) pending_.reserve(kBlockSize);
      pending_.append(text);
      return true;
    }
    if (!flush()) return false;
    if (text.size() >= kBlockSize) return write_through(text);
    pending_.append(text);
    return true;
  }
  std::size_t last_newline = text.rfind('\n');
  if (last_newline == std::string_view::npos) {
    pending_.append(text);
    return true;
  }
  std::string_view complete = text.substr(0, last_newline + 1);
  bool ok;
  if (pending_.empty()) {
    ok = write_through(complete);
  } else {
    pending_.append(complete);
    ok = write_through(pending_);
    pending_.clear();
  }
  if (!ok) return false;
  pending_.append(text.substr(last_newline + 1));
  return true;
}

bool FdSink::flush() {
  if (error_ != 0) return false;
  if (pending_.empty()) return true;
  bool ok = write_through(pending_);
  pending_.clear();
  return ok;
}

void FdSink::flush_lines() {
  if (error_ != 0) return;
  const std::size_t last_newline = pending_.rfind('\n');
  if (last_newline == std::string::npos) return;
  if (write_through(std::string_view(pending_).substr(0, last_newline + 1))) {
    pending_.erase(0, last_newline + 1);
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
