// An image as an 8-bit grey-scale PNG.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "kvxinfo_image.h"
#include "kvxinfo_problem.h"

enum class KvxinfoScale { Linear, Log };

// Grey levels of the pixels, row by row.  The smallest pixel that is not a
// dummy is black (0), the largest white (255); in between linearly, or with
// Log by log(1 + value - minimum), which spreads the low values.  Dummy
// pixels (and pixels that are not finite numbers) are black and take no
// part in the minimum and maximum.  An image whose pixels all have one value
// is mid-grey (128).
std::vector<unsigned char> kvxinfo_grey_levels(const KvxinfoImage &image, KvxinfoScale scale);

// Writes grey levels of `width` x `height` pixels as a PNG file `out`.  The
// picture is written to a temporary file next to `out` and renamed to it
// when complete, so a failure leaves no partial file and an existing `out`
// unchanged.  An existing `out` must be a regular file, whose permission
// bits the picture keeps; a symbolic link, a device or any other file is
// refused and left as it is (the picture would replace it, not go through
// it).
[[nodiscard]] bool kvxinfo_write_png(const std::string &out, size_t width, size_t height,
                                     const std::vector<unsigned char> &grey,
                                     KvxinfoProblem &problem);

// While it lives, a stop signal (SIGINT, SIGTERM, SIGHUP) that ends the
// program removes the file `name` first, so that an interrupted picture
// leaves no temporary file behind.  A signal ignored before stays ignored.
// One at a time: the name is kept in process-wide storage that the signal
// handler can reach.
class KvxinfoRemoveOnStop {
 public:
  explicit KvxinfoRemoveOnStop(const std::string &name);
  ~KvxinfoRemoveOnStop();
  KvxinfoRemoveOnStop(const KvxinfoRemoveOnStop &) = delete;
  KvxinfoRemoveOnStop &operator=(const KvxinfoRemoveOnStop &) = delete;

 private:
  struct sigaction before_[3];
};

// Writes the PNG to an open stream (the standard output).  False with the
// reason in `what`.
[[nodiscard]] bool kvxinfo_put_png(std::FILE *f, size_t width, size_t height,
                                   const std::vector<unsigned char> &grey, std::string &what);
