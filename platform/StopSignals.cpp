#include "platform/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include "platform/TemporaryFiles.h"

namespace platform {
namespace {

std::atomic<int> receivedSignal{0};
// The handler's way to a waiting thread: one byte, the first signal's number.
int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signalNumber) {
  int none = 0;
  if (receivedSignal.compare_exchange_strong(none, signalNumber)) {
    const int savedError = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedError;
    return;
  }
  RemoveRegisteredTemporaries();
  _exit(128 + signalNumber);
}

}  // namespace

StopSignals::StopSignals(std::initializer_list<int> signalNumbers)
    : handledSignals_(signalNumbers) {
  receivedSignal.store(0);
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) signalPipe[0] = signalPipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // One handler at a time: a second signal waits until the first has been recorded.
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : handledSignals_) sigaddset(&action.sa_mask, signalNumber);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : handledSignals_) sigaction(signalNumber, &action, nullptr);
}

StopSignals::~StopSignals() {
  for (const int signalNumber : handledSignals_) std::signal(signalNumber, SIG_DFL);
  for (int& descriptor : signalPipe) {
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
  }
}

int StopSignals::Received() const { return receivedSignal.load(); }

int StopSignals::ReadDescriptor() const { return signalPipe[0]; }

void StopSignals::Await(const std::function<void()>& work,
                        const std::function<void()>& onStop) const {
  int ended[2] = {-1, -1};
  if (Received() != 0 || signalPipe[0] < 0 || pipe2(ended, O_CLOEXEC) != 0) {
    if (Received() != 0 && onStop) onStop();
    work();
    return;
  }
  std::thread worker([&work, &ended] {
    work();
    const unsigned char byte = 0;
    [[maybe_unused]] const ssize_t written = write(ended[1], &byte, 1);
  });
  bool stopped = false;
  while (true) {
    pollfd watched[] = {{ended[0], POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    // After the stop only the end of the work is waited for: the signal's byte stays readable.
    if (poll(watched, stopped ? 1 : 2, -1) < 0) continue;  // interrupted by a signal
    if (watched[0].revents != 0) break;
    if (!stopped && watched[1].revents != 0) {
      stopped = true;
      if (onStop) onStop();
    }
  }
  worker.join();
  close(ended[0]);
  close(ended[1]);
}

}  // namespace platform
