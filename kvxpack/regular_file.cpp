#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

const char *special_file_kind(mode_t mode) {
  if (S_ISREG(mode) || S_ISDIR(mode)) return nullptr;
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

int open_regular_file(const char *name, int flags, const char **kind) {
  const int fd = open(name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  int failed = 0;
  if (fstat(fd, &info) != 0) {
    failed = errno;
  } else if (S_ISDIR(info.st_mode)) {
    failed = EISDIR;
  } else if (const char *special = special_file_kind(info.st_mode)) {
    if (kind != nullptr) *kind = special;
    failed = EINVAL;
  } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    failed = errno;
  }
  if (failed == 0) return fd;
  close(fd);
  errno = failed;
  return -1;
}
