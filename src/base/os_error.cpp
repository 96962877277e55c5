#include "base/os_error.h"

#include <cerrno>
#include <cstring>

namespace tracemill {

std::string_view os_error_kind(int code) {
  switch (code) {
    case ENOENT: return "NotFound";
    case EACCES:
    case EPERM: return "PermissionDenied";
    case ENOTDIR: return "NotADirectory";
    case EISDIR: return "IsADirectory";
    case ELOOP: return "FilesystemLoop";
    case ENAMETOOLONG: return "InvalidFilename";
    case ENOMEM: return "OutOfMemory";
    default: return "Uncategorized";
  }
}

std::string os_error_message(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not live in `buffer`.
  return strerror_r(code, buffer, sizeof buffer);
}

std::string os_error_display(int code) {
  return os_error_message(code) + " (os error " + std::to_string(code) + ")";
}

}  // namespace tracemill
