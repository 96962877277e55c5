#include "stats/file/operation_stats_json.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/fatal.h"

namespace tracemill {

Result<StatsRecJson, LoadError> StatsRecJson::read_file(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Err{LoadError{OsError{errno}}};
  ::close(fd);
  fatal("decoding statistics files is not built yet");
}

}  // namespace tracemill
