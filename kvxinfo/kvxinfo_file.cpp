// Opening a KVX file for reading.
#include "kvxinfo_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kvxinfo_damage.h"
#include "kvxio.h"
#include "kvxio_repair.h"
#include "regular_file.h"

namespace {

// Why open_regular_file could not open a file.
std::string open_failure(const char *kind, int failed) {
  return kind != nullptr ? "not a regular file" : std::strerror(failed);
}

}  // namespace

std::string kvxinfo_unreadable(const std::string &name) {
  const char *kind = nullptr;
  const FileDescriptor fd(open_regular_file(name.c_str(), O_RDONLY, &kind));
  return fd.valid() ? std::string() : open_failure(kind, errno);
}

namespace {

// A writer has begun the file's first block but not finished its header.
bool first_block_torn(const KvxinfoFile &file, KvxChainCheck &check) {
  return kvx_check_descriptor_chain(file.descriptor(), file.name().c_str(), check, nullptr,
                                    nullptr) == 1 &&
         check.State == KvxChainState::TornLastBlock;
}

}  // namespace

KvxinfoFile::~KvxinfoFile() {
  if (stream_ >= 0) kvx_close_data_file(stream_, nullptr, nullptr);
}

bool KvxinfoFile::open(const std::string &name, KvxinfoProblem &problem) {
  name_ = name;
  problem.file = name;
  const char *kind = nullptr;
  fd_.reset(open_regular_file(name.c_str(), O_RDONLY, &kind));
  if (!fd_.valid()) {
    problem.what = open_failure(kind, errno);
    return false;
  }
  if (data_descriptor_type(fd_.get(), nullptr, nullptr) != KvxType) {
    problem.what = "not a KVX file";
    return false;
  }
  int error = RoutineSucceeded;
  stream_ = kvx_open_data_descriptor(fd_.get(), name.c_str(), &error, nullptr);
  if (stream_ < 0) {
    KvxChainCheck check;
    if (error == ErrorReadingGeneralBlock && first_block_torn(*this, check))
      problem = kvxinfo_torn_problem(*this, check);
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
