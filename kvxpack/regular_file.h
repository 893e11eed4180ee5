// regular_file: the one way the programs and the data file library open
// files by name.
//
// Every descriptor is opened with O_CLOEXEC, so that no program started by
// a caller inherits it, and with O_NOCTTY, so that a terminal named as a
// file never becomes the controlling terminal.
//
// Files that are only read must be regular files: the blocks are found by
// seeking, opening a FIFO waits for a writer, and opening a device may act
// on it.  open_regular_file refuses them without waiting, and checks the
// kind of the file on the opened descriptor, so that the file checked is
// the file used even when the name is replaced in between.
#pragma once

#include <sys/types.h>

#include <cstdio>

// What a file of `mode` is when it is neither a regular file nor a
// directory ("a FIFO", "a character device", "a block device", "a socket",
// else "not a regular file"); null for a regular file or a directory.
const char *special_file_kind(mode_t mode);

// Opens `name` with `flags` (plus O_NOCTTY and O_CLOEXEC) without waiting
// on a FIFO or a device, and keeps the descriptor only for a regular file,
// in blocking mode again.  The caller owns the descriptor returned.
// Otherwise -1 with errno set:
// - by the open or the status query: the file cannot be opened;
// - EISDIR: a directory;
// - EINVAL: any other file that is not regular.
// The kind of a file that is not regular goes to `*kind` when given, also
// when the open itself fails for it (a socket cannot be opened at all, a
// device without its driver fails with ENXIO); `*kind` is left as it is
// for a regular file, a directory and a name that names nothing.
[[nodiscard]] int open_regular_file(const char *name, int flags, const char **kind = nullptr);

// The check of open_regular_file on a descriptor that the caller opened
// itself (with O_NONBLOCK, O_NOCTTY and O_CLOEXEC), where a plain open by
// name does not do: `fd` is returned for a regular file, in blocking mode
// again, and closed otherwise, with -1 and errno and `*kind` as there.
// -1 for -1, errno as the failed open left it.
[[nodiscard]] int keep_regular_file(int fd, const char **kind = nullptr);

// Opens `name` as open(2) does, with O_NOCTTY and O_CLOEXEC added, for the
// files that are written and may be of any kind (a "new" data file may
// well be a device).  The caller owns the descriptor; -1 with errno set.
[[nodiscard]] int open_any_file(const char *name, int flags, mode_t mode = 0666);

// A stdio stream of `how` ("rb", "r+b", "w+b", ...) on the open descriptor
// `fd`, which then belongs to the stream.  When no stream can be made, `fd`
// is closed and the result is null, with the errno of the failure.
[[nodiscard]] std::FILE *stream_on_descriptor(int fd, const char *how);

// A file descriptor closed with the object; -1 holds none.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor &&other) noexcept : fd_(other.release()) {}
  FileDescriptor &operator=(FileDescriptor &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up to the caller, who then closes it.
  [[nodiscard]] int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held and holds `fd` instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};
