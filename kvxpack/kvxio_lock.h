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
// By default a writer that finds the file locked gives up at once.  The
// environment variable KVX_LOCK_WAIT, a whole number of seconds, lets it
// wait that long for the other writer to finish instead.
#pragma once

// The environment variable that holds the seconds a writer waits.
inline constexpr const char *kKvxLockWaitVariable = "KVX_LOCK_WAIT";

// Takes the writer's lock on the open file `fd` (open for writing), waiting
// as KVX_LOCK_WAIT allows.  Returns RoutineSucceeded, also on a file system
// that does not offer such locks (the file is then written unlocked, as
// before there were locks), or FileInUseByAnotherProcess when another open
// of the file still holds the lock after the wait.  The lock lasts until
// the file is closed.
[[nodiscard]] int kvx_lock_for_writing(int fd);

// The seconds a writer waits for the lock: KVX_LOCK_WAIT when it is a whole
// number from 0 to 86400 (longer values count as 86400), otherwise 0.
[[nodiscard]] long kvx_lock_wait_seconds();

// True when another open of the file behind `fd` holds the writer's lock
// (or any lock that excludes it): a run is writing the file.  Only looks:
// takes no lock, so a reader can ask.  False on a file system without such
// locks.
[[nodiscard]] bool kvx_writer_lock_held(int fd);
