#include "stats/file/load_error.h"

#include <type_traits>

#include "text_form/debug.h"

namespace tracemill {

std::string position_text(const JsonError& error) {
  if (error.line == 0) return ": " + error.message;
  // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) about ":" + to_string at -O3.
  std::string text = ":";
  text += std::to_string(error.line);
  text += ':';
  text += std::to_string(error.column);
  text += ": ";
  text += error.message;
  return text;
}

bool write_debug(Formatter& f, const JsonError& error) {
  return f.write("Error(") && write_quoted(f.sink(), error.message) && f.write(", line: ") &&
         write_debug(f, error.line) && f.write(", column: ") && write_debug(f, error.column) &&
         f.write(")");
}

bool write_debug(Formatter& f, const BincodeError& error) {
  using Kind = BincodeError::Kind;
  switch (error.kind) {
    case Kind::UnexpectedEof:
      return f.write("Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })");
    case Kind::Os:
      return f.write("Io(") && write_debug(f, OsError{error.os_code}) && f.write(")");
    case Kind::InvalidUtf8Encoding:
      if (!(f.write("InvalidUtf8Encoding(Utf8Error { valid_up_to: ") &&
            write_debug(f, error.valid_up_to) && f.write(", error_len: "))) {
        return false;
      }
      if (error.error_len) {
        if (!(f.write("Some(") && write_debug(f, *error.error_len) && f.write(")"))) return false;
      } else if (!f.write("None")) {
        return false;
      }
      return f.write(" })");
    case Kind::InvalidBoolEncoding:
      return f.write("InvalidBoolEncoding(") && write_debug(f, error.bool_byte) && f.write(")");
    case Kind::Custom:
      return f.write("Custom(") && write_quoted(f.sink(), error.message) && f.write(")");
  }
  return false;
}

bool write_debug(Formatter& f, const LoadError& error) {
  return std::visit([&](const auto& e) { return write_debug(f, e); }, error);
}

std::string load_error_report(const LoadError& error) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, OsError>) {
          return ": " + os_error_message(e.code);
        } else if constexpr (std::is_same_v<E, JsonError>) {
          return message_text(position_text(e));
        } else {
          return ": byte " + std::to_string(e.offset) + ": " + compact_string(e);
        }
      },
      error);
}

}  // namespace tracemill
