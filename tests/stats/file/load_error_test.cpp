#include "stats/file/load_error.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "text_form/debug.h"

namespace tracemill {
namespace {

BincodeError bincode(BincodeError::Kind kind) {
  BincodeError e;
  e.kind = kind;
  return e;
}

TEST(LoadError, DebugForms) {
  using Kind = BincodeError::Kind;
  BincodeError os = bincode(Kind::Os);
  os.os_code = EISDIR;
  BincodeError utf8_some = bincode(Kind::InvalidUtf8Encoding);
  utf8_some.valid_up_to = 1;
  utf8_some.error_len = 1;
  BincodeError utf8_none = bincode(Kind::InvalidUtf8Encoding);
  utf8_none.valid_up_to = 4096;
  BincodeError bad_bool = bincode(Kind::InvalidBoolEncoding);
  bad_bool.bool_byte = 2;
  BincodeError custom_quoted = bincode(Kind::Custom);
  custom_quoted.message = "tab\there \"q\"";

  struct Case {
    LoadError error;
    std::string expected;
  };
  const Case cases[] = {
      {OsError{ENOENT}, R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })"},
      {JsonError{"missing field `stats`", 3, 1}, R"(Error("missing field `stats`", line: 3, column: 1))"},
      {bincode(Kind::UnexpectedEof),
       R"(Io(Error { kind: UnexpectedEof, message: "failed to fill whole buffer" }))"},
      {os, R"(Io(Os { code: 21, kind: IsADirectory, message: "Is a directory" }))"},
      {utf8_some, "InvalidUtf8Encoding(Utf8Error { valid_up_to: 1, error_len: Some(1) })"},
      {utf8_none, "InvalidUtf8Encoding(Utf8Error { valid_up_to: 4096, error_len: None })"},
      {bad_bool, "InvalidBoolEncoding(2)"},
      {custom_quoted, R"(Custom("tab\there \"q\""))"},
  };
  for (const Case& c : cases) EXPECT_EQ(compact_string(c.error), c.expected);
}

TEST(LoadError, JsonErrorDisplay) {
  EXPECT_EQ(json_error_display({"missing field `stats`", 3, 1}),
            "missing field `stats` at line 3 column 1");
  EXPECT_EQ(json_error_display({"no position", 0, 0}), "no position");
}

}  // namespace
}  // namespace tracemill
