// The errors a statistics file can end in: the JSON decode error, the binary decode error, and
// the loader's error value that holds exactly one of them or an operating-system error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "base/os_error.h"

namespace tracemill {

class Formatter;

// A JSON decode error. Line 0 means the error has no position.
struct JsonError {
  std::string message;
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  bool operator==(const JsonError&) const = default;
};

// Error("<message>", line: <l>, column: <c>)
bool write_debug(Formatter& f, const JsonError& error);

// What follows a file's name in a one-line report: ":LINE:COLUMN: MESSAGE", or ": MESSAGE"
// for an error without position.
std::string position_text(const JsonError& error);

// A binary decode error.
struct BincodeError {
  enum class Kind { UnexpectedEof, Os, InvalidUtf8Encoding, InvalidBoolEncoding, Custom };
  Kind kind = Kind::UnexpectedEof;
  int os_code = 0;                        // Os
  std::uint64_t valid_up_to = 0;          // InvalidUtf8Encoding
  std::optional<std::uint8_t> error_len;  // InvalidUtf8Encoding
  std::uint8_t bool_byte = 0;             // InvalidBoolEncoding
  std::string message;                    // Custom
  // Where in the file the problem is: the end of the input (UnexpectedEof, Os), the offending
  // byte (the first faulty byte of a text, a boolean byte, the start of a direction index).
  // Not part of the debug form.
  std::uint64_t offset = 0;
  bool operator==(const BincodeError&) const = default;
};

// Io(Error { kind: UnexpectedEof, message: "failed to fill whole buffer" }), Io(Os { ... }),
// InvalidUtf8Encoding(Utf8Error { valid_up_to: V, error_len: Some(L) }), ...
bool write_debug(Formatter& f, const BincodeError& error);

using LoadError = std::variant<OsError, JsonError, BincodeError>;

bool write_debug(Formatter& f, const LoadError& error);

// What follows a file's name in a one-line report of `error`: ": MESSAGE" for an operating-system
// error, position_text() for a JSON error, ": byte OFFSET: DEBUG FORM" for a binary one.
std::string load_error_report(const LoadError& error);

}  // namespace tracemill
