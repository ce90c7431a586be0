// What became of each record a reconciling member was given: the member's own message, the
// rows each statement changed and the engine's reason for a failure (both read from the
// connection's statement trace), and the records tried again after a transient failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/trace.h"

namespace ovt::tool {

class CommitGroups;

// One entry of a statement trace: "-- operation", "jet: text", "sql: text", "=> outcome".
struct TraceEntry {
  std::string operation, jet, outcome;
};

// The entries of a run kept in memory, as the connections' trace listener hands them over:
// nothing is written to disk and read back, and no text as run is built. Each holds what a
// trace file's lines would: the first line of each text.
class TraceMemory {
 public:
  // The listener to give the connections (SessionOptions::traceListener).
  db::TraceListener listener();
  // The entries added since the last take.
  std::vector<TraceEntry> take();

 private:
  std::shared_ptr<std::vector<TraceEntry>> entries_ = std::make_shared<std::vector<TraceEntry>>();
};

// Reads the entries a connection traced since the last read: from its trace file, or from
// the memory its listener fills.
class TraceTail {
 public:
  // Starts at the current end of `file` (which may not exist yet).
  explicit TraceTail(std::string file);
  // Starts after the entries `memory` holds now.
  explicit TraceTail(TraceMemory& memory);
  std::vector<TraceEntry> next();

 private:
  std::string file_;
  std::streamoff position_ = 0;
  TraceMemory* memory_ = nullptr;
};

struct RecordResult {
  std::string message;          // the member's message; "" when the record succeeded
  std::string reason;           // the engine's reason for the last failed statement, if any
  std::vector<TraceEntry> entries;  // the statements of the record (known when it ran alone)
  int attempts = 1;             // calls the record took (more than 1: tried again)
};

// True for a failure that may pass when tried again: the database busy or locked, a
// serialization failure or a deadlock.
bool isTransient(const std::string& reason);

// Runs `call(from, n, messages)` over `count` records in batches of `batch`; `messages`
// receives one message per record ("" = done). A record that failed in a batch of several is
// run again alone, to learn its own reason; a transient failure is tried again up to
// `retries` times with a growing pause. The batches run in the commit groups of `groups`; the
// records of a group whose commit failed transiently run again, each on its own.
// `progress(done)` is told after each batch.
std::vector<RecordResult> runRecords(size_t count, size_t batch, TraceTail& trace, int retries, CommitGroups& groups,
                                     const std::function<void(size_t, size_t, std::vector<std::string>&)>& call,
                                     const std::function<void(size_t)>& progress);

// The rows an entry changed, or -1 when it changed none by its outcome ("N rows changed").
int64_t rowsChanged(const TraceEntry& e);

// The member's message followed by the engine's reason, when there is one.
std::string withReason(const RecordResult& r);

// A note on the records that needed more than one call ("" when none did).
std::string retryNote(const std::vector<RecordResult>& results);

}  // namespace ovt::tool
