#include "bench/trace_generator.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace tracemill::bench {
namespace {

// Independent random streams derived from one seed.
constexpr std::uint64_t kSystemStream = 0x7ACE'0001;
constexpr std::uint64_t kTraceStream = 0x7ACE'0002;
constexpr std::uint64_t kSampleStream = 0x7ACE'0003;

constexpr std::int64_t kEpochNanos = 1'767'225'600'000'000'000;  // 2026-01-01T00:00:00Z
constexpr std::int64_t kHourNanos = 3'600'000'000'000;
constexpr std::int64_t kMicro = 1'000;

// Per mille: a call (both of its sides) or a span on its own fails.
constexpr std::uint64_t kFailPerMille = 50;

struct ServiceSeed {
  const char* name;
  const char* noun;
};

// The first two are the entry services; the others are drawn from the rest.
constexpr ServiceSeed kServiceSeeds[] = {
    {"frontend-proxy", "page"},
    {"frontend", "page"},
    {"cart", "cart"},
    {"checkout", "checkout"},
    {"payment", "payment"},
    {"shipping", "shipment"},
    {"currency", "currency"},
    {"email", "email"},
    {"recommendation", "recommendation"},
    {"product-catalog", "product"},
    {"ad", "ad"},
    {"quote", "quote"},
    {"fraud-detection", "verdict"},
    {"accounting", "entry"},
    {"inventory", "stock"},
    {"user", "user"},
    {"auth", "token"},
    {"search", "query"},
    {"review", "review"},
    {"notification", "notification"},
    {"pricing", "price"},
    {"tax", "rate"},
    {"loyalty", "reward"},
    {"geo", "location"},
    {"media", "image"},
    {"order", "order"},
    {"billing", "invoice"},
    {"ledger", "entry"},
    {"session", "session"},
    {"wishlist", "wishlist"},
    {"coupon", "coupon"},
    {"warehouse", "parcel"},
    {"delivery", "delivery"},
    {"invoice", "invoice"},
    {"profile", "profile"},
    {"rating", "rating"},
    {"analytics", "event"},
    {"audit", "record"},
    {"feature-flag", "flag"},
    {"image-resize", "thumbnail"},
    {"translation", "text"},
    {"address", "address"},
};
static_assert(std::size(kServiceSeeds) == TraceGenerator::kMaxServices);

constexpr std::string_view kLanguages[] = {"java",   "go",   "python", "nodejs",
                                           "dotnet", "rust", "ruby"};
constexpr std::string_view kDbSystems[] = {"postgresql", "postgresql", "mysql",
                                           "redis",      "redis",      "mongodb"};

struct ErrorText {
  std::string_view type;
  std::string_view message;
};

// Messages with quotes and non-ASCII text on purpose.
constexpr ErrorText kCallErrors[] = {
    {"java.net.SocketTimeoutException", "Read timed out after 5000 ms"},
    {"grpc.RpcError", "StatusCode.UNAVAILABLE: failed to connect to all addresses"},
    {"System.Net.Http.HttpRequestException", "Connection refused (cart:8080)"},
    {"context.deadlineExceededError", "context deadline exceeded"},
    {"Error", "upstream returned \"503 Service Unavailable\""},
};
constexpr ErrorText kDbErrors[] = {
    {"org.postgresql.util.PSQLException",
     "ERROR: duplicate key value violates unique constraint \"orders_pkey\""},
    {"redis.exceptions.ConnectionError", "Error 111 connecting to redis:6379. Connection refused."},
    {"com.mysql.cj.jdbc.exceptions.MySQLTransactionRollbackException",
     "Deadlock found when trying to get lock; try restarting transaction"},
    {"pymongo.errors.ServerSelectionTimeoutError", "No servers found yet, Timeout: 30s"},
};
constexpr ErrorText kCodeErrors[] = {
    {"java.lang.NullPointerException",
     "Cannot invoke \"Cart.getItems()\" because \"cart\" is null"},
    {"ValueError", "invalid literal for int() with base 10: 'abc'"},
    {"System.InvalidOperationException", "Sequence contains no elements"},
    {"TypeError", "Cannot read properties of undefined (reading 'price')"},
    {"InvalidAmountError", "montant invalide : 12,50 \u20ac (attendu > 0 \u20ac)"},
};
constexpr int kHttpFailures[] = {500, 500, 500, 502, 503, 503, 504, 400, 404, 409, 429};
constexpr int kGrpcFailures[] = {2, 4, 13, 14, 14, 5};

template <class T, std::size_t N>
const T& pick(Rng& rng, const T (&items)[N]) {
  return items[rng.below(N)];
}

std::string capitalised(std::string_view word) {
  std::string s(word);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string plural(std::string_view noun) {
  std::string s(noun);
  if (s.ends_with('s')) return s + "es";
  if (s.ends_with('y')) return s.substr(0, s.size() - 1) + "ies";
  return s + "s";
}

SpanAttr text_attr(std::string key, std::string value) {
  return {std::move(key), SpanAttr::Type::String, std::move(value), 0};
}
SpanAttr int_attr(std::string key, std::int64_t value) {
  return {std::move(key), SpanAttr::Type::Int, {}, value};
}
SpanAttr bool_attr(std::string key, bool value) {
  return {std::move(key), SpanAttr::Type::Bool, {}, value ? 1 : 0};
}

std::string alnum(Rng& rng, std::size_t n) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(kChars[rng.below(sizeof kChars - 1)]);
  return s;
}

std::vector<std::string> make_endpoints(Rng& rng, std::string_view noun, bool grpc, bool entry) {
  std::string nouns = plural(noun);
  std::string type = capitalised(noun);
  std::vector<std::string> all;
  if (entry) {
    all = {"GET /",
           "GET /api/cart",
           "POST /api/cart",
           "GET /api/products",
           "GET /api/products/{id}",
           "POST /api/checkout",
           "GET /api/recommendations",
           "GET /api/data"};
  } else if (grpc) {
    std::string service = "shop." + type + "Service/";
    all = {service + "Get" + type, service + "List" + capitalised(nouns), service + "Create" + type,
           service + "Update" + type, service + "Delete" + type};
  } else {
    std::string base = "/api/" + nouns;
    all = {"GET " + base, "GET " + base + "/{id}", "POST " + base, "PUT " + base + "/{id}",
           "DELETE " + base + "/{id}"};
  }
  for (std::size_t i = all.size(); i > 1; --i) std::swap(all[i - 1], all[rng.below(i)]);
  all.resize(rng.range(2, all.size()));
  return all;
}

std::uint64_t span_id(Rng& rng) {
  std::uint64_t id = rng.next();
  return id == 0 ? 1 : id;
}

std::int64_t micros(Rng& rng, std::uint64_t lo, std::uint64_t hi) {
  return static_cast<std::int64_t>(rng.range(lo * 1000, hi * 1000));
}

// Mixes `value` into `key` (the finaliser of SplitMix64 over their sum), so that plans are the
// same on every platform.
std::uint64_t mix(std::uint64_t key, std::uint64_t value) {
  std::uint64_t z = key + 0x9E37'79B9'7F4A'7C15 * (value + 1);
  z = (z ^ (z >> 30)) * 0xBF58'476D'1CE4'E5B9;
  z = (z ^ (z >> 27)) * 0x94D0'49BB'1331'11EB;
  return z ^ (z >> 31);
}

std::uint64_t mix(std::uint64_t key, std::string_view text) {
  for (unsigned char c : text) key = mix(key, c);
  return key;
}

// Per mille: a step of a handler is left out in one trace (a cache hit, a branch not taken).
constexpr std::uint64_t kSkipPerMille = 120;

// Builds the spans of one trace, then lays out their times.
class TraceBuilder {
 public:
  TraceBuilder(const TraceGenerator& gen, Rng& rng, GenTrace& trace)
      : gen_(gen), rng_(rng), spans_(trace.spans) {}

  // What a span does below it is the code of its handler, the same in every trace: the plan
  // of a frame (drawn from its service and endpoint) decides how many steps it takes and what
  // each step calls, so chains repeat from trace to trace as in a real system. A trace draws
  // only which steps it leaves out, where it stops, ids, times, attributes and failures.
  void build(std::size_t target) {
    const auto& services = gen_.services();
    std::size_t entry = rng_.chance(700) ? 0 : (services.size() > 1 ? 1 : 0);
    const std::string& endpoint = pick_of(rng_, services[entry].process.methods);
    std::size_t root =
        add_server(entry, kNoParent, SpanKind::Server, rng_.chance(kFailPerMille), &endpoint);
    std::uint64_t root_plan = handler(entry, endpoint);
    Rng root_steps(root_plan);
    frames_.push_back({root, entry, root_steps.range(2, 6), root_plan, 0});
    while (spans_.size() < target && !frames_.empty()) {
      // Mostly the newest frame, so that traces grow deep as well as wide.
      std::size_t f = rng_.chance(500) ? frames_.size() - 1 : rng_.below(frames_.size());
      Frame frame = frames_[f];
      Rng plan(mix(frame.plan, frame.steps_taken));
      ++frames_[f].steps_taken;
      if (--frames_[f].children_left == 0)
        frames_.erase(frames_.begin() + static_cast<std::ptrdiff_t>(f));
      if (rng_.chance(kSkipPerMille)) continue;
      const GenService& service = services[frame.service];
      bool room_for_two = spans_.size() + 2 <= target;
      std::uint64_t r = plan.below(100);
      if (r < 45 && room_for_two && !service.process.callees.empty()) {
        add_call(frame, pick_of(plan, service.process.callees), plan);
      } else if (r < 60 && room_for_two && !service.topics.empty()) {
        add_message(frame, pick_of(plan, service.topics), plan);
      } else if (r < 85 && !service.databases.empty()) {
        add_database(frame, pick_of(plan, service.databases), plan);
      } else {
        std::size_t s = add_internal(frame, plan);
        if (plan.chance(300)) {
          std::uint64_t inner = plan.next();
          frames_.push_back({s, frame.service, Rng(inner).range(1, 3), inner, 0});
        }
      }
    }
    Rng padding(mix(root_plan, "padding"));
    while (spans_.size() < TraceGenerator::kMinSpans) add_internal({root, entry, 0, 0, 0}, padding);
    lay_out_times();
  }

 private:
  struct Frame {
    std::size_t span;
    std::size_t service;
    std::uint64_t children_left;
    std::uint64_t plan;         // the handler's code: the steps are drawn from it
    std::uint64_t steps_taken;  // taken or left out
  };

  template <class V>
  static const typename V::value_type& pick_of(Rng& rng, const V& items) {
    return items[rng.below(items.size())];
  }

  // The plan of the handler of `endpoint` at `service`.
  std::uint64_t handler(std::size_t service, std::string_view endpoint) const {
    return mix(mix(gen_.seed(), static_cast<std::uint64_t>(service)), endpoint);
  }

  std::size_t add_span(std::size_t parent, std::size_t service, SpanKind kind, SpanOrigin origin,
                       std::string name) {
    GenSpan s;
    s.id = span_id(rng_);
    if (parent != kNoParent) {
      s.parent = parent;
      s.parent_id = spans_[parent].id;
    }
    s.service = service;
    s.kind = kind;
    s.origin = origin;
    s.name = std::move(name);
    spans_.push_back(std::move(s));
    return spans_.size() - 1;
  }

  void fail(GenSpan& s, const ErrorText& error) {
    s.failed = true;
    s.error_type = error.type;
    s.error_message = error.message;
  }

  // The server side of a call to an endpoint of `service` (or a trace's root).
  std::size_t add_server(std::size_t service, std::size_t parent, SpanKind kind, bool failed,
                         const std::string* endpoint = nullptr) {
    const GenService& svc = gen_.services()[service];
    const std::string& name = endpoint ? *endpoint : pick_of(rng_, svc.process.methods);
    std::size_t i =
        add_span(parent, service, kind, svc.grpc ? SpanOrigin::Grpc : SpanOrigin::Http, name);
    GenSpan& s = spans_[i];
    if (svc.grpc) {
      auto slash = name.find('/');
      s.attributes = {text_attr("rpc.system", "grpc"),
                      text_attr("rpc.service", name.substr(0, slash)),
                      text_attr("rpc.method", name.substr(slash + 1)),
                      int_attr("rpc.grpc.status_code", failed ? pick(rng_, kGrpcFailures) : 0),
                      int_attr("server.port", 50051)};
    } else {
      auto space = name.find(' ');
      std::string method = name.substr(0, space);
      std::string route = name.substr(space + 1);
      std::string path = route;
      if (auto id = path.find("{id}"); id != std::string::npos) {
        path.replace(id, 4, std::to_string(rng_.range(1, 99'999)));
      }
      s.attributes = {text_attr("http.request.method", method),
                      text_attr("http.route", route),
                      text_attr("url.path", path),
                      text_attr("url.scheme", "http"),
                      int_attr("server.port", 8080),
                      text_attr("network.protocol.version", rng_.chance(800) ? "1.1" : "2"),
                      text_attr("client.address", "10.0." + std::to_string(rng_.below(8)) + "." +
                                                      std::to_string(rng_.range(2, 250)))};
      if (service == 0 && parent == kNoParent) {
        s.attributes.push_back(
            text_attr("user_agent.original",
                      rng_.chance(500)
                          ? "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0"
                          : "python-requests/2.31.0"));
      }
      s.http_status = failed               ? pick(rng_, kHttpFailures)
                      : method == "POST"   ? 201
                      : method == "DELETE" ? 204
                      : rng_.chance(50)    ? 304
                                           : 200;
    }
    if (failed) fail(s, pick(rng_, kCallErrors));
    return i;
  }

  void add_call(const Frame& frame, std::size_t callee, Rng& plan) {
    const GenService& target = gen_.services()[callee];
    const std::string& endpoint = pick_of(plan, target.process.methods);
    bool failed = rng_.chance(kFailPerMille);
    std::string name = target.grpc ? endpoint : endpoint.substr(0, endpoint.find(' '));
    SpanOrigin origin = target.grpc ? SpanOrigin::Grpc : SpanOrigin::Http;
    std::size_t c = add_span(frame.span, frame.service, SpanKind::Client, origin, std::move(name));
    std::size_t s = add_server(callee, c, SpanKind::Server, failed, &endpoint);
    GenSpan& client = spans_[c];
    const GenSpan& server = spans_[s];
    if (target.grpc) {
      client.attributes = {server.attributes[0],
                           server.attributes[1],
                           server.attributes[2],
                           server.attributes[3],
                           text_attr("server.address", target.process.name),
                           int_attr("server.port", 50051)};
    } else {
      client.attributes = {server.attributes[0],
                           text_attr("url.full", "http://" + target.process.name + ":8080" +
                                                     server.attributes[2].text),
                           text_attr("server.address", target.process.name),
                           int_attr("server.port", 8080)};
      client.http_status = server.http_status;
    }
    if (rng_.chance(400)) client.peer = target.process.name;
    if (failed) fail(client, pick(rng_, kCallErrors));
    bool leaf = target.process.callees.empty() && target.databases.empty();
    std::uint64_t callee_plan = handler(callee, endpoint);
    frames_.push_back({s, callee, Rng(callee_plan).range(1, leaf ? 2 : 5), callee_plan, 0});
  }

  void add_database(const Frame& frame, std::size_t database, Rng& plan) {
    const GenDatabase& db = gen_.databases()[database];
    std::string name;
    std::string statement;
    if (db.system == "redis") {
      static constexpr std::string_view kCommands[] = {"GET",     "GET",    "SET",
                                                       "HGETALL", "EXPIRE", "DEL"};
      name = pick(plan, kCommands);
      statement = name + " " + db.name + ":" + std::to_string(rng_.range(1, 99'999));
    } else if (db.system == "mongodb") {
      static constexpr std::string_view kOps[] = {"find", "find", "insert", "update", "aggregate"};
      std::string op(pick(plan, kOps));
      name = op + " " + db.name;
      statement = "{\"" + op + "\":\"" + db.name + "\",\"filter\":{\"_id\":\"?\"}}";
    } else {
      static constexpr std::string_view kOps[] = {"SELECT", "SELECT", "SELECT",
                                                  "INSERT", "UPDATE", "DELETE"};
      std::string op(pick(plan, kOps));
      name = op + " " + db.name;
      statement = op == "SELECT"   ? "SELECT * FROM " + db.name + " WHERE id = $1"
                  : op == "INSERT" ? "INSERT INTO " + db.name + " (id, data) VALUES ($1, $2)"
                  : op == "UPDATE" ? "UPDATE " + db.name + " SET data = $2 WHERE id = $1"
                                   : "DELETE FROM " + db.name + " WHERE id = $1";
    }
    std::size_t i = add_span(frame.span, frame.service, SpanKind::Client, SpanOrigin::Database,
                             std::move(name));
    GenSpan& s = spans_[i];
    s.db_system = db.system;
    s.attributes = {text_attr("db.system", db.system), text_attr("db.name", db.name),
                    text_attr("db.statement", std::move(statement)),
                    text_attr("server.address", db.host), int_attr("server.port", db.port)};
    if (rng_.chance(300)) s.peer = db.host;
    if (rng_.chance(kFailPerMille)) fail(s, pick(rng_, kDbErrors));
  }

  void add_message(const Frame& frame, std::size_t topic_index, Rng& plan) {
    const GenTopic& topic = gen_.topics()[topic_index];
    std::size_t consumer = pick_of(plan, topic.consumers);
    std::int64_t partition = static_cast<std::int64_t>(rng_.below(12));
    std::size_t p = add_span(frame.span, frame.service, SpanKind::Producer, SpanOrigin::Messaging,
                             topic.name + " publish");
    spans_[p].attributes = {text_attr("messaging.system", "kafka"),
                            text_attr("messaging.destination.name", topic.name),
                            text_attr("messaging.operation", "publish"),
                            int_attr("messaging.kafka.destination.partition", partition)};
    if (rng_.chance(500)) spans_[p].peer = "kafka";
    if (rng_.chance(kFailPerMille)) fail(spans_[p], pick(rng_, kCallErrors));
    std::size_t c =
        add_span(p, consumer, SpanKind::Consumer, SpanOrigin::Messaging, topic.name + " process");
    spans_[c].attributes = {
        text_attr("messaging.system", "kafka"),
        text_attr("messaging.destination.name", topic.name),
        text_attr("messaging.operation", "process"),
        int_attr("messaging.kafka.destination.partition", partition),
        int_attr("messaging.kafka.message.offset", static_cast<std::int64_t>(rng_.below(1u << 30))),
        text_attr("messaging.kafka.consumer.group", gen_.services()[consumer].process.name)};
    if (rng_.chance(kFailPerMille)) fail(spans_[c], pick(rng_, kCodeErrors));
    std::uint64_t consumer_plan = handler(consumer, topic.name);
    frames_.push_back({c, consumer, Rng(consumer_plan).range(1, 3), consumer_plan, 0});
  }

  std::size_t add_internal(const Frame& frame, Rng& plan) {
    const GenService& svc = gen_.services()[frame.service];
    const std::string& noun = svc.noun;
    std::string name;
    switch (plan.below(6)) {
      case 0:
        name = "validate request";
        break;
      case 1:
        name = "render " + noun;
        break;
      case 2:
        name = capitalised(noun) + "Repository.find";
        break;
      case 3:
        name = "compute " + noun + " total";
        break;
      case 4:
        name = "cache lookup";
        break;
      default:
        name = "serialize response";
        break;
    }
    std::size_t i =
        add_span(frame.span, frame.service, SpanKind::Internal, SpanOrigin::Code, std::move(name));
    GenSpan& s = spans_[i];
    s.attributes.push_back(
        int_attr("app." + noun + ".count", static_cast<std::int64_t>(rng_.below(40))));
    if (rng_.chance(400)) s.attributes.push_back(bool_attr("app.cache_hit", rng_.chance(700)));
    if (rng_.chance(300)) {
      s.attributes.push_back({"app." + noun + ".amount",
                              SpanAttr::Type::Hundredths,
                              {},
                              static_cast<std::int64_t>(rng_.range(99, 99'999))});
    }
    if (rng_.chance(kFailPerMille)) fail(s, pick(rng_, kCodeErrors));
    return i;
  }

  // Durations from the leaves up (children come after their parent), then starts from the root
  // down. Children run one after the other, sometimes side by side; a CONSUMER runs apart from
  // its PRODUCER and does not lengthen it.
  void lay_out_times() {
    std::size_t n = spans_.size();
    std::vector<std::vector<std::size_t>> children(n);
    for (std::size_t i = 1; i < n; ++i) children[spans_[i].parent].push_back(i);
    std::vector<std::int64_t> duration(n, 0);
    std::vector<std::int64_t> offset(n, 0);
    for (std::size_t i = n; i-- > 0;) {
      const GenSpan& s = spans_[i];
      std::int64_t cursor = micros(rng_, 10, 300);
      std::int64_t previous = cursor;
      bool any = false;
      for (std::size_t c : children[i]) {
        if (spans_[c].kind == SpanKind::Consumer) {
          offset[c] = micros(rng_, 1'000, 400'000);
          continue;
        }
        if (s.kind == SpanKind::Client) {
          offset[c] = micros(rng_, 100, 1'500);  // the way there
          cursor = offset[c] + duration[c] + micros(rng_, 100, 1'500);
          any = true;
          continue;
        }
        offset[c] = any && rng_.chance(250) ? previous : cursor;
        previous = offset[c];
        cursor = std::max(cursor, offset[c] + duration[c] + micros(rng_, 5, 150));
        any = true;
      }
      if (any) {
        duration[i] = cursor + micros(rng_, 20, 600);
      } else if (s.origin == SpanOrigin::Database) {
        duration[i] = s.db_system == "redis" ? micros(rng_, 60, 1'500)
                      : rng_.chance(30)      ? micros(rng_, 25'000, 400'000)
                                             : micros(rng_, 300, 25'000);
      } else if (s.kind == SpanKind::Internal) {
        duration[i] = micros(rng_, 10, 4'000);
      } else if (s.kind == SpanKind::Producer) {
        duration[i] = micros(rng_, 200, 3'000);
      } else {
        duration[i] = micros(rng_, 300, 15'000);
      }
    }
    for (std::size_t i = 1; i < n; ++i) {
      spans_[i].start_ns = spans_[spans_[i].parent].start_ns + offset[i];
    }
    for (std::size_t i = 0; i < n; ++i) {
      GenSpan& s = spans_[i];
      s.end_ns = s.start_ns + duration[i];
      if (s.failed) {
        s.error_ns = std::max(s.start_ns, s.end_ns - static_cast<std::int64_t>(rng_.below(20'000)));
      }
    }
  }

  const TraceGenerator& gen_;
  Rng& rng_;
  std::vector<GenSpan>& spans_;
  std::vector<Frame> frames_;
};

}  // namespace

TraceGenerator::TraceGenerator(std::uint64_t seed, std::size_t services)
    : seed_(seed), rng_(seed ^ kTraceStream) {
  Rng rng(seed ^ kSystemStream);
  std::size_t n = services != 0 ? std::clamp(services, kMinServices, kMaxServices)
                                : static_cast<std::size_t>(rng.range(20, 40));
  epoch_ns_ = kEpochNanos + static_cast<std::int64_t>(rng.below(24 * 365)) * kHourNanos;

  // The two entry services first, then a seeded choice of the others in a seeded order: a
  // service calls only services after it, so calls never go round in a circle.
  std::vector<std::size_t> order;
  for (std::size_t i = 2; i < std::size(kServiceSeeds); ++i) order.push_back(i);
  for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[rng.below(i)]);
  order.resize(n - 2);
  order.insert(order.begin(), {0, 1});

  for (std::size_t k = 0; k < n; ++k) {
    const ServiceSeed& seed_entry = kServiceSeeds[order[k]];
    GenService s;
    s.process.name = seed_entry.name;
    s.noun = seed_entry.noun;
    s.grpc = k >= 2 && rng.chance(500);
    s.process.methods = make_endpoints(rng, s.noun, s.grpc, k < 2);
    std::string language(pick(rng, kLanguages));
    std::string version =
        "1." + std::to_string(rng.below(10)) + "." + std::to_string(rng.below(20));
    s.resource = {
        text_attr("service.name", s.process.name),
        text_attr("service.namespace", "shop"),
        text_attr("service.version", version),
        text_attr("deployment.environment", "production"),
        text_attr("telemetry.sdk.language", language),
        text_attr("telemetry.sdk.name", "opentelemetry"),
        text_attr("telemetry.sdk.version", "1." + std::to_string(rng.range(20, 38)) + ".0"),
        text_attr("host.name", s.process.name + "-" + alnum(rng, 10) + "-" + alnum(rng, 5)),
        int_attr("process.pid", static_cast<std::int64_t>(rng.range(1, 65'000)))};
    s.ipv4 = "10.1." + std::to_string(k / 200) + "." + std::to_string(k % 200 + 10);
    // Callees: the proxy calls the frontend, the frontend 3 to 6 services, the others up to 3.
    std::size_t after = n - k - 1;
    std::size_t calls = k == 0   ? 1
                        : k == 1 ? std::min<std::size_t>(after, rng.range(3, 6))
                                 : std::min<std::size_t>(after, rng.below(4));
    while (s.process.callees.size() < calls) {
      std::size_t c = k == 0 ? 1 : k + 1 + rng.below(after);
      if (c == 1 && k != 0) continue;
      if (std::find(s.process.callees.begin(), s.process.callees.end(), c) ==
          s.process.callees.end()) {
        s.process.callees.push_back(c);
      }
    }
    if (k >= 2) {
      std::size_t dbs = rng.chance(600) ? (rng.chance(250) ? 2 : 1) : 0;
      for (std::size_t d = 0; d < dbs; ++d) {
        GenDatabase db;
        db.system = pick(rng, kDbSystems);
        db.name = plural(s.noun);
        if (d == 1) db.name = s.noun + "_history";
        db.host = (db.system == "postgresql" ? "postgres" : db.system) + "-" + s.process.name;
        db.port = db.system == "redis"     ? 6379
                  : db.system == "mysql"   ? 3306
                  : db.system == "mongodb" ? 27017
                                           : 5432;
        s.databases.push_back(databases_.size());
        databases_.push_back(std::move(db));
      }
    }
    services_.push_back(std::move(s));
  }

  // Every service is called by an earlier one, so that traces reach all of them.
  std::vector<bool> called(n, false);
  for (const auto& svc : services_) {
    for (std::size_t c : svc.process.callees) called[c] = true;
  }
  for (std::size_t k = 2; k < n; ++k) {
    if (!called[k]) services_[1 + rng.below(k - 1)].process.callees.push_back(k);
  }

  // Topics: a few services publish events that one or two others consume.
  if (n >= 4) {
    std::size_t topics = rng.range(3, 6);
    for (std::size_t t = 0; t < topics; ++t) {
      std::size_t producer = 1 + rng.below(n - 1);
      GenTopic topic;
      topic.name = services_[producer].noun + (t % 2 ? "-events" : "s");
      std::size_t wanted = std::min<std::size_t>(1 + rng.below(2), n - 3);
      while (topic.consumers.size() < wanted) {
        std::size_t c = 2 + rng.below(n - 2);
        if (c != producer &&
            std::find(topic.consumers.begin(), topic.consumers.end(), c) == topic.consumers.end()) {
          topic.consumers.push_back(c);
        }
      }
      services_[producer].topics.push_back(topics_.size());
      topics_.push_back(std::move(topic));
    }
  }
}

GenTrace TraceGenerator::next_trace(std::uint64_t total) {
  return make_trace(rng_, next_index_++, total);
}

Rng TraceGenerator::sample_rng() const { return Rng(seed_ ^ kSampleStream); }

GenTrace TraceGenerator::make_trace(Rng& rng, std::uint64_t index, std::uint64_t total) const {
  GenTrace trace;
  trace.id_high = rng.next();
  trace.id_low = rng.next();
  // Spans per trace: 5 to 60, most of them small.
  std::uint64_t spread = kMaxSpans - kMinSpans + 1;
  std::size_t target = kMinSpans + rng.below(spread) * rng.below(spread) / (spread - 1);
  trace.spans.reserve(target + 2);
  std::int64_t slot = kHourNanos / static_cast<std::int64_t>(std::max<std::uint64_t>(total, 1));
  TraceBuilder(*this, rng, trace).build(target);
  // The times were laid out from 0 at the root's start: move the trace to its place.
  std::int64_t start = epoch_ns_ + static_cast<std::int64_t>(index) * slot +
                       static_cast<std::int64_t>(
                           rng.below(static_cast<std::uint64_t>(std::max<std::int64_t>(slot, 1))));
  for (auto& s : trace.spans) {
    s.start_ns += start;
    s.end_ns += start;
    if (s.failed) s.error_ns += start;
  }
  return trace;
}

}  // namespace tracemill::bench
