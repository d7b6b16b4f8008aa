// Converting the entries of a batch several at a time. Worker threads take the entries in list
// order, each converting with its own copy of the job's options and an engine state of its own;
// the front end asks for the results in list order and does everything the user sees (messages,
// progress, the form's session) on its own thread. A run gives the same files whatever the
// number of workers.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Conversion.h"

namespace runner {

// One entry of a batch: the input and the whole target path, extension included.
struct BatchEntry {
  std::string input;
  std::string target;
};

// What became of an entry.
struct EntryResult {
  bool started = false;  // false: the run was cancelled before the entry began; nothing was done
  int probedKind = 0;    // the input's kind by content, as the imaging library reports it
  engine::ConversionResult conversion;
};

// The cores this process may run on (its CPU affinity), at least 1.
int AvailableCores();

class BatchRunner {
 public:
  // Starts `workers` threads (at least 1) on the entries. Entries that share a file (the same
  // target, or one's target another's input) run one after the other in list order, so a later
  // entry's file is the one left, as when the entries run one at a time.
  BatchRunner(engine::JobSnapshot job, std::vector<BatchEntry> entries, int workers);
  // Cancels what has not started and waits for the entries being converted.
  ~BatchRunner();
  BatchRunner(const BatchRunner&) = delete;
  BatchRunner& operator=(const BatchRunner&) = delete;

  std::size_t Size() const { return entries_.size(); }

  // True when Result(index) would not wait.
  bool Ready(std::size_t index) const;
  // The result of the entry, waiting until it has finished or is known never to start.
  EntryResult Result(std::size_t index);

  // No entry starts from now on; those being converted finish. Any thread may call it.
  void Cancel();
  bool Cancelled() const;

 private:
  struct Slot {
    BatchEntry entry;
    // The latest earlier entry that touches one of this entry's files, or none.
    std::vector<std::size_t> after;
    bool finished = false;
    EntryResult result;
  };

  void Work();
  EntryResult Convert(const BatchEntry& entry) const;
  bool ReadyLocked(std::size_t index) const;

  const engine::JobSnapshot job_;
  std::vector<Slot> entries_;
  std::size_t window_ = 1;  // entries started ahead of the one the front end waits for

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;     // the next entry to start
  std::size_t awaited_ = 0;  // the entry the front end asks for
  bool cancelled_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace runner
