#include "program_start.h"

#include <fcntl.h>

#include <cerrno>
#include <csignal>

namespace {

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

}  // namespace

bool prepare_program_start() {
  // The lowest free descriptor is taken by open: checked in order, each
  // closed one is the one that /dev/null gets.
  for (int fd = 0; fd <= 2; ++fd) {
    if (is_open(fd)) continue;
    if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return false;
  }
  std::signal(SIGXFSZ, SIG_IGN);
  return true;
}
