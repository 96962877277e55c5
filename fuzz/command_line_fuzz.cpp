// Fuzzes the command-line parser: the input is the argument vector with NUL between arguments;
// its first byte picks the styling environment. Checks that every outcome is well formed.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "main/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tracemill;
  if (size == 0) return 0;
  StyleEnvironment environment;
  if (data[0] & 1) environment.clicolor_force = "1";
  if (data[0] & 2) environment.term = "xterm";
  environment.stdout_is_terminal = (data[0] & 4) != 0;
  environment.stderr_is_terminal = (data[0] & 8) != 0;

  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string_view> argv;
  while (!rest.empty()) {
    std::size_t end = rest.find('\0');
    argv.push_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }

  auto parsed = parse_command_line(argv, environment);
  if (parsed) {
    if (check_utf8(parsed.value().input) || check_utf8(parsed.value().output)) {
      __builtin_trap();
    }
    return 0;
  }
  const CommandLineExit& exit = parsed.error();
  bool consistent = exit.status == 0 ? exit.stream == OutputStream::Stdout
                                     : exit.status == 2 && exit.stream == OutputStream::Stderr;
  if (!consistent || exit.text.empty() || exit.text.back() != '\n') __builtin_trap();
  return 0;
}
