// A graph against the graph of an earlier period (the baseline): per node method and edge,
// whether it is new, gone or kept, and how its calls, error ratio and p99 changed.
//
// The figures compared are the health figures: `calls` (the requests), the share of them that
// failed, and the p99 of their durations. A change is "worse" when the error ratio rose by at
// least one percentage point (kWorseErrorPoints) or the p99 grew by at least a fifth
// (kWorseP99Ratio), both measured on kept elements only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/dependency_graph.h"

namespace tracemill {

// What a label or a comparison shows of a set of calls.
struct HealthSummary {
  std::int64_t calls = 0;
  std::int64_t errors = 0;          // within [0, calls] where shown as a ratio
  std::optional<std::int64_t> p99;  // none without a duration
  bool operator==(const HealthSummary&) const = default;
};

HealthSummary summary_of(const CallFigures& figures);
// Of the calls a node received, over all their methods.
HealthSummary received_summary(const DependencyNode& node);

enum class Presence { New, Gone, Kept };

inline constexpr double kWorseErrorPoints = 0.01;
inline constexpr double kWorseP99Ratio = 1.2;

struct FigureChange {
  Presence status = Presence::Kept;
  HealthSummary before;  // zero for a new element
  HealthSummary after;   // zero for a gone one

  // The error ratio of a side with calls.
  static std::optional<double> error_ratio(const HealthSummary& side);
  // after / before, where before has calls.
  std::optional<double> calls_ratio() const;
  // after's error ratio minus before's, where both have calls.
  std::optional<double> error_ratio_change() const;
  // after / before of the p99, where both have one and before's is above 0.
  std::optional<double> p99_ratio() const;
  bool worse_errors() const;
  bool worse_p99() const;
  bool operator==(const FigureChange&) const = default;
};

struct MethodChange {
  std::string method;
  FigureChange change;
  bool operator==(const MethodChange&) const = default;
};

struct NodeChange {
  std::string name;
  Presence status = Presence::Kept;
  std::int64_t entry_count = 0;  // of the current graph; of the baseline for a gone node
  FigureChange received;         // of the calls received, over all methods
  // Per direction (received, made, unknown), sorted by method: the union of both sides.
  std::array<std::vector<MethodChange>, 3> maps;
  bool operator==(const NodeChange&) const = default;
};

struct EdgeChange {
  std::string from;
  std::string to;
  std::string method;
  std::int64_t count = 0;  // of the current graph; of the baseline for a gone edge
  FigureChange change;
  bool operator==(const EdgeChange&) const = default;
};

struct GraphChanges {
  std::vector<std::string> inputs;  // of the baseline
  std::vector<NodeChange> nodes;    // the union of both graphs' nodes, sorted by name
  std::vector<EdgeChange> edges;    // the union of both graphs' edges, sorted
  bool operator==(const GraphChanges&) const = default;
};

GraphChanges compare_graphs(const DependencyGraph& baseline, const DependencyGraph& current,
                            std::vector<std::string> baseline_inputs = {});

}  // namespace tracemill
