// Opening and closing data files: the file table entries and their streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>
#include <utility>

#include "kvxio_internal.h"
#include "kvxio_lock.h"
#include "kvxio_scan.h"
#include "regular_file.h"

namespace kvxio {
namespace {

enum class OpenMode { New, Old, Any, Read, Temp, Unknown };

OpenMode parse_mode(const char *mode) {
  std::string_view text = mode != nullptr ? mode : "";
  if (text == "new") return OpenMode::New;
  if (text == "old") return OpenMode::Old;
  if (text == "any") return OpenMode::Any;
  if (text == "read") return OpenMode::Read;
  if (text == "temp") return OpenMode::Temp;
  return OpenMode::Unknown;
}

// Opens or creates the file of a "new" stream without emptying it yet:
// another writer may still be writing it.
void open_new_channel(Data_File &file) {
  file.Channel.reset(
      stream_on_descriptor(open_any_file(file.Name.c_str(), O_RDWR | O_CREAT), "w+b"));
}

// Opens the stream of `file` as `mode` asks and sets the file's flags; an
// existing file ("old", "read") has been opened as `existing` already.  A
// mode that opens no stream leaves the channel empty.
void open_channel(Data_File &file, OpenMode mode, FileDescriptor existing) {
  switch (mode) {
    case OpenMode::New:
      open_new_channel(file);
      break;
    case OpenMode::Temp:
      file.Flags.TemporaryFile = true;
      break;
    case OpenMode::Old:
      open_old_channel(file, false, existing.release());
      break;
    case OpenMode::Read:
      open_old_channel(file, true, existing.release());
      break;
    case OpenMode::Any:
      open_any_channel(file);
      break;
    case OpenMode::Unknown:
      break;
  }
}

// Makes the opened file this stream's alone to write: takes the writer's
// lock, then empties the file of a "new" stream.  A file that "any" has
// just made may have been written by another writer that took the lock
// first; it is then read as an existing file.
int claim_for_writing(Data_File &file, OpenMode mode) {
  if (file.Flags.ReadOnlyFile) return RoutineSucceeded;
  const int fd = fileno(file.Channel.get());
  const int locked = kvx_lock_for_writing(fd, kvx_lock_wait_seconds());
  if (locked != RoutineSucceeded) return locked;
  struct stat info {};
  if (fstat(fd, &info) != 0) return CouldNotOpenFile;
  // Only a regular file is emptied: a device cannot be cut, and an opening
  // that empties leaves it as it is.
  if (mode == OpenMode::New)
    return S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0 ? CouldNotOpenFile : RoutineSucceeded;
  if (info.st_size > 0) file.Flags.ExistingFile = true;
  return RoutineSucceeded;
}

// Gives the stream its own fully buffered buffer of 512 bytes.
int set_buffer(Data_File &file) {
  file.Buffer.reset(new (std::nothrow) char[BufferSize]);
  if (!file.Buffer) return CouldNotMallocMemory;
  if (std::setvbuf(file.Channel.get(), file.Buffer.get(), _IOFBF, BufferSize) != 0)
    return CouldNotSetBuffer;
  return RoutineSucceeded;
}

// Frees the file table entry of an open that a failed allocation breaks
// off (the public call reports it): the entry must not stay in use under a
// number that no caller received.
class EntryClaim {
 public:
  explicit EntryClaim(Data_File &file) : file_(file) {}
  EntryClaim(const EntryClaim &) = delete;
  EntryClaim &operator=(const EntryClaim &) = delete;
  ~EntryClaim() {
    if (std::uncaught_exceptions() > exceptions_) free_entry(file_);
  }

 private:
  Data_File &file_;
  const int exceptions_ = std::uncaught_exceptions();
};

// Opens `fname` as a KVX file; an existing file ("old", "read") has been
// opened as `existing` already.  Returns the stream number or -1 with the
// error value in `error`.
int open_kvx_file(const char *fname, OpenMode mode, FileDescriptor existing, int &error) {
  const int stream = take_free_entry(fname != nullptr ? fname : "");
  if (stream < 0) {
    error = NoMoreStreamsAvailable;
    return -1;
  }
  Data_File &file = *file_entry(stream);
  const EntryClaim claim(file);

  if (fname != nullptr) open_channel(file, mode, std::move(existing));
  if (!file.Flags.TemporaryFile) {
    error = file.Channel ? claim_for_writing(file, mode) : CouldNotOpenFile;
    if (error == RoutineSucceeded) error = set_buffer(file);
    if (error != RoutineSucceeded) {
      free_entry(file);
      return -1;
    }
  }
  if (create_general_block(file) == nullptr) {
    free_entry(file);
    error = ErrorCreatingGeneralBlock;
    return -1;
  }
  if (file.Flags.ExistingFile) {
    error = read_existing_file(file, mode == OpenMode::Old);
    if (error != RoutineSucceeded) {
      if (!free_entry(file)) error = CouldNotCloseFile;
      return -1;
    }
  } else {
    file.GeneralBlock->Flags.HeaderChanged = true;
  }
  error = RoutineSucceeded;
  return stream;
}

// Opens the existing file `fname` once and tells its kind from the open
// descriptor: a file that is not a KVX file is a BSL data set.  A BSL data
// set is only read, so "old" finds one also in a file it may not write.
int open_existing_file(const char *fname, OpenMode mode, int &error) {
  const bool read_only = mode == OpenMode::Read;
  FileDescriptor fd(fname != nullptr ? open_regular_file(fname, read_only ? O_RDONLY : O_RDWR)
                                     : -1);
  const bool unwritable = !fd.valid() && (errno == EACCES || errno == EROFS);
  int type = InValidDFType;
  if (fd.valid())
    type = data_descriptor_type(fd.get(), &error, nullptr);
  else if (!read_only && unwritable && data_file_type(fname, nullptr, nullptr) == BslType)
    type = BslType;
  else
    error = CouldNotOpenFile;
  if (type == KvxType) return open_kvx_file(fname, mode, std::move(fd), error);
  fd.reset();
  if (type == BslType) return open_as_bsl_file(fname, error);
  return -1;
}

}  // namespace
}  // namespace kvxio

int kvx_open_data_descriptor(int fd, const char *fname, int *pErrorValue, int *pstatus) {
  using namespace kvxio;
  trace_begin("kvx_open_data_descriptor");
  int stream = -1;
  const int error = guarded([&] {
    // A descriptor of the library's own on the same open file: the stream
    // closes it, and `fd` stays the caller's.
    FileDescriptor own(fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1);
    if (!own.valid()) return static_cast<int>(CouldNotOpenFile);
    int opened = RoutineSucceeded;
    if (data_descriptor_type(own.get(), &opened, nullptr) == KvxType)
      stream = open_kvx_file(fname != nullptr ? fname : "", OpenMode::Read, std::move(own), opened);
    else if (opened == RoutineSucceeded)
      opened = ErrorReadingGeneralBlock;
    return opened;
  });
  set_result(pErrorValue, pstatus, error);
  trace_end_status("kvx_open_data_descriptor", error);
  if (debug_level()) print_file_table(stdout);
  return stream;
}

int kvx_open_data_file(const char *fname, const char *mode, int *pErrorValue, int *pstatus) {
  using namespace kvxio;
  trace_begin("kvx_open_data_file");
  int stream = -1;
  const int error = guarded([&] {
    int opened = RoutineSucceeded;
    const OpenMode open_mode = parse_mode(mode);
    // With "old" and "read", a file that is not a KVX file is a BSL data set.
    if (open_mode == OpenMode::Old || open_mode == OpenMode::Read)
      stream = open_existing_file(fname, open_mode, opened);
    else
      stream = open_kvx_file(fname, open_mode, FileDescriptor(), opened);
    return opened;
  });
  set_result(pErrorValue, pstatus, error);
  trace_end_status("kvx_open_data_file", error);
  if (debug_level()) print_file_table(stdout);
  return stream;
}

int kvx_close_data_file(int stream, int *pErrorValue, int *pstatus) {
  using namespace kvxio;
  trace_begin("kvx_close_data_file");
  const int error = guarded([&]() -> int {
    // Numbers that name no entry (a failed open returns -1) close nothing.
    Data_File *file = file_entry(stream);
    if (file == nullptr || !file->Used) return RoutineSucceeded;
    const int written = disk_write_block(file->ActiveBlock);
    if (written != RoutineSucceeded) return written;
    file->ActiveBlock = nullptr;
    return free_entry(*file) ? RoutineSucceeded : CouldNotCloseFile;
  });
  trace_end_status("kvx_close_data_file", error);
  return report(error, pErrorValue, pstatus);
}
