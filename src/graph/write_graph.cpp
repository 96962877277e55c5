#include "graph/write_graph.h"

#include "text_form/debug.h"

namespace tracemill {

bool write_graph(Sink& out, const ProcessNodes& graph) {
  Formatter pretty(out, Form::Pretty);
  return write_debug(pretty, graph) && out.write("\n");
}

}  // namespace tracemill
