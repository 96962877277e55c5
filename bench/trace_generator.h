// A seeded generator of realistic distributed traces, for benchmarking tracemill-condense.
//
// A seed fixes a system of services (names, endpoints, databases, message topics and who calls
// whom); every trace is then drawn from that system: a SERVER span at an entry service, CLIENT
// spans calling other services with their SERVER side, database CLIENT spans without a server
// side, PRODUCER/CONSUMER pairs through a broker, INTERNAL spans, about 5 % failed spans. The
// traces depend only on the seed, the number of services and the number of traces, never on
// the format they are written in (trace_formats.h), so every format holds the same traces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/generator.h"

namespace tracemill::bench {

// The values are those of OTLP's span kind.
enum class SpanKind : std::uint8_t {
  Internal = 1,
  Server = 2,
  Client = 3,
  Producer = 4,
  Consumer = 5
};

// What instrumented a span: it decides the scope the span is reported under.
enum class SpanOrigin : std::uint8_t { Http, Grpc, Database, Messaging, Code };

struct SpanAttr {
  enum class Type : std::uint8_t { String, Int, Bool, Hundredths };
  std::string key;
  Type type = Type::String;
  std::string text;         // String
  std::int64_t number = 0;  // Int; Bool (0 or 1); Hundredths (a decimal with two digits)
};

inline constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);

struct GenSpan {
  std::uint64_t id = 0;            // never 0
  std::uint64_t parent_id = 0;     // 0 for a root
  std::size_t parent = kNoParent;  // index of the parent in its trace, which comes earlier
  std::size_t service = 0;         // index into TraceGenerator::services()
  SpanKind kind = SpanKind::Internal;
  SpanOrigin origin = SpanOrigin::Code;
  std::string name;
  std::int64_t start_ns = 0;  // since the Unix epoch
  std::int64_t end_ns = 0;
  std::vector<SpanAttr> attributes;
  int http_status = 0;    // 0 when the span is not an HTTP one
  std::string peer;       // peer.service, "" when not set
  std::string db_system;  // "" unless a database call
  bool failed = false;    // status code 2, with an exception event
  std::string error_type;
  std::string error_message;
  std::int64_t error_ns = 0;  // when the exception was recorded
};

struct GenTrace {
  std::uint64_t id_high = 0;  // the 128-bit trace id, high half first
  std::uint64_t id_low = 0;
  std::vector<GenSpan> spans;  // a parent always comes before its children
};

struct GenService {
  GenProcess process;              // name, endpoints (as `methods`), the services it calls
  std::string noun;                // what the service deals in, for names
  bool grpc = false;               // serves gRPC rather than HTTP
  std::vector<SpanAttr> resource;  // service.name first
  std::string ipv4;
  std::vector<std::size_t> databases;  // indices into TraceGenerator::databases()
  std::vector<std::size_t> topics;     // the topics it publishes to
};

struct GenDatabase {
  std::string system;  // db.system: postgresql, mysql, redis, mongodb
  std::string name;    // the database (and table or collection) name
  std::string host;
  int port = 0;
};

struct GenTopic {
  std::string name;
  std::vector<std::size_t> consumers;  // services
};

class TraceGenerator {
 public:
  static constexpr std::size_t kMinServices = 3;
  static constexpr std::size_t kMaxServices = 42;
  static constexpr std::size_t kMinSpans = 5;
  static constexpr std::size_t kMaxSpans = 60;

  // `services` between kMinServices and kMaxServices, or 0 for 20 to 40 chosen by the seed.
  TraceGenerator(std::uint64_t seed, std::size_t services);

  // The next of `total` traces; they start in order, spread over one hour.
  GenTrace next_trace(std::uint64_t total);
  // Trace number `index` of `total`, drawn from `rng` (for samples apart from next_trace()).
  GenTrace make_trace(Rng& rng, std::uint64_t index, std::uint64_t total) const;
  // A random stream of its own for samples, the same for one seed.
  Rng sample_rng() const;

  const std::vector<GenService>& services() const { return services_; }
  const std::vector<GenDatabase>& databases() const { return databases_; }
  const std::vector<GenTopic>& topics() const { return topics_; }
  std::uint64_t seed() const { return seed_; }

 private:
  std::uint64_t seed_;
  std::vector<GenService> services_;
  std::vector<GenDatabase> databases_;
  std::vector<GenTopic> topics_;
  std::int64_t epoch_ns_ = 0;  // the start of the hour the traces start in
  Rng rng_;
  std::uint64_t next_index_ = 0;
};

}  // namespace tracemill::bench
