#include "main/option_reader.h"

#include "base/utf8.h"
#include "text_form/debug.h"

namespace tracemill {

SplitArguments split_arguments(std::span<const std::string_view> args,
                               std::span<const OptionSpec> specs) {
  SplitArguments split;
  auto stop = [&split](std::string message) {
    split.error = std::move(message);
    return split;
  };
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_ended || arg == "-" || !arg.starts_with("-")) {
      split.arguments.push_back({nullptr, arg});
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const std::string_view name = arg.substr(0, equals);
      const OptionSpec* spec = nullptr;
      for (const OptionSpec& candidate : specs) {
        if (!candidate.name.empty() && name.substr(2) == candidate.name) spec = &candidate;
      }
      if (spec == nullptr) return stop("unknown option " + message_quoted(name));
      const bool has_value = equals != std::string_view::npos;
      if (has_value && !spec->takes_value) {
        return stop("option " + message_quoted(name) + " takes no argument");
      }
      if (!spec->takes_value) {
        split.arguments.push_back({spec, {}});
      } else if (has_value) {
        split.arguments.push_back({spec, arg.substr(equals + 1)});
      } else if (i + 1 < args.size()) {
        split.arguments.push_back({spec, args[++i]});
      } else {
        return stop("option " + message_quoted(name) + " requires an argument");
      }
    } else {
      for (std::size_t at = 1; at < arg.size(); ++at) {
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : specs) {
          if (candidate.letter != '\0' && candidate.letter == arg[at]) spec = &candidate;
        }
        if (spec == nullptr) {
          // The whole character is named, or one byte when it is not valid UTF-8.
          const std::size_t length =
              decode_utf8_char(arg.substr(at)).value_or(Utf8Char{0, 1}).length;
          return stop("unknown option " +
                      message_quoted("-" + std::string(arg.substr(at, length))));
        }
        if (!spec->takes_value) {
          split.arguments.push_back({spec, {}});
          continue;
        }
        // The value is the rest of the argument, or the next argument.
        if (at + 1 < arg.size()) {
          split.arguments.push_back({spec, arg.substr(at + 1)});
        } else if (i + 1 < args.size()) {
          split.arguments.push_back({spec, args[++i]});
        } else {
          return stop("option " + message_quoted(std::string{'-', spec->letter}) +
                      " requires an argument");
        }
        break;
      }
    }
  }
  return split;
}

}  // namespace tracemill
