#include "export/baseline.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <utility>

namespace tracemill {
namespace {

__extension__ typedef __int128 Wide;

std::int64_t saturated_sum(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::numeric_limits<std::int64_t>::max();
  return sum;
}

std::int64_t failures(const HealthSummary& side) {
  return std::clamp<std::int64_t>(side.errors, 0, side.calls);
}

FigureChange one_sided(const HealthSummary& summary, Presence presence) {
  FigureChange change;
  change.status = presence;
  (presence == Presence::Gone ? change.before : change.after) = summary;
  return change;
}

std::vector<MethodChange> method_changes(const std::vector<MethodSum>& before,
                                         const std::vector<MethodSum>& after) {
  std::vector<MethodChange> changes;
  auto one = [&](Presence presence) {
    return [&changes, presence](const MethodSum& m) {
      changes.push_back({m.method, one_sided(summary_of(m.figures), presence)});
    };
  };
  walk_sorted(
      before, after, [](const MethodSum& a, const MethodSum& b) { return a.method < b.method; },
      [&](const MethodSum& a, const MethodSum& b) {
        changes.push_back(
            {a.method, {Presence::Kept, summary_of(a.figures), summary_of(b.figures)}});
      },
      one(Presence::Gone), one(Presence::New));
  return changes;
}

}  // namespace

HealthSummary summary_of(const CallFigures& figures) {
  HealthSummary summary{figures.calls, figures.errors, std::nullopt};
  if (figures.latency.count() != 0) summary.p99 = figures.latency.quantile(0.99);
  return summary;
}

HealthSummary received_summary(const DependencyNode& node) {
  HealthSummary summary;
  const Latency* one = nullptr;
  Latency merged;
  for (const MethodSum& sum : node.operations) {
    const CallFigures& figures = sum.figures;
    summary.calls = saturated_sum(summary.calls, figures.calls);
    summary.errors = saturated_sum(summary.errors, figures.errors);
    if (figures.latency.count() == 0) continue;
    if (one == nullptr) {
      one = &figures.latency;
      continue;
    }
    if (one != &merged) merged = *one;
    merged.merge(figures.latency);
    one = &merged;
  }
  if (one != nullptr) summary.p99 = one->quantile(0.99);
  return summary;
}

std::optional<double> FigureChange::error_ratio(const HealthSummary& side) {
  if (side.calls <= 0) return std::nullopt;
  return static_cast<double>(failures(side)) / static_cast<double>(side.calls);
}

std::optional<double> FigureChange::calls_ratio() const {
  if (before.calls <= 0) return std::nullopt;
  return static_cast<double>(after.calls) / static_cast<double>(before.calls);
}

std::optional<double> FigureChange::error_ratio_change() const {
  const std::optional<double> a = error_ratio(before);
  const std::optional<double> b = error_ratio(after);
  if (!a || !b) return std::nullopt;
  return *b - *a;
}

std::optional<double> FigureChange::p99_ratio() const {
  if (!before.p99 || !after.p99 || *before.p99 <= 0) return std::nullopt;
  return static_cast<double>(*after.p99) / static_cast<double>(*before.p99);
}

// Decided in integers, so that a ratio exactly at the threshold counts whatever the rounding.
bool FigureChange::worse_errors() const {
  if (status != Presence::Kept || before.calls <= 0 || after.calls <= 0) return false;
  // after_errors / after_calls - before_errors / before_calls >= 1 / 100
  const Wide rise = Wide{failures(after)} * before.calls - Wide{failures(before)} * after.calls;
  return rise * 100 >= Wide{before.calls} * after.calls;
}

bool FigureChange::worse_p99() const {
  if (status != Presence::Kept || !before.p99 || !after.p99 || *before.p99 <= 0) return false;
  return Wide{*after.p99} * 5 >= Wide{*before.p99} * 6;
}

GraphChanges compare_graphs(const DependencyGraph& baseline, const DependencyGraph& current,
                            std::vector<std::string> baseline_inputs) {
  GraphChanges changes;
  changes.inputs = std::move(baseline_inputs);
  auto maps_of = [](const DependencyNode& node) {
    return std::array<const std::vector<MethodSum>*, 3>{&node.operations, &node.methods,
                                                        &node.direction_unknown};
  };
  static const std::vector<MethodSum> kNone;
  auto one_node = [&](Presence presence) {
    return [&, presence](const DependencyNode& n) {
      NodeChange& node = changes.nodes.emplace_back();
      node.name = n.name;
      node.status = presence;
      node.entry_count = n.entry_count;
      node.received = one_sided(received_summary(n), presence);
      for (std::size_t d = 0; d < 3; ++d) {
        node.maps[d] = presence == Presence::Gone ? method_changes(*maps_of(n)[d], kNone)
                                                  : method_changes(kNone, *maps_of(n)[d]);
      }
    };
  };
  walk_sorted(
      baseline.nodes, current.nodes,
      [](const DependencyNode& a, const DependencyNode& b) { return a.name < b.name; },
      [&](const DependencyNode& a, const DependencyNode& b) {
        NodeChange& node = changes.nodes.emplace_back();
        node.name = a.name;
        node.entry_count = b.entry_count;
        node.received = {Presence::Kept, received_summary(a), received_summary(b)};
        for (std::size_t d = 0; d < 3; ++d) {
          node.maps[d] = method_changes(*maps_of(a)[d], *maps_of(b)[d]);
        }
      },
      one_node(Presence::Gone), one_node(Presence::New));
  auto one_edge = [&changes](Presence presence) {
    return [&changes, presence](const DependencyEdge& e) {
      changes.edges.push_back(
          {e.from, e.to, e.method, e.count, one_sided(summary_of(e.figures), presence)});
    };
  };
  walk_sorted(
      baseline.edges, current.edges,
      [](const DependencyEdge& a, const DependencyEdge& b) {
        return std::tie(a.from, a.to, a.method) < std::tie(b.from, b.to, b.method);
      },
      [&](const DependencyEdge& a, const DependencyEdge& b) {
        changes.edges.push_back({a.from,
                                 a.to,
                                 a.method,
                                 b.count,
                                 {Presence::Kept, summary_of(a.figures), summary_of(b.figures)}});
      },
      one_edge(Presence::Gone), one_edge(Presence::New));
  return changes;
}

}  // namespace tracemill
