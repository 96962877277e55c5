// Operating-system error values (an errno) and their kind names and display form.
#pragma once

#include <string>
#include <string_view>

namespace tracemill {

struct OsError {
  int code = 0;
};

// The kind name shown in the debug form: "NotFound", "PermissionDenied", ..., "Uncategorized".
std::string_view os_error_kind(int code);
// The system's message text for the code (strerror).
std::string os_error_message(int code);
// "<system message text> (os error <code>)".
std::string os_error_display(int code);

}  // namespace tracemill
