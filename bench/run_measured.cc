// Runs a command and prints, on standard error once it has ended, one line with its wall
// time, user and system CPU time in seconds, its peak resident memory in KiB and the
// page faults it took that needed no read from disk: "<wall> <user> <system> <peak> <faults>". The
// benchmark scripts use it where GNU time may be missing; the figures come from the same place as
// GNU time's (wait4's resource usage).
//
// usage: run_measured <command> [argument...]
// Exits with the command's status, or 128 + the signal that ended it.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double seconds(const timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: run_measured <command> [argument...]\n");
    return 2;
  }
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid < 0) {
    std::fprintf(stderr, "run_measured: fork: %s\n", std::strerror(errno));
    return 2;
  }
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "run_measured: %s: %s\n", argv[1], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "run_measured: wait4: %s\n", std::strerror(errno));
      return 2;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  // ru_maxrss is in KiB on Linux.
  std::fprintf(stderr, "%.3f %.3f %.3f %ld %ld\n", seconds(end) - seconds(start),
               seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss, usage.ru_minflt);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
