#include "main/styled_text.h"

#include <gtest/gtest.h>

namespace tracemill {
namespace {

TEST(StyledText, StylingDependsOnTerminalAndEnvironment) {
  struct Case {
    const char* what;
    StyleEnvironment environment;
    bool terminal;
    bool expected;
  };
  auto env = [](std::optional<std::string> no_color, std::optional<std::string> clicolor,
                std::optional<std::string> force, std::optional<std::string> term,
                std::optional<std::string> ci) {
    return StyleEnvironment{no_color, clicolor, force, term, ci, false, false};
  };
  const std::nullopt_t unset = std::nullopt;
  const Case cases[] = {
      {"terminal without colour hints", env(unset, unset, unset, unset, unset), true, false},
      {"terminal, TERM", env(unset, unset, unset, "xterm", unset), true, true},
      {"TERM without terminal", env(unset, unset, unset, "xterm", unset), false, false},
      {"terminal, dumb TERM", env(unset, unset, unset, "dumb", unset), true, false},
      {"terminal, dumb TERM, CI", env(unset, unset, unset, "dumb", ""), true, true},
      {"terminal, CLICOLOR", env(unset, "1", unset, unset, unset), true, true},
      {"terminal, CLICOLOR=0", env(unset, "0", unset, "xterm", "1"), true, false},
      {"terminal, NO_COLOR", env("1", unset, unset, "xterm", unset), true, false},
      {"terminal, empty NO_COLOR", env("", unset, unset, "xterm", unset), true, true},
      {"CLICOLOR_FORCE", env(unset, unset, "1", unset, unset), false, true},
      {"empty CLICOLOR_FORCE", env(unset, unset, "", unset, unset), false, true},
      {"CLICOLOR_FORCE=0, terminal", env(unset, unset, "0", "xterm", unset), true, true},
      {"CLICOLOR_FORCE beats NO_COLOR", env("1", "0", "1", unset, unset), false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(styling_wanted(c.environment, c.terminal), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace tracemill
