// Grey levels of an image and their PNG file.
#include "kvxinfo_png.h"

#include <png.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>

namespace {

constexpr unsigned char Black = 0;
constexpr unsigned char White = 255;
constexpr unsigned char FlatGrey = 128;

struct Range {
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
};

Range range_of(const KvxinfoImage &image) {
  Range range;
  for (size_t i = 0; i < image.pixels(); ++i) {
    const double v = image.value(i);
    if (image.is_dummy(v)) continue;
    range.min = std::min(range.min, v);
    range.max = std::max(range.max, v);
  }
  return range;
}

// log(1 + d) of a difference d given as d / 2, also where d itself would
// not be finite.
double log_of_difference(double half) {
  const double whole = 2 * half;
  return std::isfinite(whole) ? std::log1p(whole) : std::log(half) + std::log(2.0);
}

// The permissions a new file gets from the process's umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The permission bits the picture gets when it replaces `out`: those of an
// existing regular file, else those of a new file.  Empty `what` unless
// `out` names something that is not a regular file.
mode_t target_mode(const std::string &out, std::string &what) {
  struct stat info {};
  if (lstat(out.c_str(), &info) != 0) return new_file_mode();
  if (S_ISLNK(info.st_mode))
    what =
        "is a symbolic link; the picture does not replace it (\"--png -\" writes to the "
        "standard output)";
  else if (S_ISDIR(info.st_mode))
    what = std::string("cannot be written: ") + std::strerror(EISDIR);
  else if (!S_ISREG(info.st_mode))
    what =
        "is not a regular file; the picture does not replace it (\"--png -\" writes to the "
        "standard output)";
  return info.st_mode & 0777;
}

// Writes the PNG into an open stream.
bool write_stream(std::FILE *f, size_t width, size_t height, const std::vector<unsigned char> &grey,
                  std::string &what) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = PNG_FORMAT_GRAY;
  const bool written =
      png_image_write_to_stdio(&png, f, 0, grey.data(), static_cast<png_int_32>(width), nullptr);
  // A failed write of the file says more than libpng's "Write Error".
  if (!written) what = std::ferror(f) ? std::strerror(errno) : png.message;
  png_image_free(&png);
  return written;
}

constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The file a stop signal removes; empty when none.  A fixed buffer, as the
// signal handler may not allocate.
char gRemoveOnStop[PATH_MAX];

void remove_and_stop(int signal) {
  unlink(gRemoveOnStop);
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // delivered, with its usual effect, when the handler returns
}

}  // namespace

KvxinfoRemoveOnStop::KvxinfoRemoveOnStop(const std::string &name) {
  if (name.size() < sizeof gRemoveOnStop) std::memcpy(gRemoveOnStop, name.c_str(), name.size() + 1);
  struct sigaction action {};
  action.sa_handler = remove_and_stop;
  sigemptyset(&action.sa_mask);
  for (size_t n = 0; n < std::size(StopSignals); ++n) {
    sigaction(StopSignals[n], nullptr, &before_[n]);
    if (before_[n].sa_handler != SIG_IGN) sigaction(StopSignals[n], &action, nullptr);
  }
}

KvxinfoRemoveOnStop::~KvxinfoRemoveOnStop() {
  for (size_t n = 0; n < std::size(StopSignals); ++n)
    sigaction(StopSignals[n], &before_[n], nullptr);
  gRemoveOnStop[0] = '\0';
}

std::vector<unsigned char> kvxinfo_grey_levels(const KvxinfoImage &image, KvxinfoScale scale) {
  const Range range = range_of(image);
  // Halves keep the differences finite even across the whole double range.
  const double half_span = range.max / 2 - range.min / 2;
  const double log_span = log_of_difference(half_span);
  std::vector<unsigned char> grey(image.pixels(), Black);
  for (size_t i = 0; i < grey.size(); ++i) {
    const double v = image.value(i);
    if (image.is_dummy(v)) continue;
    if (!(half_span > 0.0)) {
      grey[i] = FlatGrey;
      continue;
    }
    const double half = v / 2 - range.min / 2;
    const double share =
        scale == KvxinfoScale::Log ? log_of_difference(half) / log_span : half / half_span;
    grey[i] = static_cast<unsigned char>(std::lround(std::clamp(share, 0.0, 1.0) * White));
  }
  return grey;
}

bool kvxinfo_put_png(std::FILE *f, size_t width, size_t height,
                     const std::vector<unsigned char> &grey, std::string &what) {
  if (!write_stream(f, width, height, grey, what)) return false;
  if (std::fflush(f) == 0) return true;
  what = std::strerror(errno);
  return false;
}

bool kvxinfo_write_png(const std::string &out, size_t width, size_t height,
                       const std::vector<unsigned char> &grey, KvxinfoProblem &problem) {
  problem.file = out;
  const mode_t mode = target_mode(out, problem.what);
  if (!problem.what.empty()) return false;
  std::string temporary = out + ".XXXXXX";
  // A stop signal between the creation of the temporary and its remover
  // would leave it behind: the signals wait until both are done.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (const int signal : StopSignals) sigaddset(&stops, signal);
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  const int fd = mkstemp(temporary.data());
  const int failed = errno;
  std::optional<KvxinfoRemoveOnStop> guard;
  if (fd >= 0) guard.emplace(temporary);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) {
    problem.what = std::string("cannot be written: ") + std::strerror(failed);
    return false;
  }
  std::string what;
  std::FILE *f = fdopen(fd, "wb");
  bool done = f != nullptr && fchmod(fd, mode) == 0 && write_stream(f, width, height, grey, what) &&
              std::fflush(f) == 0 && fsync(fd) == 0;
  if (what.empty() && !done) what = std::strerror(errno);
  if (f != nullptr ? std::fclose(f) != 0 : close(fd) != 0) {
    if (done) what = std::strerror(errno);
    done = false;
  }
  if (done && std::rename(temporary.c_str(), out.c_str()) != 0) {
    what = std::strerror(errno);
    done = false;
  }
  if (!done) {
    std::remove(temporary.c_str());
    problem.what = "cannot be written: " + what;
  }
  return done;
}
