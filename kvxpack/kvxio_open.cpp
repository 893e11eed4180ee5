// Opening existing files: the streams of the modes "old", "any" and "read",
// the file type test, the structure of an existing KVX file, and BSL data
// sets seen as KVX files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <string>

#include "bslio.h"
#include "kvxio_scan.h"
#include "regular_file.h"

namespace kvxio {
namespace {

// A file that is written to must not hold a header that ends off the block
// grid: the next block would be read as part of that header.
int refuse_off_grid_header_end(const Data_File &file) {
  if (file.Flags.ReadOnlyFile || !file.OffGridHeaderEnd) return RoutineSucceeded;
  print_file_error(file, 0,
                   "A header ends off the block grid; blocks appended to this file could not be "
                   "found again, so the file is left unchanged");
  return ErrorLocatingBlocks;
}

// The message for a file whose blocks cannot all be located.  A run that
// was killed in the middle of a block leaves exactly such a file; kvxinfo
// cuts a torn last block off under the writer's lock.
std::string repair_hint(const Data_File &file) {
  return "The blocks from here on cannot be located; the file is left unchanged.\n"
         "   If a run stopped in the middle of a block, \"kvxinfo --repair " +
         file.Name + "\" removes that block.";
}

// Walks the blocks behind the first header.  A defect ends the walk; unless
// the file is only read, the open then fails: the next block would be
// written over the defect and over every block behind it.
int locate_blocks(Data_File &file) {
  const uint64_t length = file_length(file.Channel.get());
  for (;;) {
    const off_t pos = ftello(file.Channel.get());
    switch (locate_block(file, length)) {
      case Locate::Located:
        continue;
      case Locate::EndOfFile:
        return refuse_off_grid_header_end(file);
      case Locate::Failed:
        return ErrorLocatingBlocks;
      case Locate::Defect:
        if (file.Flags.ReadOnlyFile) return RoutineSucceeded;
        print_file_error(file, pos < 0 ? 0 : static_cast<uint64_t>(pos), repair_hint(file).c_str());
        return ErrorLocatingBlocks;
    }
  }
}

// One block of a BSL frame: external data, header kept in memory.
bool add_bsl_frame(Data_Chain &chain, long frame, const BslDataSpec &desc) {
  Data_Block *block = insert_block(chain, std::to_string(frame));
  if (block == nullptr) return false;
  block->BinaryFileName = desc.BinaryFileName;
  block->BinaryFilePos = desc.BinaryFilePos;
  block->BinaryFileLen = desc.BinaryFileLen;
  block->Flags.InternalHeader = true;
  block->Flags.DataExternal = true;
  for (size_t n = 1; n < desc.Dim.size(); ++n)
    if (insert_symbol(*block, "Dim_" + std::to_string(n), std::to_string(desc.Dim[n])) == nullptr)
      return false;
  const int byte_order = settings().BslInputByteOrder != 0 ? settings().BslInputByteOrder
                                                           : static_cast<int>(desc.ByteOrder);
  return insert_symbol(*block, "DataType", kvx_datatype2string(static_cast<int>(desc.DataType))) &&
         insert_symbol(*block, "ByteOrder", ByteOrder2String(byte_order)) &&
         insert_symbol(*block, "DataRasterConfiguration",
                       std::to_string(desc.RasterConfiguration)) &&
         insert_symbol(*block, "Compression",
                       kvx_compression2string(static_cast<int>(desc.Compression)));
}

// Chains and blocks of every memory and frame of an open BSL stream.
bool add_bsl_memories(Data_File &file, int bsl) {
  long first = 0, last = 0;
  if (bsl_memory_range(bsl, &first, &last) != 0) return true;  // no memories
  for (long memory = first; memory <= last; ++memory) {
    long low = 0, high = 0;
    if (bsl_frame_range(bsl, memory, &low, &high) != 0) continue;
    if (memory < INT32_MIN || memory > INT32_MAX) return false;
    Data_Chain *chain = insert_chain(file, chain_key(file, static_cast<int>(memory)));
    if (chain == nullptr) return false;
    for (long frame = low; frame <= high; ++frame) {
      const BslDataSpec *desc = read_bsl_data_spec(bsl, memory, frame);
      if (desc != nullptr && !add_bsl_frame(*chain, frame, *desc)) return false;
    }
  }
  return true;
}

// Describes the BSL data set in the entry; the error value on failure.
int read_bsl_into(Data_File &file) {
  const int bsl = open_bsl_file(file.Name.c_str(), "read");
  if (bsl < 0) return CannotOpenAsBslFile;
  const char *title = nullptr, *subtitle = nullptr;
  read_bsl_file_headers(bsl, &title, &subtitle);
  Data_Block *general = create_general_block(file);
  bool described = general != nullptr;
  if (described) {
    general->Flags.InternalHeader = true;
    general->Flags.InternalData = true;
    described = insert_string(*general, "Title", title) &&
                insert_string(*general, "SubTitle", subtitle) && add_bsl_memories(file, bsl);
  }
  if (close_bsl_file(bsl) != 0 || !described) return CannotOpenAsBslFile;
  file.Channel.reset(stream_on_descriptor(open_regular_file(file.Name.c_str(), O_RDONLY), "rb"));
  if (!file.Channel) return CouldNotOpenFile;
  file.Buffer.reset(new (std::nothrow) char[BufferSize]);
  if (!file.Buffer) return CouldNotMallocMemory;
  if (std::setvbuf(file.Channel.get(), file.Buffer.get(), _IOFBF, BufferSize) != 0)
    return CouldNotSetBuffer;
  file.Flags.ExistingFile = true;
  file.Flags.ReadOnlyFile = true;
  return RoutineSucceeded;
}

}  // namespace

void open_old_channel(Data_File &file, bool read_only, int fd) {
  file.Channel.reset(stream_on_descriptor(fd, read_only ? "rb" : "r+b"));
  file.Flags.ExistingFile = true;
  file.Flags.ReadOnlyFile = read_only;
}

void open_any_channel(Data_File &file) {
  // Two rounds: a file that appears between the attempts is opened as it is.
  for (int round = 0; round < 2; ++round) {
    file.Channel.reset(stream_on_descriptor(open_any_file(file.Name.c_str(), O_RDWR), "r+b"));
    if (file.Channel) {
      file.Flags.ExistingFile = true;
      return;
    }
    if (errno != ENOENT) return;
    file.Channel.reset(
        stream_on_descriptor(open_any_file(file.Name.c_str(), O_RDWR | O_CREAT | O_EXCL), "w+b"));
    if (file.Channel || errno != EEXIST) return;
  }
}

int read_existing_file(Data_File &file, bool must_hold_block) {
  if (!read_general_block(file)) return ErrorReadingGeneralBlock;
  if (file.LastBlockInFile != nullptr && !file.Flags.NoGeneralHeader) {
    file.GeneralBlock->SequenceNumber = file.NextSequenceNumber++;
  }
  const int located = locate_blocks(file);
  if (located != RoutineSucceeded) return located;
  if (must_hold_block && file.LastBlockInFile == nullptr) return CouldNotFindHeader;
  return RoutineSucceeded;
}

int open_as_bsl_file(const char *fname, int &error) {
  const int stream = take_free_entry(fname);
  if (stream < 0) {
    error = NoMoreStreamsAvailable;
    return -1;
  }
  Data_File &file = *file_entry(stream);
  error = read_bsl_into(file);
  if (error == RoutineSucceeded) return stream;
  free_entry(file);
  return -1;
}

void print_file_table(std::FILE *out) {
  for (int stream = 0; stream < MaxFiles; ++stream) {
    const Data_File &file = *file_entry(stream);
    if (!file.Used) continue;
    std::fprintf(out, " Stream %d: \"%s\"\n", stream, file.Name.c_str());
    std::fprintf(out, "   Version %u.%02u, BlockBoundary %lu, NextSequenceNumber %lu\n",
                 file.Version.Major, file.Version.Minor,
                 static_cast<unsigned long>(file.BlockBoundary),
                 static_cast<unsigned long>(file.NextSequenceNumber));
    std::fprintf(out, "   ExistingFile %d, ReadOnlyFile %d, TemporaryFile %d, NoGeneralHeader %d\n",
                 file.Flags.ExistingFile, file.Flags.ReadOnlyFile, file.Flags.TemporaryFile,
                 file.Flags.NoGeneralHeader);
    std::fprintf(out, "   LastBlockInFile %s\n",
                 file.LastBlockInFile != nullptr ? block_id(*file.LastBlockInFile) : "(none)");
    for (const Data_Chain &chain : file.ChainList)
      std::fprintf(out, "   Chain %s: %zu blocks\n", chain.ChainKey.c_str(),
                   chain.BlockList.size() + chain.Written.size());
  }
}

}  // namespace kvxio

int data_file_type(const char *fname, int *pErrorValue, int *pstatus) {
  const FileDescriptor fd(fname != nullptr ? open_regular_file(fname, O_RDONLY) : -1);
  return data_descriptor_type(fd.get(), pErrorValue, pstatus);
}

int data_descriptor_type(int fd, int *pErrorValue, int *pstatus) {
  using namespace kvxio;
  // The start is read through a stream of its own on the same open file,
  // from the beginning, and the file is left at its beginning again for
  // the stream that reads it next.
  struct stat info {};
  const bool regular = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ChannelPtr f(regular && lseek(fd, 0, SEEK_SET) == 0
                   ? stream_on_descriptor(fcntl(fd, F_DUPFD_CLOEXEC, 0), "rb")
                   : nullptr);
  if (!f) {
    set_result(pErrorValue, pstatus, CouldNotOpenFile);
    return InValidDFType;
  }
  const HeaderStart start = check_start(f.get());
  f.reset();
  if (lseek(fd, 0, SEEK_SET) != 0) {
    set_result(pErrorValue, pstatus, CouldNotOpenFile);
    return InValidDFType;
  }
  set_result(pErrorValue, pstatus, RoutineSucceeded);
  return start == HeaderStart::Found || start == HeaderStart::EndOfFile ? KvxType : BslType;
}
