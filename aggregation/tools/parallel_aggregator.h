// ParallelAggregator: quaxaggregate's engine. It sums the resource records
// of several inputs by key on several threads and appends the aggregates to
// one resource record file.
//
// Every record of one key is summed into one aggregate, wherever it stands
// in the inputs. The key is the record's layout (header, the identifier
// names and rate codes it keeps) with its identifier values and the dates the
// date aggregation chooses, compared byte for byte.
//
// How the threads share the work: the inputs are read in chunks of whole
// lines; any thread parses a chunk and sorts its records by a hash of their
// key into one bucket per shard; each shard (as many as threads) owns the
// keys of its hash range and sums its buckets chunk by chunk in input order.
// So every key is summed in input order, by exactly one thread, as on one
// thread: the output is the same for any number of threads.
//
// Output order: the aggregates of a pass in the order of their key's first
// record in the inputs. Keys that do not fit the memory budget go to work
// files, spread by key over a few partitions per shard; each further pass
// sums one partition of every shard (writing again only what still does not
// fit) and is written after the pass before. A key is either in memory or
// in the work files for the whole of a pass, so that its records are never
// split over two aggregates.
//
// The first input error by input order stops the run, whichever thread
// finds it; nothing is written then.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/typed_engine.h"

namespace quax::agg::tools {

// One input: a file, or the process's standard input (then Name is how
// messages call it).
struct AggregationInput {
  std::string Name;
  bool StandardInput = false;
};

struct AggregationSettings {
  int Threads = 1;  // 1 to ParallelAggregator::kMaxThreads
  // Aggregates in memory at once, all threads together; 0: the memory
  // limits decide.
  std::int32_t MaxEntries = 0;
  // The engine's memory limits in MB: new keys go to work files once the
  // process uses more than both; 0 turns a limit off.
  std::int32_t MemoryMinimum = 16;
  std::int32_t MemoryMaximum = 0;
  std::int32_t DateAggregation = EDateAggregation_Both;
  bool StrictInput = true;
  bool DebugCounters = false;
  // Names to leave out, matched in any case; each given once.
  std::vector<std::string> DropIdentifiers;
  std::vector<std::string> DropResources;
  std::string WorkPath;  // empty: the engine's default (TEMP)
};

class ParallelAggregator {
 public:
  static constexpr int kMaxThreads = 64;
  static constexpr const char* kStopped = "The run was stopped.";

  explicit ParallelAggregator(AggregationSettings settings);
  ~ParallelAggregator();
  ParallelAggregator(const ParallelAggregator&) = delete;
  ParallelAggregator& operator=(const ParallelAggregator&) = delete;

  // Sums the inputs and appends the aggregates to the resource record file
  // `output`. True when every record was summed and written; otherwise false
  // with LastErrorMessage. Nothing is thrown.
  bool Run(std::span<const AggregationInput> inputs, const std::string& output);

  const std::string& LastErrorMessage() const noexcept;
  // True when the stop request (SetStopRequest) ended the run.
  bool Stopped() const noexcept;
  // The engine's results and statistics texts (lines end in CR LF).
  std::string ResultsMessage() const;
  std::string DebugMessage() const;
  // The drop names, as given, that no record's layout held.
  std::vector<std::string> UnmatchedDropIdentifiers() const;
  std::vector<std::string> UnmatchedDropResources() const;

  // Called on the calling thread a few times a second with the pass and the
  // records it has read, and at the start and end of each pass (`force`).
  using Progress = std::function<void(std::int64_t pass, std::int64_t records, bool force)>;
  void SetProgress(Progress progress);
  // Asked a few times a second on the calling thread; true stops the run.
  void SetStopRequest(std::function<bool()> stopRequested);
  // The memory figure of the budget, in MB; the default reads the working
  // set of the process (all threads together).
  void SetMemoryUsedProbe(std::function<std::int32_t()> probe);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The processors this process may run on (its affinity), at least 1.
int ProcessorsOfThisProcess();

}  // namespace quax::agg::tools
