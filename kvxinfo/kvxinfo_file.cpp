// Opening a KVX file for reading.
#include "kvxinfo_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kvxio.h"

namespace {

// Why `name` cannot be read as a file; empty when it can.  Only regular
// files are read: the blocks are found by seeking, and a pipe or a device
// would block the open or feed the header reader without end.
std::string unreadable(const std::string &name) {
  struct stat info {};
  if (stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
    return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
  std::FILE *f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return std::strerror(errno);
  std::fclose(f);
  return {};
}

}  // namespace

KvxinfoFile::~KvxinfoFile() {
  if (stream_ >= 0) kvx_close_data_file(stream_, nullptr, nullptr);
}

bool KvxinfoFile::open(const std::string &name, KvxinfoProblem &problem) {
  name_ = name;
  problem.file = name;
  if (std::string why = unreadable(name); !why.empty()) {
    problem.what = why;
    return false;
  }
  if (data_file_type(name.c_str(), nullptr, nullptr) != KvxType) {
    problem.what = "not a KVX file";
    return false;
  }
  int error = RoutineSucceeded;
  stream_ = kvx_open_data_file(name.c_str(), "read", &error, nullptr);
  if (stream_ < 0) {
    problem.what = error == ErrorReadingGeneralBlock
                       ? "not a KVX file (its first header cannot be read)"
                       : "cannot be read as a KVX file (" + kvxinfo_error_name(error) + ")";
    return false;
  }
  return true;
}

bool KvxinfoFile::find_image(long image, KvxBlockInfo &block, KvxinfoProblem &problem) const {
  problem.file = name_;
  int error = RoutineSucceeded;
  if (kvx_find_block(stream_, image, 1, block, &error, nullptr)) return true;
  problem.what = error == CouldNotFindHeader
                     ? "no image " + std::to_string(image)
                     : "image " + std::to_string(image) + ": " + kvxinfo_error_name(error);
  return false;
}
