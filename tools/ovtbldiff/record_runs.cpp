#include "record_runs.h"

#include "durability.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ovtbldiff/runtime/text.h"

namespace ovt::tool {

TraceTail::TraceTail(std::string file) : file_(std::move(file)) {
  std::ifstream in(file_, std::ios::ate);
  if (in) position_ = in.tellg();
}

namespace {

// The first line of a text: what a trace file's line holds of it (an engine's reason may go on
// with details on more lines).
std::string firstLine(std::string_view text) { return std::string(text.substr(0, text.find('\n'))); }

}  // namespace

db::TraceListener TraceMemory::listener() {
  return [entries = entries_](const db::TracedStatement& s) {
    entries->push_back(TraceEntry{firstLine(s.operation), firstLine(s.received), firstLine(s.outcome)});
  };
}

std::vector<TraceEntry> TraceMemory::take() {
  std::vector<TraceEntry> out;
  out.swap(*entries_);
  // The next call's statements are about as many: room for them at once, not grown entry by entry.
  entries_->reserve(out.size());
  return out;
}

TraceTail::TraceTail(TraceMemory& memory) : memory_(&memory) { memory.take(); }

std::vector<TraceEntry> TraceTail::next() {
  if (memory_) return memory_->take();
  std::vector<TraceEntry> out;
  std::ifstream in(file_);
  if (!in) return out;
  in.seekg(position_);
  std::string line;
  TraceEntry e;
  std::streamoff complete = position_, read = position_;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // a line still being written
    read += static_cast<std::streamoff>(line.size()) + 1;
    if (line.rfind("-- ", 0) == 0) e = TraceEntry{line.substr(3), "", ""};
    else if (line.rfind("jet: ", 0) == 0) e.jet = line.substr(5);
    else if (line.rfind("=> ", 0) == 0) {
      e.outcome = line.substr(3);
      out.push_back(e);
      complete = read;
    }
  }
  position_ = complete;
  return out;
}

bool isTransient(const std::string& reason) {
  const std::string r = foldCase(reason);
  for (const char* word : {"database is locked", "database table is locked", "busy", "could not serialize access",
                           "deadlock detected"})
    if (r.find(word) != std::string::npos) return true;
  return false;
}

int64_t rowsChanged(const TraceEntry& e) {
  const std::string tail = " rows changed";
  if (e.outcome.size() <= tail.size() || e.outcome.compare(e.outcome.size() - tail.size(), tail.size(), tail) != 0)
    return -1;
  try {
    return std::stoll(e.outcome.substr(0, e.outcome.size() - tail.size()));
  } catch (const std::exception&) {
    return -1;
  }
}

namespace {

std::string reasonOf(const std::vector<TraceEntry>& entries) {
  std::string reason;
  for (const TraceEntry& e : entries)
    if (e.outcome.rfind("error: ", 0) == 0) reason = e.outcome.substr(7);
  return reason;
}

}  // namespace

std::vector<RecordResult> runRecords(size_t count, size_t batch, TraceTail& trace, int retries, CommitGroups& groups,
                                     const std::function<void(size_t, size_t, std::vector<std::string>&)>& call,
                                     const std::function<void(size_t)>& progress) {
  std::vector<RecordResult> results(count);
  batch = std::max<size_t>(1, batch);
  // Runs record `i` alone (no group is open then: it commits on its own) until it passes or
  // its failure is not transient or the tries are spent, pausing longer each time.
  auto again = [&](size_t i, bool pauseFirst) {
    RecordResult& r = results[i];
    for (int tries = 0;; ++tries) {
      if (pauseFirst || tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250 << std::min(tries, 4)));
      std::vector<std::string> one(1);
      call(i, 1, one);
      ++r.attempts;
      r.message = one[0];
      r.entries = trace.next();
      r.reason = r.message.empty() ? "" : reasonOf(r.entries);
      if (r.message.empty() || !isTransient(r.reason) || tries >= retries) return;
    }
  };
  // A group whose commit met a transient failure (busy, serialization) was rolled back whole:
  // its records run again, each on its own.
  size_t committedUpTo = 0;
  auto uncommitted = [&](size_t end) {
    for (size_t i = committedUpTo; i < end; ++i)
      if (results[i].message.rfind(kNotCommitted, 0) == 0 && isTransient(results[i].reason)) again(i, true);
    committedUpTo = std::max(committedUpTo, end);
  };
  for (size_t from = 0; from < count;) {
    const size_t n = groups.next(from, std::min(batch, count - from));
    std::vector<std::string> messages(n);
    trace.next();
    call(from, n, messages);
    std::vector<TraceEntry> entries = trace.next();
    for (size_t i = 0; i < n; ++i) {
      RecordResult& r = results[from + i];
      // A record the flush of an earlier one's group rolled back keeps saying so.
      if (r.message.rfind(kNotCommitted, 0) != 0) {
        r.message = messages[i];
        if (n == 1) {
          r.entries = entries;
          r.reason = r.message.empty() ? "" : reasonOf(entries);
        }
      }
      // A record that failed among others runs again alone: its own statements tell why.
      if (r.message.empty() || (n == 1 && !isTransient(r.reason))) continue;
      // The open group holds the locks of the batch's reads: committed first, so that the
      // writer this record met can finish and the record runs again on its own.
      groups.flush(from + n, results);
      uncommitted(from + i);
      again(from + i, n == 1);
    }
    groups.done(from + n, results);
    from += n;
    if (!groups.open()) uncommitted(from);
    progress(from);
  }
  groups.finish(results);
  uncommitted(count);
  return results;
}

std::string withReason(const RecordResult& r) {
  if (r.message.empty() || r.reason.empty() || r.message.find(r.reason) != std::string::npos) return r.message;
  return r.message + " [engine: " + r.reason + "]";
}

std::string retryNote(const std::vector<RecordResult>& results) {
  size_t again = 0, passed = 0;
  for (const RecordResult& r : results) {
    if (r.attempts < 2) continue;
    ++again;
    passed += r.message.empty() ? 1 : 0;
  }
  if (again == 0) return "";
  return std::to_string(again) + (again == 1 ? " record" : " records") +
         " failed at first and ran again on its own (transient failures retried); " + std::to_string(passed) +
         " of them then succeeded";
}

}  // namespace ovt::tool
