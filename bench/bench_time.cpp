// bench_time: runs one command and prints, on one line, its wall time and its processor time
// (user plus system) in milliseconds, its peak resident set in KiB (both from wait4's resource
// usage) and its exit status:
//
//   bench_time COMMAND [ARGUMENT]...      prints "WALL_MS CPU_MS PEAK_KIB STATUS"
//
// On a machine shared with other work the processor time of a single-threaded program is the
// steadier measure: it leaves out the time the program waited for a processor.
// The command's own output goes to /dev/null, so its messages cost what they cost but do not
// clutter the benchmark's table.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_time COMMAND [ARGUMENT]...\n");
    return 64;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("bench_time: fork");
    return 1;
  }
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) {
      dup2(quiet, STDOUT_FILENO);
      dup2(quiet, STDERR_FILENO);
    }
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("bench_time: wait4");
    return 1;
  }
  const auto stop = std::chrono::steady_clock::now();
  const double milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const auto toMilliseconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_usec) / 1000.0;
  };
  const double processor = toMilliseconds(usage.ru_utime) + toMilliseconds(usage.ru_stime);
  std::printf("%.2f %.2f %ld %d\n", milliseconds, processor, usage.ru_maxrss, exitStatus);
  return 0;
}
