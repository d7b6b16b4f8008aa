#include "runner/BatchRunner.h"

#include <limits.h>
#include <malloc.h>
#include <sched.h>
#include <stdlib.h>

#include <map>
#include <utility>

#include "imaging/Imaging.h"

namespace runner {
namespace {

// A file's name with its folder resolved, so that two spellings of one file (a symbolic link to
// the folder, "..", a doubled "/") are known as one. A file that does not exist yet is named by
// its resolved folder and its own name.
std::string FileKey(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  if (realpath(folder.c_str(), resolved) == nullptr) return path;
  return std::string(resolved) + "/" + path.substr(slash + 1);
}

}  // namespace

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

BatchRunner::BatchRunner(engine::JobSnapshot job, std::vector<BatchEntry> entries, int workers)
    : job_(std::move(job)) {
  if (workers < 1) workers = 1;
  // Workers beyond the entries would only wait.
  const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(workers),
                                                    std::max<std::size_t>(entries.size(), 1));
  // The workers run at most this far ahead of the entry the front end is showing, so a run that
  // is cancelled while a message box waits has not quietly converted the rest of the list. One
  // worker runs no entry ahead: the run is then the one-at-a-time run, step by step.
  window_ = threads == 1 ? 1 : 2 * threads;

  std::map<std::string, std::size_t> lastTouching;
  entries_.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    Slot slot;
    slot.entry = std::move(entries[index]);
    for (const std::string& key : {FileKey(slot.entry.input), FileKey(slot.entry.target)}) {
      // An entry converted onto its own input touches one file twice and waits for nobody.
      const auto [found, inserted] = lastTouching.try_emplace(key, index);
      if (!inserted && found->second != index) {
        slot.after.push_back(found->second);
        found->second = index;
      }
    }
    entries_.push_back(std::move(slot));
  }

  imaging::SetConcurrentJobs(static_cast<std::int32_t>(threads));
  // The C library gives every thread a heap of its own by default, whose memory is fresh and
  // faulted in page by page, so a batch on one worker would take more processor time and peak
  // memory than the same batch on the form's own thread. A thread's own heap also cannot
  // hold a block of more than 64 MB, so the decoder's arrays for a large photo would be mapped
  // and faulted in afresh for every file. The workers' allocations are few and large, so they
  // share the one main heap.
  mallopt(M_ARENA_MAX, 1);
  threads_.reserve(threads);
  for (std::size_t index = 0; index < threads; ++index) threads_.emplace_back([this] { Work(); });
}

BatchRunner::~BatchRunner() {
  Cancel();
  for (std::thread& thread : threads_) thread.join();
  imaging::SetConcurrentJobs(1);
}

void BatchRunner::Work() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] {
      return cancelled_ || next_ >= entries_.size() || next_ < awaited_ + window_;
    });
    if (cancelled_ || next_ >= entries_.size()) return;
    const std::size_t index = next_++;
    Slot& slot = entries_[index];
    // An earlier entry on the same file was taken before this one; it finishes first even when
    // the run is cancelled meanwhile, since it has started.
    changed_.wait(lock, [&] {
      for (std::size_t earlier : slot.after) {
        if (!entries_[earlier].finished) return false;
      }
      return true;
    });
    lock.unlock();
    EntryResult result = Convert(slot.entry);
    lock.lock();
    slot.result = std::move(result);
    slot.finished = true;
    changed_.notify_all();
  }
}

EntryResult BatchRunner::Convert(const BatchEntry& entry) const {
  EntryResult result;
  result.started = true;
  result.probedKind = imaging::ProbeFileKind(entry.input, 0);
  engine::EngineState state;
  result.conversion =
      engine::ConvertFile(job_, result.probedKind, entry.input, entry.target, state);
  return result;
}

bool BatchRunner::ReadyLocked(std::size_t index) const {
  return entries_[index].finished || (cancelled_ && index >= next_);
}

bool BatchRunner::Ready(std::size_t index) const {
  const std::lock_guard lock(mutex_);
  return ReadyLocked(index);
}

EntryResult BatchRunner::Result(std::size_t index) {
  std::unique_lock lock(mutex_);
  if (index > awaited_) {
    awaited_ = index;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return ReadyLocked(index); });
  return entries_[index].finished ? entries_[index].result : EntryResult{};
}

void BatchRunner::Cancel() {
  const std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

bool BatchRunner::Cancelled() const {
  const std::lock_guard lock(mutex_);
  return cancelled_;
}

}  // namespace runner
