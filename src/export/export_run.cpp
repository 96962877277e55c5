#include "export/export_run.h"

#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "base/os_error.h"
#include "export/dependency_graph.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

constexpr std::string_view kProgram = "tracemill-export: ";

// The problem with the name of `input`, when its extension selects no decoder.
std::optional<std::string> extension_problem(std::string_view input) {
  std::optional<std::string_view> extension = file_extension(input);
  if (!extension) return "no file-name extension (expected .json or .bincode)";
  if (*extension == "json" || *extension == "bincode") return std::nullopt;
  return "unknown extension " + message_quoted("." + std::string(*extension)) +
         " (expected .json or .bincode)";
}

// The text after "FILE" for an error of opening or decoding the file.
std::string load_error_text(const LoadError& error) {
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

int fail(Sink& err, std::string_view input, const std::string& text) {
  err.write(std::string(kProgram) + message_name(input) + text + "\n");
  return kExportFailed;
}

}  // namespace

int run_export(std::string_view input, ExportFormat format, FdSink& out, Sink& err) {
  // StatsFile::open ends the process on a name it has no decoder for: ask first.
  if (std::optional<std::string> problem = extension_problem(input)) {
    return fail(err, input, ": " + *problem);
  }
  Result<StatsFile, LoadError> file = StatsFile::open(std::string(input));
  if (!file) return fail(err, input, load_error_text(file.error()));

  StreamedDependencies run = stream_dependencies(file.value());
  if (const LoadError* error = std::get_if<LoadError>(&run.end)) {
    return fail(err, input, load_error_text(*error));
  }
  if (std::holds_alternative<CountOutOfRange>(run.end)) {
    return fail(err, input, ": a chain count exceeds 2147483647");
  }
  if (std::holds_alternative<SumOutOfRange>(run.end)) {
    return fail(err, input, ": a sum exceeds " + std::to_string(kMaxDependencySum));
  }
  if (const std::uint64_t n = run.contradicting_chains; n != 0) {
    err.write(std::string(kProgram) + "warning: " + message_name(input) + ": " + std::to_string(n) +
              (n == 1 ? " chain contradicts its call directions"
                      : " chains contradict their call directions") +
              "; run tracemill on the file to see the reports\n");
  }
  if (!(write_graph(out, std::get<DependencyGraph>(run.end), format) && out.flush())) {
    err.write(std::string(kProgram) + "write error: " + os_error_message(out.error()) + "\n");
    return kExportFailed;
  }
  return kExportOk;
}

}  // namespace tracemill
