// The streaming run gives what the whole-record path gives, on generated files of every
// profile, on the cases its bookkeeping exists for, and on damaged files.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/generator.h"
#include "corpus.h"
#include "graph/graph_testing.h"
#include "graph/path_equivalence.h"
#include "stats/file/json_corpus.h"

namespace tracemill::test_util {
namespace {

// Each way the streaming run can be set up: the read block, whether the file can be read a
// second time, and the memory allowed for waiting diagnostics (none: every report comes from
// a second reading, or from the log of everything when the file cannot be read twice).
struct StreamSetup {
  std::size_t block;
  bool rereadable;
  std::size_t log_allowance;
};
constexpr StreamSetup kSetups[] = {
    {ByteSource::kBufferSize, true, ChainFold::kDefaultLogAllowance},
    {7, true, 0},
    {ByteSource::kBufferSize, false, 0},
    {13, false, ChainFold::kDefaultLogAllowance},
};

void expect_same_paths(const std::string& file, Encoding encoding, const std::string& what) {
  for (const StreamSetup& s : kSetups) {
    EXPECT_EQ(path_difference(file, encoding, s.block, s.rereadable, s.log_allowance), "")
        << what << ", block " << s.block << ", rereadable " << s.rereadable << ", allowance "
        << s.log_allowance;
  }
}

OperationList generated(bench::StatsGenerator& generator, int n) {
  OperationList operations;
  for (int i = 0; i < n; ++i) operations.push_back(generator.next_operation());
  return operations;
}

// A pair of one chain with this count.
std::pair<CChainStatsKey, CChainStatsValue> chain_pair(std::vector<Call> calls,
                                                       std::uint64_t count) {
  return record_of({{"", {{std::move(calls), count}}}}).stats.at("").call_chain[0];
}

constexpr std::uint64_t kOutOfRange = 2147483648u;

TEST(StreamGraph, AgreesWithTheWholeRecordOnGeneratedFiles) {
  for (bench::Profile profile : {bench::Profile::Typical, bench::Profile::Chains}) {
    bench::StatsGenerator generator(11, profile);
    StatsRecJson head = generator.header(8);
    OperationList operations = generated(generator, 8);
    expect_same_paths(file_of(operations, Encoding::Bincode, Layout::StatsLast, head),
                      Encoding::Bincode, "binary");
    for (Layout layout : {Layout::StatsLast, Layout::StatsFirst, Layout::Array}) {
      expect_same_paths(file_of(operations, Encoding::Json, layout, head), Encoding::Json,
                        "JSON, layout " + std::to_string(static_cast<int>(layout)));
    }
  }
}

// Repeated operation keys, counts out of range, and both together, in every position.
TEST(StreamGraph, AgreesOnReplacedOperationsAndCountsOutOfRange) {
  bench::StatsGenerator generator(3, bench::Profile::Chains);
  StatsRecJson head = generator.header(4);
  OperationList ops = generated(generator, 4);
  // A contradicting chain makes every operation report something; a count of 0 still counts.
  for (auto& [key, operation] : ops) {
    operation.call_chain.push_back(chain_pair({{"p", key, O}}, 0));
  }
  auto with_count_out_of_range = [](OperationStatsJson operation, std::size_t at) {
    operation.call_chain.insert(operation.call_chain.begin() + static_cast<std::ptrdiff_t>(at),
                                chain_pair({{"q", "m", O}}, kOutOfRange));
    return operation;
  };
  const auto& [a, op_a] = ops[0];
  const auto& [b, op_b] = ops[1];
  const auto& [c, op_c] = ops[2];
  const OperationStatsJson op_d = ops[3].second;
  const OperationStatsJson failing = with_count_out_of_range(op_c, op_c.call_chain.size() / 2);
  OperationStatsJson largest;  // two chains of the largest accepted count: the sums need 33 bits
  for (int k = 0; k < 2; ++k)
    largest.call_chain.push_back(chain_pair({{"a", "m", I}}, kOutOfRange - 1));
  const std::pair<const char*, OperationList> cases[] = {
      {"a key repeated: the later operation replaces the earlier",
       {{a, op_a}, {b, op_b}, {a, op_d}, {c, op_c}}},
      {"a key repeated three times, the last one empty",
       {{a, op_a}, {a, op_b}, {c, op_c}, {a, OperationStatsJson{}}}},
      {"a count out of range in a replaced operation vanishes",
       {{a, op_a}, {c, failing}, {b, op_b}, {c, op_d}}},
      {"a count out of range in the final operation ends the run",
       {{a, op_a}, {b, op_b}, {c, op_c}, {c, failing}}},
      {"a count out of range first in its operation: no report before it",
       {{a, with_count_out_of_range(op_a, 0)}, {b, op_b}}},
      {"counts out of range in two operations", {{b, failing}, {a, op_a}, {c, failing}}},
      {"a replaced operation, then a count out of range",
       {{a, op_a}, {a, op_b}, {b, failing}, {c, op_c}}},
      {"no operation", {}},
      {"sums beyond 32 bits", {{a, largest}, {b, largest}}},
  };
  for (const auto& [what, operations] : cases) {
    expect_same_paths(file_of(operations, Encoding::Bincode, Layout::StatsLast, head),
                      Encoding::Bincode, std::string(what) + ", binary");
    expect_same_paths(file_of(operations, Encoding::Json, Layout::StatsFirst, head), Encoding::Json,
                      std::string(what) + ", JSON");
  }
}

// Damaged files: most no longer decode (the same error, nothing reported), some decode to
// other chains, counts, directions and names.
TEST(StreamGraph, AgreesOnDamagedFiles) {
  bench::Rng rng(2024);
  for (bench::Profile profile : {bench::Profile::Typical, bench::Profile::Chains}) {
    for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
      bench::StatsGenerator generator(5, profile);
      StatsRecJson head = generator.header(2);
      const std::string file = file_of(generated(generator, 2), encoding, Layout::StatsLast, head);
      for (int round = 0; round < 80; ++round) {
        std::string damaged = file;
        for (std::uint64_t k = 1 + rng.below(3); k > 0; --k) {
          const std::size_t at = rng.below(damaged.size());
          switch (rng.below(3)) {
            case 0:  // one byte changed
              damaged[at] = static_cast<char>(rng.below(256));
              break;
            case 1:  // a stretch removed
              damaged.erase(at, 1 + rng.below(40));
              break;
            default:  // a stretch repeated
              damaged.insert(at, damaged.substr(at, 1 + rng.below(40)));
          }
        }
        const StreamSetup& s = kSetups[rng.below(std::size(kSetups))];
        ASSERT_EQ(path_difference(damaged, encoding, s.block, s.rereadable, s.log_allowance), "")
            << "round " << round;
      }
    }
  }
}

// JSON cut at any length is a load error on both paths, as in every layout of the record: never
// a graph from part of a file.
TEST(StreamGraph, JsonCutAtAnyLengthIsALoadError) {
  OperationStatsJson operation;
  operation.call_chain.push_back(chain_pair({{"a", "m", I}, {"a", "n", O}, {"b", "k", U}}, 3));
  StatsRecJson head;
  head.trace_id = {"t"};
  head.start_dt = {-5, 7};
  for (Layout layout : {Layout::StatsLast, Layout::StatsFirst, Layout::Array}) {
    const std::string file =
        file_of({{"op", operation}, {"p", operation}}, Encoding::Json, layout, head);
    for (std::size_t n = 0; n < file.size(); ++n) {
      const std::string cut = file.substr(0, n);
      for (std::size_t block : {std::size_t{1}, ByteSource::kBufferSize}) {
        ASSERT_TRUE(
            std::holds_alternative<std::string>(whole_record_run(cut, Encoding::Json, block).end))
            << "length " << n << " block " << block;
        ASSERT_TRUE(std::holds_alternative<std::string>(
            streamed_run(cut, Encoding::Json, block, false, 0).end))
            << "length " << n << " block " << block;
      }
    }
  }
}

// Every document of the JSON conformance corpus as the value of fields that are only checked,
// at the top and inside a chain: the same acceptance, errors and positions as when kept.
TEST(StreamGraph, AgreesOnTheJsonCorpusInCheckedFields) {
  OperationStatsJson operation;
  operation.call_chain.push_back(chain_pair({{"a", "m", O}}, 1));
  const std::string file = file_of({{"op", operation}}, Encoding::Json);
  TRACEMILL_CORPUS_PATH_OR_SKIP(dir, kJsonCorpus);
  for (const CorpusFile& document : json_corpus(dir)) {
    for (const char* field : {"\"trace_id\":[]", "\"num_spans\":[]", "\"looped\":[]"}) {
      std::string input = file;
      const std::size_t at = input.find(field);
      ASSERT_NE(at, std::string::npos);
      input.replace(at + std::string(field).size() - 2, 2, document.text);
      ASSERT_EQ(path_difference(input, Encoding::Json, 5, true, 0), "")
          << document.name << " in " << field;
    }
  }
}

// Names are numbered by the pair, not by its bytes: every split of one text into process and
// method is a pair of its own, also when the cache in front of the table holds another split.
TEST(CallNames, EverySplitOfATextIsItsOwnPair) {
  CallNames names;
  bench::Rng rng(5);
  for (int round = 0; round < 6000; ++round) {
    std::string text(6 + rng.below(12), ' ');
    for (char& c : text) c = static_cast<char>('a' + rng.below(26));
    for (std::size_t split = 0; split <= text.size(); ++split) {
      const std::string process = text.substr(0, split), method = text.substr(split);
      const std::uint32_t id = names.intern(process, method);
      ASSERT_EQ(names.process(id), process);
      ASSERT_EQ(names.method(id), method);
    }
  }
}

}  // namespace
}  // namespace tracemill::test_util
