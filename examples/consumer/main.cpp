// An example of a program that uses the tracemill library: it reads a statistics file into the
// process graph and prints how many process nodes the graph has.
//
//   tracemill_consumer [--whole | --print] [FILE]      (FILE: examples/small.json)
//
// By default the file is streamed into the graph, as the tracemill program reads it; --whole
// loads the whole record first and folds it into the same graph; --print prints the graph as
// the tracemill program does instead of counting its nodes. Errors go to standard error with
// exit status 1.
#include <tracemill/tracemill.h>

#include <iostream>
#include <string_view>
#include <variant>

namespace {

int failed(std::string_view path, std::string_view what) {
  std::cerr << path << ": " << what << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string_view mode = argc > 2 ? argv[1] : "";
  const char* path = argc > 1 ? argv[argc - 1] : "examples/small.json";
  if (argc > 3 || (argc == 3 && mode != "--whole" && mode != "--print")) {
    return failed(argv[0], "usage: tracemill_consumer [--whole | --print] [FILE]");
  }
  // The repair reports of chains whose call directions contradict each other are collected
  // here; a program may as well pass a sink that writes them out.
  tracemill::StringSink diagnostics;

  tracemill::ProcessNodes graph;
  if (mode == "--whole") {
    // The whole record: every field of the file, owned by `record`.
    auto record = tracemill::load_file(path);
    if (!record) return failed(path, tracemill::compact_string(record.error()));
    auto folded = tracemill::fold_record(record.value(), diagnostics);
    if (!folded) return failed(path, "a chain count is beyond the signed 32-bit range");
    graph = std::move(folded.value());
  } else {
    // One pass over the file; the record is never built.
    tracemill::StreamedGraph streamed = tracemill::stream_file(path, diagnostics);
    if (auto* error = std::get_if<tracemill::LoadError>(&streamed)) {
      return failed(path, tracemill::compact_string(*error));
    }
    if (std::holds_alternative<tracemill::CountOutOfRange>(streamed)) {
      return failed(path, "a chain count is beyond the signed 32-bit range");
    }
    graph = std::move(std::get<tracemill::ProcessNodes>(streamed));
  }

  if (mode == "--print") {
    tracemill::StringSink text;
    tracemill::write_graph(text, graph);
    std::cout << diagnostics.text() << text.text();
  } else {
    std::cout << graph.nodes.size() << " process nodes\n";
  }
  return std::cout.flush() ? 0 : 1;
}
