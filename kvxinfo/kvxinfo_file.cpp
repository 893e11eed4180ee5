// Opening a KVX file for reading.
#include "kvxinfo_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kvxio.h"
#include "kvxio_repair.h"

std::string kvxinfo_unreadable(const std::string &name) {
  // Opened without waiting, so that a pipe cannot block before it is seen.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0) {
    const int failed = errno;  // a socket cannot be opened at all
    return stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)
               ? "not a regular file"
               : std::strerror(failed);
  }
  const int stated = fstat(fd, &info) == 0 ? 0 : errno;
  close(fd);
  if (stated != 0) return std::strerror(stated);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  return S_ISREG(info.st_mode) ? std::string() : "not a regular file";
}

namespace {

// A writer has begun the file's first block but not finished its header.
bool first_block_torn(const std::string &name) {
  KvxChainCheck check;
  return kvx_check_block_chain(name.c_str(), check, nullptr, nullptr) == 1 &&
         check.State == KvxChainState::TornLastBlock;
}

}  // namespace

KvxinfoFile::~KvxinfoFile() {
  if (stream_ >= 0) kvx_close_data_file(stream_, nullptr, nullptr);
}

bool KvxinfoFile::open(const std::string &name, KvxinfoProblem &problem) {
  name_ = name;
  problem.file = name;
  if (std::string why = kvxinfo_unreadable(name); !why.empty()) {
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
    problem.what = error != ErrorReadingGeneralBlock
                       ? "cannot be read as a KVX file (" + kvxinfo_error_name(error) + ")"
                   : first_block_torn(name) ? "its first block is incomplete: it is being "
                                              "written, or its writer was stopped"
                                            : "not a KVX file (its first header cannot be read)";
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
