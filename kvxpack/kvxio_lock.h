// kvxio_lock: one writer per KVX file.
//
// A file that is written to is held under an exclusive lock for as long as
// it is open: two writers that both appended behind the last block they
// found at their open would write over each other's blocks.  The lock is an
// open-file-description write lock (F_OFD_SETLK) over the whole file.  The
// system releases it when the last descriptor of the open file closes, so
// also when the process ends in any way, killed included; closing some other
// descriptor of the same file does not drop it, and it works on NFS as a
// byte-range lock does.  Readers do not lock.
//
// A writer that finds the file locked may wait for the other writer to
// finish: the converter waits as long as the environment variable
// KVX_LOCK_WAIT, a whole number of seconds, allows (by default not at all);
// the repair of a file never waits.
//
// Which failures mean what, for the converter and for the repair alike:
// EAGAIN and EACCES say that another open of the file holds a lock that
// excludes this one: the file is in use.  Any other failure (EINVAL from a
// kernel without open-file-description locks, ENOLCK from a network file
// system without a lock service, EOPNOTSUPP, EBADF from a descriptor that
// cannot be locked) says that the lock cannot be had on this file at all:
// the file is then written, or repaired, unlocked, as before there were
// locks.  On such a file system nothing keeps a second writer out, and a
// repair cannot tell a running writer's last block from a torn one; a
// refusal instead would make the file system unusable for conversions and
// leave a torn file there beyond repair.
#pragma once

// The environment variable that holds the seconds a writer waits.
inline constexpr const char *kKvxLockWaitVariable = "KVX_LOCK_WAIT";

// Takes the writer's lock on the open file `fd`, waiting up to
// `wait_seconds` for another holder to let go.  A descriptor open for
// reading only takes the read lock, which a writer's lock excludes all the
// same.  Returns RoutineSucceeded, also when the lock cannot be had on this
// file (see above; the file is then used unlocked), or
// FileInUseByAnotherProcess when another open of the file still holds the
// lock after the wait.  The lock lasts until the file is closed.
[[nodiscard]] int kvx_lock_for_writing(int fd, long wait_seconds);

// The seconds a writer waits for the lock: KVX_LOCK_WAIT when it is a whole
// number from 0 to 86400 (longer values count as 86400), otherwise 0.
[[nodiscard]] long kvx_lock_wait_seconds();

// True when another open of the file behind `fd` holds the writer's lock
// (or any lock that excludes it): a run is writing the file.  Only looks:
// takes no lock, so a reader can ask.  False on a file system without such
// locks.
[[nodiscard]] bool kvx_writer_lock_held(int fd);
