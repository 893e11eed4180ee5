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

namespace {

// The kind of the special file `name` that could not be opened; nothing is
// used after this look-up, so the name may change without harm.
void name_unopened_kind(const char *name, const char **kind) {
  struct stat info {};
  if (kind == nullptr || stat(name, &info) != 0) return;
  if (const char *special = special_file_kind(info.st_mode)) *kind = special;
}

// Why the open file `fd` is not kept (the errno of keep_regular_file); 0
// for a regular file, which is then in blocking mode again.
int refusal(int fd, const char **kind) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (const char *special = special_file_kind(info.st_mode)) {
    if (kind != nullptr) *kind = special;
    return EINVAL;
  }
  return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ? errno : 0;
}

}  // namespace

int open_regular_file(const char *name, int flags, const char **kind) {
  const int fd = open(name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) return keep_regular_file(fd, kind);
  const int failed = errno;
  name_unopened_kind(name, kind);
  errno = failed;
  return -1;
}

int keep_regular_file(int fd, const char **kind) {
  if (fd < 0) return -1;
  const int failed = refusal(fd, kind);
  if (failed == 0) return fd;
  close(fd);
  errno = failed;
  return -1;
}

int open_any_file(const char *name, int flags, mode_t mode) {
  return open(name, flags | O_NOCTTY | O_CLOEXEC, mode);
}

std::FILE *stream_on_descriptor(int fd, const char *how) {
  if (fd < 0) return nullptr;
  std::FILE *f = fdopen(fd, how);
  if (f != nullptr) return f;
  const int failed = errno;
  close(fd);
  errno = failed;
  return nullptr;
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}
