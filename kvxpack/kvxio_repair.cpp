// Checking the block chain of a KVX file; cutting off a torn last block.
#include "kvxio_repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "kvxio_scan.h"
#include "numio.h"
#include "regular_file.h"

namespace {

using namespace kvxio;

// A file descriptor closed with the object.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A stream of its own on the descriptor, for the library's scanners.
ChannelPtr stream_on(int fd) {
  const int copy = dup(fd);
  if (copy < 0) return nullptr;
  ChannelPtr f(fdopen(copy, "rb"));
  if (!f) close(copy);
  return f;
}

void damaged(KvxChainCheck &check, uint64_t pos, const char *what) {
  check.State = KvxChainState::Damaged;
  check.DamagePos = pos;
  check.Damage = what;
}

void torn(KvxChainCheck &check, uint64_t pos, std::string block_key) {
  check.State = KvxChainState::TornLastBlock;
  check.DamagePos = pos;
  check.TornBlockKey = std::move(block_key);
}

// The block key of a "KVX_DataBlockID" value ("7.Image.Psd" -> "7").
std::string block_key_of(std::string_view id) { return std::string(id.substr(0, id.find('.'))); }

// A header that a writer was still putting out: the start of "{", entries
// and padding, cut off by the end of the file.  Header text holds "{" only
// at its start and "}" only in its end marker (values escape both), and
// every line ends with CR LF.  Binary data or a broken header fail these
// tests; so does text that is longer than the header size it states.
bool is_torn_header(std::string_view text, std::string &block_key) {
  if (text.find('\0') != std::string_view::npos || text.find('}') != std::string_view::npos ||
      text.find('{', text.find('{') + 1) != std::string_view::npos)
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] != '\n') return false;
  }
  const auto complete_value = [&](std::string_view key, std::string_view &value) {
    const std::string line = "\r\n" + std::string(key) + " = ";
    const size_t at = text.find(line);
    if (at == std::string_view::npos) return false;
    const size_t from = at + line.size();
    const size_t end = text.find(" ;\r\n", from);
    if (end == std::string_view::npos) return false;
    value = text.substr(from, end - from);
    return true;
  };
  std::string_view value;
  uint64_t stated = 0;
  if (complete_value("KVX_HeaderSize", value) && parse_unsigned(value, stated) &&
      text.size() >= stated)
    return false;
  if (complete_value("KVX_DataBlockID", value)) block_key = block_key_of(value);
  return true;
}

// True when a header starts at a grid point inside [from, to): a block
// behind the one whose binary section seems to run past the end of the
// file, which is then not torn but wrongly sized.  Bytes that cannot be
// read count as such a header: a cut needs certainty.
bool header_inside(std::FILE *f, uint64_t from, uint64_t to, uint64_t boundary) {
  constexpr std::string_view Start = "{\r\nKVX_";
  // Whole grid steps per read, so that every read starts on the grid.
  const uint64_t chunk = std::max<uint64_t>(1, (uint64_t{1} << 16) / boundary) * boundary;
  std::vector<char> bytes;
  for (uint64_t at = (from + boundary - 1) / boundary * boundary; at < to;) {
    const uint64_t end = std::min(to, at + chunk);
    bytes.resize(static_cast<size_t>(end - at));
    if (fseeko(f, static_cast<off_t>(at), SEEK_SET) != 0) return true;
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    for (size_t i = 0; i + Start.size() <= got; i += boundary)
      if (std::string_view(bytes.data() + i, Start.size()) == Start) return true;
    at = end;
  }
  return false;
}

// The bytes of data that a block's header asks for: for uncompressed data
// the array of its dimensions and data type ("Dim_n" read as integer
// expressions; FloatIEEE32 without "DataType"), at most its binary size;
// for compressed data, or without dimensions or a known type, the binary
// size.  False when a dimension cannot be read as a size.
bool data_needed(Data_Block &header, uint64_t binary_len, uint64_t &needed) {
  needed = binary_len;
  const auto value = [&](const std::string &key) -> std::optional<std::string> {
    const Symbol_Element *symbol = search_symbol(header, key);
    if (symbol == nullptr) return std::nullopt;
    return decode_value(symbol->Value);
  };
  if (const auto compression = value("Compression");
      compression && kvx_string2compression(compression->c_str()) != UnCompressed)
    return true;
  const auto type = value("DataType");
  uint64_t array = kvx_data_sizeof(type ? kvx_string2datatype(type->c_str()) : FloatIEEE32);
  if (array == 0) return true;
  int n = 1;
  for (auto dim = value("Dim_1"); dim; dim = value("Dim_" + std::to_string(++n))) {
    int errval = 0;
    const char *tail = nullptr;
    const long size = num_str2long(dim->c_str(), &tail, &errval);
    if (errval != 0 || tail == nullptr || tail[std::strspn(tail, " \t\r\n\f\v")] != '\0' ||
        size < 0)
      return false;
    if (__builtin_mul_overflow(array, static_cast<uint64_t>(size), &array)) return true;
  }
  if (n > 1) needed = std::min(needed, array);
  return true;
}

// Classifies the bytes from `start` (the end of the last whole block) to
// the end of the file, where the walk stopped.
int check_tail(std::FILE *f, uint64_t start, uint64_t boundary, KvxChainCheck &check) {
  const uint64_t length = check.FileSize;
  if (fseeko(f, static_cast<off_t>(start), SEEK_SET) != 0) return ReadDataError;
  const int head = check_start(f);
  if (head == -1) return RoutineSucceeded;  // nothing, or a line end, after the last block
  if (head != 0) {
    damaged(check, start, "no block starts here");
    return RoutineSucceeded;
  }
  const int end = search_end(f, start, boundary);
  if (end == -2) return ReadDataError;
  if (end == -1) {
    if (length - start > MaxHeaderSize) {
      damaged(check, start, "the header has no end");
      return RoutineSucceeded;
    }
    std::string text(static_cast<size_t>(length - start), '\0');
    if (fseeko(f, static_cast<off_t>(start), SEEK_SET) != 0 ||
        std::fread(text.data(), 1, text.size(), f) != text.size())
      return ReadDataError;
    std::string key;
    if (is_torn_header(text, key))
      torn(check, start, std::move(key));
    else
      damaged(check, start, "the header has no end");
    return RoutineSucceeded;
  }
  // A whole header: the block is torn when its binary section runs past
  // the end of the file, and nothing but data lies behind its header.
  const off_t header_end = ftello(f);
  Data_Block header;
  const bool read = header_end >= 0 && fseeko(f, static_cast<off_t>(start), SEEK_SET) == 0 &&
                    check_start(f) == 0 && get_symbol_list(f, header, true) == 0 &&
                    ftello(f) == header_end;
  const Symbol_Element *id = read ? search_symbol(header, "KVX_DataBlockID") : nullptr;
  const Symbol_Element *size = read ? search_symbol(header, "KVX_BinarySize") : nullptr;
  uint64_t binary_len = 0, binary_end = 0, needed = 0;
  const auto binary_pos = static_cast<uint64_t>(header_end);
  if (id == nullptr || size == nullptr || !parse_unsigned(decode_value(size->Value), binary_len) ||
      (!__builtin_add_overflow(binary_pos, binary_len, &binary_end) && binary_end <= length) ||
      !data_needed(header, binary_len, needed)) {
    damaged(check, start, "the block here cannot be read");
    return RoutineSucceeded;
  }
  // A writer puts out the data after the header: a block whose data are all
  // there was not cut short by a stopped writer, whatever its size says.
  if (length - binary_pos >= needed) {
    damaged(check, start, "the binary size of this block runs past the end of the file");
    return RoutineSucceeded;
  }
  if (header_inside(f, binary_pos, length, boundary)) {
    damaged(check, start, "the binary size of this block runs over the blocks behind it");
    return RoutineSucceeded;
  }
  torn(check, start, block_key_of(decode_value(id->Value)));
  return RoutineSucceeded;
}

// The first block whose header ends off the block grid, or null.
const Data_Block *off_grid_block(Data_File &file) {
  const Data_Block *first = nullptr;
  for (const Data_Chain &chain : file.ChainList)
    for (const Data_Block &block : chain.BlockList)
      if (block.Flags.DiskBlockUsed &&
          (block.TextPos + block.TextLen) % DefaultBlockBoundary != 0 &&
          (first == nullptr || block.TextPos < first->TextPos))
        first = &block;
  return first;
}

// The image numbers that blocks found on the walk hold more than once.
std::vector<KvxDuplicateImage> duplicates_of(const Data_File &file) {
  std::vector<KvxDuplicateImage> found;
  for (const Data_Block &earlier : file.Duplicates) {
    const std::string &chain = earlier.Chain != nullptr ? earlier.Chain->ChainKey : std::string();
    const auto same = [&](const KvxDuplicateImage &d) {
      return d.ChainKey == chain && compare_keys(d.BlockKey, earlier.BlockKey, NumberSort) == 0;
    };
    if (auto it = std::find_if(found.begin(), found.end(), same); it != found.end()) {
      ++it->Count;
      it->FirstPos = std::min(it->FirstPos, earlier.TextPos);
    } else {
      found.push_back({chain, earlier.BlockKey, 2, earlier.TextPos});
    }
  }
  std::sort(found.begin(), found.end(),
            [](const auto &a, const auto &b) { return a.FirstPos < b.FirstPos; });
  return found;
}

// Classifies where the walk of `file` stopped: behind its last block.  A
// header that ends off the block grid matters only to a writer.
int check_after_walk(Data_File &file, bool for_writer, KvxChainCheck &check) {
  check.Duplicates = duplicates_of(file);
  check.WholeEnd = end_of_blocks(file);
  if (for_writer && file.OffGridHeaderEnd) {
    const Data_Block *block = off_grid_block(file);
    damaged(check, block != nullptr ? block->TextPos : 0,
            "a header ends off the block grid: blocks appended behind it could not be found "
            "again");
    return RoutineSucceeded;
  }
  return check_tail(file.Channel.get(), check.WholeEnd, file.BlockBoundary, check);
}

// Walks the blocks of the open file `fd` and classifies where the walk
// stops.
int check_chain(int fd, const char *fname, KvxChainCheck &check) {
  check = KvxChainCheck{};
  Data_File file;
  reset_entry(file);
  file.Name = fname;
  file.Channel = stream_on(fd);
  if (!file.Channel) return ReadDataError;
  file.Flags.ExistingFile = true;
  file.Flags.ReadOnlyFile = true;
  if (create_general_block(file) == nullptr) return CouldNotMallocMemory;
  check.FileSize = file_length(file.Channel.get());
  // A first header that cannot be read leaves no whole block: the check
  // starts at the beginning of the file.
  if (read_general_block(file)) {
    for (;;) {
      const Locate located = locate_block(file, check.FileSize);
      if (located == Locate::Failed) return CouldNotMallocMemory;
      if (located != Locate::Located) break;
      ++check.Blocks;
    }
  }
  return check_after_walk(file, true, check);
}

// The same for a file that the library has opened for reading.
int check_open_file(int stream, KvxChainCheck &check) {
  check = KvxChainCheck{};
  int error = RoutineSucceeded;
  Data_File *file = used_file(stream, error);
  if (file == nullptr) return error;
  if (!file->Channel) return ReadDataError;
  check.FileSize = file_length(file->Channel.get());
  for (const Data_Chain &chain : file->ChainList)
    if (chain.ChainKey != GeneralChainKey)
      check.Blocks += chain.Written.size() +
                      static_cast<uint64_t>(std::count_if(
                          chain.BlockList.begin(), chain.BlockList.end(),
                          [](const Data_Block &block) { return block.Flags.DiskBlockUsed; }));
  check.Blocks += file->Duplicates.size();
  return check_after_walk(*file, false, check);
}

// The writer's lock: an open-file-description lock over the whole file,
// taken without waiting.  A descriptor open for reading only takes the
// read lock, which a writer's lock excludes all the same.
bool lock_whole_file(int fd, bool writable) {
  struct flock lock {};
  lock.l_type = writable ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

int repair(const char *fname, KvxRepair &repair) {
  repair = KvxRepair{};
  bool writable = true;
  int fd = open_regular_file(fname, O_RDWR);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    writable = false;
    fd = open_regular_file(fname, O_RDONLY);
  }
  const Descriptor file(fd);
  if (file.get() < 0) return CouldNotOpenFile;
  if (!lock_whole_file(file.get(), writable)) {
    if (errno != EAGAIN && errno != EACCES) return ReadDataError;
    repair.InUse = true;
    return RoutineSucceeded;
  }
  const int checked = check_chain(file.get(), fname, repair.Check);
  if (checked != RoutineSucceeded || repair.Check.State != KvxChainState::TornLastBlock ||
      !repair.Check.Duplicates.empty())
    return checked;
  if (!writable) return FileIsNotWritable;
  if (ftruncate(file.get(), static_cast<off_t>(repair.Check.WholeEnd)) != 0 ||
      fsync(file.get()) != 0)
    return WriteDataError;
  repair.Cut = true;
  return RoutineSucceeded;
}

}  // namespace

int kvx_check_block_chain(const char *fname, KvxChainCheck &check, int *pErrorValue, int *pstatus) {
  const int error = guarded([&] {
    const Descriptor file(fname != nullptr ? open_regular_file(fname, O_RDONLY) : -1);
    return file.get() < 0 ? CouldNotOpenFile : check_chain(file.get(), fname, check);
  });
  return report(error, pErrorValue, pstatus);
}

int kvx_check_stream_chain(int stream, KvxChainCheck &check, int *pErrorValue, int *pstatus) {
  const int error = guarded([&] { return check_open_file(stream, check); });
  return report(error, pErrorValue, pstatus);
}

int kvx_repair_block_chain(const char *fname, KvxRepair &repair_out, int *pErrorValue,
                           int *pstatus) {
  const int error =
      guarded([&] { return fname != nullptr ? repair(fname, repair_out) : CouldNotOpenFile; });
  return report(error, pErrorValue, pstatus);
}
