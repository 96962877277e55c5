#include "base/os_error.h"

#include <cerrno>
#include <cstring>

namespace tracemill {
namespace {

// strerror_r comes in two forms, and the C library declares one of them: the XSI form returns 0
// after filling `buffer`, the GNU form returns the text, which may or may not live in `buffer`.
// Overloading on the result takes whichever is declared; both compile everywhere.
[[maybe_unused]] std::string message_from(int result, const char* buffer, int code) {
  if (result != 0) return "Unknown error " + std::to_string(code);
  return buffer;
}

[[maybe_unused]] std::string message_from(const char* text, const char*, int) { return text; }

}  // namespace

std::string_view os_error_kind(int code) {
  switch (code) {
    case ENOENT:
      return "NotFound";
    case EACCES:
    case EPERM:
      return "PermissionDenied";
    case ENOTDIR:
      return "NotADirectory";
    case EISDIR:
      return "IsADirectory";
    case ELOOP:
      return "FilesystemLoop";
    case ENAMETOOLONG:
      return "InvalidFilename";
    case ENOMEM:
      return "OutOfMemory";
    default:
      return "Uncategorized";
  }
}

std::string os_error_message(int code) {
  char buffer[256] = "";
  return message_from(strerror_r(code, buffer, sizeof buffer), buffer, code);
}

std::string os_error_display(int code) {
  return os_error_message(code) + " (os error " + std::to_string(code) + ")";
}

}  // namespace tracemill
