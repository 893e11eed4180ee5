// Runs one command and prints its wall time in seconds, its peak resident
// memory in KiB and its CPU time (user + system) in seconds:
// "<seconds> <kib> <cpu seconds>".  CPU time is the steadier figure on a
// shared machine, where other work stretches the wall time.  The command's standard output is
// discarded, its error stream passed on; a command that fails (or cannot be
// started) makes this program fail with a message.
//
// A small compiled starter rather than a script: the kernel counts the
// memory of the starting process, up to the command's exec, into the
// command's peak, and an interpreter would add some 14 MiB to every reading.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// In the child: standard output to /dev/null, then the command.
[[noreturn]] void runCommand(char *argv[]) {
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) {
    std::perror("measure: /dev/null");
    _exit(127);
  }
  execvp(argv[0], argv);
  std::fprintf(stderr, "measure: cannot run %s: %s\n", argv[0], std::strerror(errno));
  _exit(127);
}

}  // namespace

int main(int argc, char *argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: measure COMMAND [ARGUMENT ...]\n");
    return 2;
  }
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("measure: fork");
    return 1;
  }
  if (child == 0) runCommand(argv + 1);

  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("measure: wait4");
      return 1;
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (WIFSIGNALED(status))
      std::fprintf(stderr, "measure: %s ended by signal %d\n", argv[1], WTERMSIG(status));
    else
      std::fprintf(stderr, "measure: %s exited with %d\n", argv[1], WEXITSTATUS(status));
    return 1;
  }
  const auto seconds = [](const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  std::printf("%.3f %ld %.3f\n", elapsed.count(), usage.ru_maxrss,
              seconds(usage.ru_utime) + seconds(usage.ru_stime));
  return 0;
}
