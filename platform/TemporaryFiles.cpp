#include "platform/TemporaryFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace platform {
namespace {

// Each worker of a run writes one file at a time (at most 256 workers), the form's own thread one
// more; a table of twice that never fills. Should it fill, a file is still made, unlisted.
constexpr int kSlots = 512;

// kFilling: the name is being written; kCreating: the name is whole and its file is being created;
// kListed: the file may exist; kRemoving: a handler has taken the slot to remove its file.
enum SlotState : int { kFree, kFilling, kCreating, kListed, kRemoving };

struct Slot {
  std::atomic<int> state{kFree};
  char name[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slots' states");

Slot table[kSlots];
// Set by RemoveRegisteredTemporaries: the process is ending, so no new temporary is created.
std::atomic<bool> ending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the flag");

// Writes the six random characters that end a temporary's name.
void FillRandomSuffix(char* suffix) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, 6> random{};
  if (getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
    // Without the kernel's randomness a clock and a counter still give names that differ.
    static std::atomic<unsigned> counter{0};
    unsigned long long mixed = static_cast<unsigned long long>(getpid()) * 0x9E3779B97F4A7C15ULL +
                               counter.fetch_add(1) * 0xBF58476D1CE4E5B9ULL +
                               static_cast<unsigned long long>(time(nullptr));
    for (unsigned char& byte : random) {
      byte = static_cast<unsigned char>(mixed);
      mixed = (mixed >> 8) | (mixed << 56);
    }
  }
  for (std::size_t index = 0; index < random.size(); ++index) {
    suffix[index] = kAlphabet[random[index] % (sizeof(kAlphabet) - 1)];
  }
}

// Takes a free slot for a name of `size` bytes with its terminator; -1 when none is free or the
// name is too long for a slot (and so for the file system).
int TakeSlot(std::size_t size) {
  if (size > PATH_MAX) return -1;
  for (int index = 0; index < kSlots; ++index) {
    int expected = kFree;
    if (table[index].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
      return index;
    }
  }
  return -1;
}

}  // namespace

RegisteredTemporary::RegisteredTemporary(const std::string& pathPrefix) {
  path_ = pathPrefix + "XXXXXX";
  char* suffix = path_.data() + pathPrefix.size();
  slot_ = TakeSlot(path_.size() + 1);
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    FillRandomSuffix(suffix);
    if (slot_ >= 0) {
      // The name is entered before the file exists. A handler on another thread waits while the
      // slot says the file is being created, then removes it; one that interrupts this thread
      // removes a name that is not there yet, which does no harm.
      Slot& slot = table[slot_];
      std::memcpy(slot.name, path_.c_str(), path_.size() + 1);
      slot.state.store(kCreating, std::memory_order_seq_cst);
      if (ending.load(std::memory_order_seq_cst)) {
        // The process is ending: no file is made for a handler that has already looked.
        slot.state.store(kFree, std::memory_order_release);
        slot_ = -1;
        path_.clear();
        errno = EINTR;
        return;
      }
    }
    descriptor_ = open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (slot_ >= 0) table[slot_].state.store(kListed, std::memory_order_release);
    if (descriptor_ >= 0) return;
    const int error = errno;
    if (slot_ >= 0) {
      // The name is someone else's file, or none could be made: off the table before the next.
      int expected = kListed;
      if (!table[slot_].state.compare_exchange_strong(expected, kFilling,
                                                      std::memory_order_acquire)) {
        slot_ = -1;  // a handler is removing the listed names and ends the process
      }
    }
    errno = error;
    if (error != EEXIST) break;
  }
  if (slot_ >= 0) table[slot_].state.store(kFree, std::memory_order_release);
  slot_ = -1;
  path_.clear();
}

RegisteredTemporary::~RegisteredTemporary() { Forget(); }

void RegisteredTemporary::Forget() {
  if (slot_ < 0) return;
  // A slot a handler has taken stays with it: the process ends with that handler.
  int expected = kListed;
  table[slot_].state.compare_exchange_strong(expected, kFree, std::memory_order_acq_rel);
  slot_ = -1;
}

void RemoveRegisteredTemporaries() noexcept {
  ending.store(true, std::memory_order_seq_cst);
  // A thread creating a file finishes within moments; the wait is bounded, because the thread
  // this handler interrupted may be the one, and then its name is removed before its file exists.
  constexpr int kWaits = 200;
  constexpr timespec kPause{0, 1'000'000};  // 1 ms
  for (Slot& slot : table) {
    for (int wait = 0; wait < kWaits; ++wait) {
      const int state = slot.state.load(std::memory_order_seq_cst);
      if (state != kFilling && state != kCreating) break;
      nanosleep(&kPause, nullptr);
    }
    int expected = kListed;
    if (slot.state.compare_exchange_strong(expected, kRemoving, std::memory_order_acq_rel)) {
      unlink(slot.name);
    } else if (expected == kCreating) {
      unlink(slot.name);
    }
  }
}

}  // namespace platform
