// Runs one command and prints its wall time in seconds and its peak resident
// memory in KiB: "<seconds> <kib>".  The command's standard output is
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
  std::printf("%.3f %ld\n", elapsed.count(), usage.ru_maxrss);
  return 0;
}
