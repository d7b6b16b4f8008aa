// Stopping the program on a signal in two steps: the first signal asks for an orderly stop (the
// files being written are finished, nothing new starts), the second ends the process at once,
// after removing the temporaries this process created (RemoveRegisteredTemporaries), with the
// status 128 + the signal's number.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

namespace platform {

// One object per process, for as long as the signals should be handled so; the signals' default
// actions come back when it goes.
class StopSignals {
 public:
  explicit StopSignals(std::initializer_list<int> signalNumbers);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The number of the first signal received; 0 while none has come.
  int Received() const;
  // Becomes readable when the first signal comes (one byte, the signal's number), for an event
  // loop to watch; -1 when it could not be made.
  int ReadDescriptor() const;

  // Runs `work` on another thread while this one waits for its end or for the first signal.
  // When that signal comes, or has come before, `onStop` runs on this thread, once per call, and
  // the wait goes on until `work` has ended. The other thread is made at the first call and serves
  // every later one: a batch waits once per file.
  void Await(const std::function<void()>& work, const std::function<void()>& onStop) const;

 private:
  class Worker;

  std::vector<int> handledSignals_;
  mutable std::unique_ptr<Worker> worker_;
};

}  // namespace platform
