// Opening a KVX file for reading.
#include "kvxinfo_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kvxinfo_damage.h"
#include "kvxio.h"
#include "kvxio_repair.h"
#include "regular_file.h"

std::string kvxinfo_unreadable(const std::string &name) {
  const char *kind = nullptr;
  const int fd = open_regular_file(name.c_str(), O_RDONLY, &kind);
  if (fd >= 0) {
    close(fd);
    return {};
  }
  const int failed = errno;
  struct stat info {};  // a socket cannot be opened at all
  if (kind != nullptr || (stat(name.c_str(), &info) == 0 && special_file_kind(info.st_mode)))
    return "not a regular file";
  return std::strerror(failed);
}

namespace {

// A writer has begun the file's first block but not finished its header.
bool first_block_torn(const std::string &name, KvxChainCheck &check) {
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
    KvxChainCheck check;
    if (error == ErrorReadingGeneralBlock && first_block_torn(name, check))
      problem = kvxinfo_torn_problem(name, check);
    else
      problem.what = error != ErrorReadingGeneralBlock
                         ? "cannot be read as a KVX file (" + kvxinfo_error_name(error) + ")"
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
