#include "kvxio_lock.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "kvxio_errors.h"

namespace {

constexpr long kMaxWaitSeconds = 86400;

enum class Attempt { Locked, Busy, Unsupported };

Attempt try_lock(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however far it grows
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return Attempt::Locked;
  return errno == EAGAIN || errno == EACCES ? Attempt::Busy : Attempt::Unsupported;
}

}  // namespace

long kvx_lock_wait_seconds() {
  const char *text = std::getenv(kKvxLockWaitVariable);
  if (text == nullptr) return 0;
  const std::string_view digits(text);
  long seconds = 0;
  const auto [end, failure] =
      std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
  if (digits.empty() || end != digits.data() + digits.size()) return 0;
  if (failure == std::errc::result_out_of_range) return kMaxWaitSeconds;
  if (failure != std::errc() || seconds < 0) return 0;
  return seconds < kMaxWaitSeconds ? seconds : kMaxWaitSeconds;
}

int kvx_lock_for_writing(int fd) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(kvx_lock_wait_seconds());
  // Short pauses first: a queued run usually follows a short one.
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    switch (try_lock(fd)) {
      case Attempt::Locked:
      case Attempt::Unsupported:
        return RoutineSucceeded;
      case Attempt::Busy:
        break;
    }
    const auto now = Clock::now();
    if (now >= deadline) return FileInUseByAnotherProcess;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(200));
  }
}

bool kvx_writer_lock_held(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}
