// The dependency graph as one self-contained HTML page: the page's template, styles and script
// and the vendored layout library, all embedded in the program at build time, with the graph's
// JSON and the header's facts as inert data blocks. The page makes no request of any kind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/sink.h"
#include "export/baseline.h"
#include "export/dependency_graph.h"

namespace tracemill {

// What the page's header shows beside the graph; counts that are not known show as a dash.
struct ReportHeader {
  std::vector<std::string> inputs;
  std::vector<std::string> baseline_inputs;
  std::string version;
  std::optional<std::uint64_t> traces, operations, chains;
};

// The page of `graph_json`, exactly what write_json() gives for the graph (with its "baseline"
// block when there is one), held by the page compressed. Returns false once a write to the
// sink failed.
bool write_html(Sink& out, std::string_view graph_json, const ReportHeader& header);
// The page of `graph`, its JSON written by write_json() (with the baseline block of `changes`).
bool write_html(Sink& out, const DependencyGraph& graph, const ReportHeader& header,
                const GraphChanges* changes = nullptr);

// `bytes` compressed as one gzip member, written in base64 (standard alphabet, padded): how the
// page holds the graph's data, a tenth of its JSON or less, and text that no name can turn into
// markup. Nothing when zlib fails (out of memory).
std::optional<std::string> gzip_base64(std::string_view bytes);

// `json` (valid JSON) as it may stand inside a <script> element: every '<', '>' and '&' as
// \u003c, \u003e and \u0026, and U+2028 and U+2029 as \u2028 and \u2029. JSON holds these
// characters only inside strings, where the escapes mean the same, so no name can end the
// element or open a comment or another element. The white space between tokens is left out:
// the data of a big graph is a sixth smaller.
bool write_script_json(Sink& out, std::string_view json);

}  // namespace tracemill
