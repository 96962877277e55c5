#include "traces/condense_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/fatal.h"
#include "base/os_error.h"
#include "stats/record_merger.h"
#include "text_form/debug.h"
#include "traces/condenser.h"
#include "traces/trace_reader.h"

namespace tracemill {
namespace {

constexpr std::string_view kProgram = "tracemill-condense: ";
constexpr std::string_view kStdinName = "<stdin>";

void warn(Sink& err, std::uint64_t n, std::string_view one, std::string_view many,
          std::string_view rest) {
  if (n == 0) return;
  err.write(std::string(kProgram) + "warning: " + std::to_string(n) + " " +
            std::string(n == 1 ? one : many) + std::string(rest) + "\n");
}

// Writes the record to `path`: through a temporary file beside it, renamed over it at the
// end, when `path` is absent or a regular file; straight into it otherwise (a device, a FIFO,
// a symbolic link), which is never replaced. Returns the errno of the failure, or 0.
template <class Write>
int write_file(const std::string& path, Write&& write) {
  struct stat st;
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return errno;
  if (exists && !S_ISREG(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    {
      FdSink sink(fd, FdSink::Buffering::Block);
      if (!write(sink) || !sink.flush()) error = sink.error();
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
  }
  const std::size_t slash = path.rfind('/');
  std::string temp = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." +
                     path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return errno;
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
  if (error == 0) {
    FdSink sink(fd, FdSink::Buffering::Block);
    if (!write(sink) || !sink.flush()) error = sink.error();
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

// One line per kind of span left out or guessed.
void warnings(Sink& err, const CondenseCounts& counts) {
  warn(err, counts.fragments_merged, "span fragment", "span fragments",
       " merged into the spans they belong to (same trace, span id, kind and service)");
  warn(err, counts.without_start, "span has", "spans have",
       " no start time: counted, but not in the lists of durations and starts");
  warn(err, counts.cycles_broken, "cycle of parent links was", "cycles of parent links were",
       " broken at their earliest span");
  warn(err, counts.chains_cut, "span", "spans",
       " more than " + std::to_string(Condenser::kMaxChainCalls) +
           " calls below a root began chains of their own");
}

// Hands on the spans of the traces of one share, dropping the others at once.
class ShardFilter final : public SpanConsumer {
 public:
  ShardFilter(TraceShard shard, SpanConsumer& out) : shard_(shard), out_(out) {}
  void add(const Span& span) override {
    if (shard_.holds(span.trace_id)) out_.add(span);
  }

 private:
  TraceShard shard_;
  SpanConsumer& out_;
};

// Writes the record through `write` to the output of `options`; the warnings come after it,
// before the status.
template <class Write, class Warn>
int write_output(const CondenseOptions& options, FdSink& out, Sink& err, Write&& write,
                 Warn&& warn_all) {
  if (options.output.empty() || options.output == "-") {
    const bool written = write(out) && out.flush();
    warn_all();
    if (!written) {
      err.write(std::string(kProgram) + "write error: " + os_error_message(out.error()) + "\n");
      return kCondenseFailed;
    }
    return kCondenseOk;
  }
  const int error = write_file(options.output, write);
  warn_all();
  if (error != 0) {
    err.write(std::string(kProgram) + message_name(options.output) + ": " +
              os_error_message(error) + "\n");
    return kCondenseFailed;
  }
  return kCondenseOk;
}

int fail(Sink& err, std::string_view input, const std::string& text) {
  err.write(std::string(kProgram) + message_name(input) + text + "\n");
  return kCondenseFailed;
}

void merge_warnings(Sink& err, const MergeCounts& counts) {
  warn(err, counts.shared_trace_ids, "trace id occurs", "trace ids occur",
       " again in another input: each input's trace is kept, the merge is not what condensing "
       "them together gives");
  warn(err, counts.other_versions, "input has", "inputs have",
       " a version other than the first input's, which the output keeps");
  warn(err, counts.unsorted_lists, "list of durations and starts was",
       "lists of durations and starts were", " not in (start, duration) order and were sorted");
  warn(err, counts.repaired_records, "input counts", "inputs count",
       " repairs (num_fixes): the output's unrooted pairs are counted from its rooted flags");
}

int run_merge(const CondenseOptions& options, FdSink& out, Sink& err) {
  RecordMerger merger;
  const std::vector<std::string>& inputs = options.inputs;
  auto named_well = [&](std::size_t i) {
    const std::optional<std::string_view> extension = file_extension(inputs[i]);
    return extension && (*extension == "json" || *extension == "bincode");
  };
  // The two inputs after the one being merged are decoded and taken apart for the merge on
  // threads of their own meanwhile (one on a single processor), which leaves the merge itself
  // little to do. (Decoding one ahead, and taking records apart on the merging thread, kept the
  // binary inputs waiting for the merge.)
  const std::size_t ahead = std::thread::hardware_concurrency() != 1 ? 2 : 1;
  auto decode = [&](std::size_t i) {
    auto read = [&inputs, i]() -> Result<RecordMerger::Prepared, LoadError> {
      Result<StatsRecJson, LoadError> record = StatsRecJson::read_file(inputs[i]);
      if (!record) return Err{std::move(record).error()};
      return RecordMerger::Prepared(std::move(record).value());
    };
    try {
      return std::async(std::launch::async, [read] {
        name_thread("decode");
        return read();
      });
    } catch (const std::system_error&) {
      return std::async(std::launch::deferred, read);  // no thread to be had: decoded when due
    }
  };
  // The inputs from i on, as they are decoded.
  std::deque<std::future<Result<RecordMerger::Prepared, LoadError>>> decoding;
  std::size_t launched = 0;
  // Up to `end`, and not past a name that tells no encoding: the merge stops there.
  auto launch_before = [&](std::size_t end) {
    while (launched < std::min(end, inputs.size()) && named_well(launched)) {
      decoding.push_back(decode(launched++));
    }
  };
  launch_before(ahead);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string& input = inputs[i];
    if (!named_well(i)) {
      return fail(err, input, ": cannot tell the encoding (name it *.json or *.bincode)");
    }
    Result<RecordMerger::Prepared, LoadError> record = decoding.front().get();
    decoding.pop_front();
    launch_before(i + 1 + ahead);
    if (!record) return fail(err, input, load_error_report(record.error()));
    if (!merger.add(std::move(record).value())) {
      return fail(err, input, ": lists that belong together differ in length");
    }
  }
  return write_output(
      options, out, err, [&](Sink& sink) { return merger.finish_into(sink, options.encoding); },
      [&] { merge_warnings(err, merger.counts()); });
}

}  // namespace

int run_condense(const CondenseOptions& options, FdSink& out, Sink& err) {
  if (options.merge) return run_merge(options, out, err);
  Condenser condenser(options.virtual_peers);
  std::optional<ShardFilter> filter;
  if (options.shard) filter.emplace(*options.shard, condenser);
  SpanConsumer& spans = filter ? static_cast<SpanConsumer&>(*filter) : condenser;
  for (const std::string& input : options.inputs) {
    const bool is_stdin = input == "-";
    const std::string_view name = is_stdin ? kStdinName : std::string_view(input);
    const int fd = is_stdin ? ::dup(0) : ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      err.write(std::string(kProgram) + message_name(name) + ": " + os_error_message(errno) + "\n");
      return kCondenseFailed;
    }
    ByteSource source(fd);
    if (std::optional<JsonError> error = read_traces(source, options.input_format, spans)) {
      err.write(std::string(kProgram) + message_name(name) + message_text(position_text(*error)) +
                "\n");
      return kCondenseFailed;
    }
    // Share 1 alone counts the inputs, so that the N shares merged count each input once.
    if (!options.shard || options.shard->index == 1) condenser.end_input();
  }
  // The counts are complete once the record is built, which writing it does: the warnings
  // come after it, before the status.
  return write_output(
      options, out, err, [&](Sink& sink) { return condenser.finish_into(sink, options.encoding); },
      [&] { warnings(err, condenser.counts()); });
}

}  // namespace tracemill
