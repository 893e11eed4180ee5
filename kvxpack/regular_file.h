// regular_file: opening a file that must be a regular file.
//
// Opening a FIFO waits for a writer, and opening a device may act on it, so
// the programs refuse both before they read anything.
#pragma once

#include <sys/types.h>

// What a file of `mode` is when it is neither a regular file nor a
// directory ("a FIFO", "a character device", "a block device", "a socket",
// else "not a regular file"); null for a regular file or a directory.
const char *special_file_kind(mode_t mode);

// Opens `name` with `flags` (plus O_NOCTTY and O_CLOEXEC) without waiting
// on a FIFO or a device, and keeps the descriptor only for a regular file,
// in blocking mode again.  Otherwise -1 with errno set: by the open or the
// status query, EISDIR for a directory, EINVAL for any other file that is
// not regular, whose kind then goes to `*kind` when given.
[[nodiscard]] int open_regular_file(const char *name, int flags, const char **kind = nullptr);
