#include "main/usage_text.h"

#include <algorithm>
#include <cstddef>

#include "base/build_config.h"
#include "main/styled_text.h"

namespace tracemill {
namespace {

constexpr std::string_view kAbout =
    "Stitching results of different runs of hopscan into a single CSV for visualization in "
    "Excel";

// One entry of the Options section of the help text.
struct OptionEntry {
  std::string_view short_spelling;
  std::string_view long_spelling;
  std::string_view value_name;  // empty for a flag
  std::string_view description;
};

constexpr OptionEntry kOptions[] = {
    {"-o", "--output", "<OUTPUT>", "[default: stitched.csv]"},
    {"-h", "--help", "", "Print help"},
    {"-V", "--version", "", "Print version"},
};

std::size_t long_width(const OptionEntry& entry) {
  return entry.long_spelling.size() + (entry.value_name.empty() ? 0 : 1 + entry.value_name.size());
}

void add_general_usage(StyledText& text, std::string_view program) {
  text.add(program, Style::Literal).add(" ").add("[OPTIONS]", Style::Placeholder).add(" ");
  text.add("[INPUT]", Style::Placeholder);
}

void add_usage_line(StyledText& text, const UsageLine& usage, std::string_view program) {
  text.add("Usage:", Style::Usage).add(" ");
  if (usage.form == UsageLine::Form::General) {
    add_general_usage(text, program);
  } else {
    text.add(program, Style::Literal);
    if (usage.with_output) {
      text.add(" ").add("--output", Style::Literal).add(" ").add("<OUTPUT>", Style::Placeholder);
    }
    text.add(" ").add(usage.with_input ? "<INPUT>" : "[INPUT]", Style::Placeholder);
  }
  text.add("\n");
}

}  // namespace

std::string help_text(std::string_view program, bool styled) {
  StyledText text(styled);
  text.add(kAbout).add("\n\n");
  add_usage_line(text, UsageLine{}, program);
  text.add("\n").add("Arguments:", Style::Heading).add("\n");
  text.add("  ").add("[INPUT]", Style::Placeholder).add("  [default: input.json]\n");
  text.add("\n").add("Options:", Style::Heading).add("\n");

  std::size_t widest = 0;
  for (const OptionEntry& entry : kOptions) widest = std::max(widest, long_width(entry));
  for (const OptionEntry& entry : kOptions) {
    text.add("  ").add(entry.short_spelling, Style::Literal).add(", ");
    text.add(entry.long_spelling, Style::Literal);
    if (!entry.value_name.empty()) text.add(" ").add(entry.value_name, Style::Placeholder);
    text.add(std::string(widest - long_width(entry) + 2, ' '));
    text.add(entry.description).add("\n");
  }
  return text.take();
}

std::string version_text() {
  std::string text(build::kCommandName);
  text += ' ';
  text += build::kVersion;
  text += '\n';
  return text;
}

std::string usage_error_text(const UsageError& error, std::string_view program, bool styled) {
  StyledText text(styled);
  text.add("error:", Style::Error).add(" ");
  switch (error.kind) {
    case UsageError::Kind::UnexpectedArgument:
      text.add("unexpected argument '").add(error.argument, Style::Invalid).add("' found");
      break;
    case UsageError::Kind::ValueRequired:
      text.add("a value is required for '").add("--output <OUTPUT>", Style::Literal);
      text.add("' but none was supplied");
      break;
    case UsageError::Kind::RepeatedOutput:
      text.add("the argument '").add("--output <OUTPUT>", Style::Invalid);
      text.add("' cannot be used multiple times");
      break;
    case UsageError::Kind::InvalidUtf8:
      text.add("invalid UTF-8 was detected in one or more arguments");
      break;
  }
  text.add("\n");

  switch (error.tip) {
    case UsageError::Tip::None:
      break;
    case UsageError::Tip::Similar:
      text.add("\n  ").add("tip:", Style::Valid).add(" a similar argument exists: '");
      text.add(error.suggestion, Style::Valid).add("'\n");
      break;
    case UsageError::Tip::PassAsValue:
      text.add("\n  ").add("tip:", Style::Valid).add(" to pass '");
      text.add(error.argument, Style::Invalid).add("' as a value, use '");
      text.add("-- " + error.argument, Style::Valid).add("'\n");
      break;
  }

  if (error.usage.form != UsageLine::Form::None) {
    text.add("\n");
    add_usage_line(text, error.usage, program);
  }
  text.add("\nFor more information, try '").add("--help", Style::Literal).add("'.\n");
  return text.take();
}

}  // namespace tracemill
