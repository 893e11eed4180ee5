// A KVX file opened for reading, closed with the object.
#pragma once

#include <cstddef>
#include <string>

#include "kvxinfo_problem.h"
#include "kvxio_browse.h"
#include "kvxio_pixels.h"

// Why `name` cannot be read as a file; empty when it can.  Only regular
// files are read: the blocks are found by seeking, and a pipe or a device
// would block the open or feed the header reader without end.
std::string kvxinfo_unreadable(const std::string &name);

class KvxinfoFile {
 public:
  KvxinfoFile() = default;
  ~KvxinfoFile();
  KvxinfoFile(const KvxinfoFile &) = delete;
  KvxinfoFile &operator=(const KvxinfoFile &) = delete;

  // Opens `name` read only.  Fails for a file that cannot be opened, a
  // directory, a file that is not a KVX file (other data sets the library
  // reads are refused too) and one whose first header cannot be read.
  [[nodiscard]] bool open(const std::string &name, KvxinfoProblem &problem);

  // The stream number of the open file.
  int stream() const { return stream_; }
  // The largest data array of one image that is read, in bytes.
  size_t max_image_bytes() const { return max_image_bytes_; }
  void set_max_image_bytes(size_t bytes) { max_image_bytes_ = bytes; }
  const std::string &name() const { return name_; }

  // The block of image `image` in chain 1; "no image <n>" when absent.
  [[nodiscard]] bool find_image(long image, KvxBlockInfo &block, KvxinfoProblem &problem) const;

 private:
  int stream_ = -1;
  std::string name_;
  size_t max_image_bytes_ = KvxDefaultMaxImageBytes;
};
