// Terminal styling of the help text and of usage errors: whether a stream gets it, and a
// builder that writes each styled piece with its escape sequences.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tracemill {

// The parts of the process environment that decide styling.
struct StyleEnvironment {
  std::optional<std::string> no_color;
  std::optional<std::string> clicolor;
  std::optional<std::string> clicolor_force;
  std::optional<std::string> term;
  std::optional<std::string> ci;
  bool stdout_is_terminal = false;
  bool stderr_is_terminal = false;

  // Reads the variables NO_COLOR, CLICOLOR, CLICOLOR_FORCE, TERM and CI, and isatty(1), isatty(2).
  static StyleEnvironment current();
};

// Whether a stream (a terminal or not) is written with styling. CLICOLOR_FORCE other than "0"
// forces it; otherwise it needs a terminal, NO_COLOR unset or empty, CLICOLOR not "0", and one
// sign that the terminal shows colours: TERM set and not "dumb", CLICOLOR set, or CI set.
bool styling_wanted(const StyleEnvironment& environment, bool is_terminal);

enum class Style {
  Plain,
  Heading,      // bold, underlined: section headings of the help text
  Usage,        // bold, underlined: "Usage:"
  Literal,      // bold: the program name and option spellings
  Placeholder,  // unstyled: "[OPTIONS]", "[INPUT]", "<OUTPUT>"
  Error,        // bold, red: "error:"
  Valid,        // green: tips and suggestions
  Invalid,      // yellow: the offending argument
};

// Collects a text piece by piece. With styling on, a piece of a visible style is written as
// its escape sequences (effects first, one sequence each, then the colour), the text, and the
// reset ESC[0m: a heading is "\x1b[1m\x1b[4mOptions:\x1b[0m", an error
// "\x1b[1m\x1b[31merror:\x1b[0m". With styling off, and for Plain and Placeholder pieces, only the
// text is written.
class StyledText {
 public:
  explicit StyledText(bool styled) : styled_(styled) {}
  StyledText& add(std::string_view text, Style style = Style::Plain);
  std::string take() { return std::move(text_); }

 private:
  bool styled_;
  std::string text_;
};

}  // namespace tracemill
