#include "platform/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <system_error>
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

// The thread that runs the work of each wait, one piece at a time; each piece's end is one byte
// on a pipe, which the waiting thread watches beside the signal's.
class StopSignals::Worker {
 public:
  // Null when the pipe or the thread cannot be made.
  static std::unique_ptr<Worker> Start() {
    auto worker = std::unique_ptr<Worker>(new Worker);
    if (pipe2(worker->ended_, O_CLOEXEC) != 0) return nullptr;
    try {
      worker->thread_ = std::thread([raw = worker.get()] { raw->Serve(); });
    } catch (const std::system_error&) {
      return nullptr;
    }
    return worker;
  }

  ~Worker() {
    if (thread_.joinable()) {
      {
        const std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
      }
      wake_.notify_one();
      thread_.join();
    }
    for (const int descriptor : ended_) {
      if (descriptor >= 0) close(descriptor);
    }
  }

  // Hands `work` over; its end makes EndDescriptor() readable, and TakeEnd() reads that. False,
  // with nothing handed over, while earlier work is running: a wait inside that work.
  bool Run(const std::function<void()>& work) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (busy_) return false;
      busy_ = true;
      work_ = &work;
    }
    wake_.notify_one();
    return true;
  }
  int EndDescriptor() const { return ended_[0]; }
  void TakeEnd() {
    unsigned char byte = 0;
    while (read(ended_[0], &byte, 1) < 0 && errno == EINTR) {
    }
    const std::lock_guard<std::mutex> hold(lock_);
    busy_ = false;
  }

 private:
  Worker() = default;

  void Serve() {
    std::unique_lock<std::mutex> hold(lock_);
    while (true) {
      wake_.wait(hold, [this] { return quit_ || work_ != nullptr; });
      if (quit_) return;
      const std::function<void()>* work = work_;
      work_ = nullptr;
      hold.unlock();
      (*work)();
      const unsigned char byte = 0;
      [[maybe_unused]] const ssize_t written = write(ended_[1], &byte, 1);
      hold.lock();
    }
  }

  int ended_[2] = {-1, -1};
  std::mutex lock_;
  std::condition_variable wake_;
  const std::function<void()>* work_ = nullptr;
  bool busy_ = false;  // from Run to TakeEnd
  bool quit_ = false;
  std::thread thread_;
};

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
  worker_.reset();
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
  if (worker_ == nullptr && Received() == 0 && signalPipe[0] >= 0) worker_ = Worker::Start();
  // Without the worker, after the signal, or inside work the worker runs, the work runs here.
  if (Received() != 0 || signalPipe[0] < 0 || worker_ == nullptr || !worker_->Run(work)) {
    if (Received() != 0 && onStop) onStop();
    work();
    return;
  }
  bool stopped = false;
  while (true) {
    pollfd watched[] = {{worker_->EndDescriptor(), POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    // After the stop only the end of the work is waited for: the signal's byte stays readable.
    if (poll(watched, stopped ? 1 : 2, -1) < 0) continue;  // interrupted by a signal
    if (watched[0].revents != 0) break;
    if (!stopped && watched[1].revents != 0) {
      stopped = true;
      if (onStop) onStop();
    }
  }
  worker_->TakeEnd();
}

}  // namespace platform
