#include "main/styled_text.h"

#include <unistd.h>

#include <cstdlib>

namespace tracemill {
namespace {

std::optional<std::string> variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kUnderline = "\x1b[4m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kYellow = "\x1b[33m";
constexpr std::string_view kReset = "\x1b[0m";

}  // namespace

StyleEnvironment StyleEnvironment::current() {
  StyleEnvironment environment;
  environment.no_color = variable("NO_COLOR");
  environment.clicolor = variable("CLICOLOR");
  environment.clicolor_force = variable("CLICOLOR_FORCE");
  environment.term = variable("TERM");
  environment.ci = variable("CI");
  environment.stdout_is_terminal = isatty(1) == 1;
  environment.stderr_is_terminal = isatty(2) == 1;
  return environment;
}

bool styling_wanted(const StyleEnvironment& environment, bool is_terminal) {
  if (environment.clicolor_force && *environment.clicolor_force != "0") return true;
  if (!is_terminal) return false;
  if (environment.no_color && !environment.no_color->empty()) return false;
  if (environment.clicolor && *environment.clicolor == "0") return false;
  bool term_has_colours = environment.term && *environment.term != "dumb";
  return term_has_colours || environment.clicolor.has_value() || environment.ci.has_value();
}

StyledText& StyledText::add(std::string_view text, Style style) {
  std::string_view effect1, effect2, colour;
  switch (style) {
    case Style::Plain:
    case Style::Placeholder:
      break;
    case Style::Heading:
    case Style::Usage:
      effect1 = kBold, effect2 = kUnderline;
      break;
    case Style::Literal:
      effect1 = kBold;
      break;
    case Style::Error:
      effect1 = kBold, colour = kRed;
      break;
    case Style::Valid:
      colour = kGreen;
      break;
    case Style::Invalid:
      colour = kYellow;
      break;
  }
  bool visible = styled_ && !(effect1.empty() && colour.empty());
  if (visible) {
    text_ += effect1;
    text_ += effect2;
    text_ += colour;
  }
  text_ += text;
  if (visible) text_ += kReset;
  return *this;
}

}  // namespace tracemill
