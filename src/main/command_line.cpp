#include "main/command_line.h"

namespace tracemill {

CommandLine read_command_line(int argc, char** argv) {
  CommandLine line;
  if (argc > 1) line.input = argv[1];
  return line;
}

}  // namespace tracemill
