// Looking into an open KVX file: blocks in file order, headers in file
// order, raw binary data.
#include "kvxio_browse.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <string_view>
#include <tuple>

#include "kvxio_scan.h"
#include "regular_file.h"

namespace {

using namespace kvxio;

bool is_data_block_on_disk(const Data_Block &block) {
  return block.Flags.DiskBlockUsed && block.Chain != nullptr &&
         block.Chain->ChainKey != GeneralChainKey;
}

KvxBlockInfo info_of(const Data_Block &block) {
  KvxBlockInfo info;
  info.ChainKey = block.Chain->ChainKey;
  info.BlockKey = block.BlockKey;
  info.HeaderPos = block.TextPos;
  info.HeaderSize = block.TextLen;
  info.BinaryPos = block.BinaryPos;
  info.BinarySize = block.BinaryLen;
  info.BinaryFileName = block.BinaryFileName;
  info.BinaryFilePos = block.BinaryFilePos;
  info.BinaryFileLen = block.BinaryFileLen;
  return info;
}

// The in-memory block that `info` names, or null with CouldNotFindHeader.
Data_Block *block_of(Data_File &file, const KvxBlockInfo &info, int &error) {
  Data_Chain *chain = search_chain(file, info.ChainKey);
  Data_Block *block = chain != nullptr ? search_block(*chain, info.BlockKey) : nullptr;
  // An earlier block of the same key is told apart by its place.
  if (block != nullptr && block->TextPos != info.HeaderPos)
    for (Data_Block &earlier : file.Duplicates)
      if (earlier.Chain == chain && earlier.TextPos == info.HeaderPos) block = &earlier;
  if (block == nullptr || !is_data_block_on_disk(*block)) {
    error = CouldNotFindHeader;
    return nullptr;
  }
  return block;
}

// The base key of a continuation key ("Title~2" -> "Title").
std::string_view base_of(std::string_view key) { return key.substr(0, key.find('~')); }

// The entries of a block in file order (symbols without a file position
// keep their list order), each base key with the pieces of its continuation
// keys joined as search_general joins them: "~1", "~2", ... up to the first
// one missing.  The sorted list holds a key's continuation keys directly
// after it, lowest number first, so one walk finds them.  `format_keys`
// false leaves out the "KVX_" keys.
std::vector<KvxHeaderEntry> entries_of(Data_Block &block, bool format_keys) {
  struct Listed {
    uint64_t pos;
    KvxHeaderEntry entry;
  };
  std::vector<Listed> listed;
  settle_header(block);
  auto &symbols = block.SymbolList;
  for (auto it = symbols.begin(); it != symbols.end();) {
    std::string value = decode_value(it->Value);
    const Symbol_Element &symbol = *it++;
    if (continuation_depth(symbol.Key) == 0) {
      for (long n = 1; it != symbols.end() && continuation_depth(it->Key) == n &&
                       compare_keys(base_of(it->Key), symbol.Key, UpperCaseSort) == 0;
           ++n, ++it)
        value += decode_value(it->Value);
    }
    if (format_keys || !is_format_key(symbol.Key))
      listed.push_back({symbol.KeyPos, {symbol.Key, std::move(value)}});
  }
  // Positions are sorted, not the entries: moving their texts costs more.
  std::vector<Listed *> in_file_order;
  in_file_order.reserve(listed.size());
  for (Listed &item : listed) in_file_order.push_back(&item);
  std::stable_sort(in_file_order.begin(), in_file_order.end(),
                   [](const Listed *a, const Listed *b) { return a->pos < b->pos; });
  std::vector<KvxHeaderEntry> entries;
  entries.reserve(listed.size());
  for (Listed *item : in_file_order) entries.push_back(std::move(item->entry));
  return entries;
}

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};

// The header text of `block` in one read.  The padding before the end
// marker is dropped: the tokenizer would only skip it byte by byte, and a
// walk over a file of many blocks would spend most of its time there.
bool read_header_text(std::FILE *f, const Data_Block &block, ByteWindow &text) {
  constexpr std::string_view EndMarker = "\r\n}\n";
  if (block.TextLen <= EndMarker.size() ||
      fseeko(f, static_cast<off_t>(block.TextPos), SEEK_SET) != 0)
    return false;
  std::vector<unsigned char> &bytes = text.Bytes;
  bytes.resize(block.TextLen);
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) return false;
  if (std::equal(EndMarker.rbegin(), EndMarker.rend(), bytes.rbegin())) {
    const size_t body = bytes.size() - EndMarker.size();
    size_t kept = body;
    while (kept > 0 &&
           (bytes[kept - 1] == ' ' || bytes[kept - 1] == '\r' || bytes[kept - 1] == '\n'))
      --kept;
    // A "}" in the padding is no end of the header unless a line end
    // follows it: the two bytes behind it stay, or the marker would
    // complete it.
    if (kept > 0 && bytes[kept - 1] == '}') kept = std::min(kept + 2, body);
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(kept),
                bytes.begin() + static_cast<std::ptrdiff_t>(body));
  }
  return true;
}

// Tokenizes a header text held in memory.  The entries are those of
// get_symbol_list, inserted in about the order of the symbol list, where
// each lands at the list's end at once; in file order every insertion would
// walk the list.  The order is the list's own comparison, computed once per
// key: KVX_ keys first, then the comparison text with continuation keys
// after their base key.  Keys that compare equal keep their file order, so
// the last value wins as it does there.
bool parse_header_text(ByteWindow &text, Data_Block &scratch) {
  struct Token {
    std::string key, value;
    uint64_t key_pos = 0, value_pos = 0;
    std::tuple<bool, std::string, long> order;
  };
  if (check_start(text) != HeaderStart::Found) return false;
  std::vector<Token> tokens;
  for (Token token;;) {
    const KeyRead got = get_key(text, token.key, token.key_pos);
    if (got == KeyRead::HeaderEnd) break;
    if (got == KeyRead::Broken || !get_val(text, token.value, token.value_pos)) return false;
    if (token.key.find_first_not_of(' ') == std::string::npos) continue;
    const long depth = continuation_depth(token.key);
    const std::string_view key = token.key;
    token.order = {!is_format_key(key),
                   keyorder_text(depth > 0 ? key.substr(0, key.find('~')) : key), depth};
    tokens.push_back(std::move(token));
  }
  std::vector<const Token *> sorted;
  sorted.reserve(tokens.size());
  for (const Token &token : tokens) sorted.push_back(&token);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Token *a, const Token *b) { return a->order < b->order; });
  for (const Token *each : sorted) {
    const Token &token = *each;
    Symbol_Element *symbol = insert_symbol(scratch, token.key, token.value);
    if (symbol == nullptr) return false;
    symbol->KeyPos = token.key_pos;
    symbol->ValPos = token.value_pos;
  }
  return true;
}

// Reads the header of a block that lies in the file into `scratch`, without
// keeping it in the block.  The text is read in one piece and tokenized
// within the header's own bytes.
bool read_header_copy(Data_File &file, const Data_Block &block, Data_Block &scratch) {
  std::FILE *f = file.Channel.get();
  ByteWindow text;
  return f != nullptr && read_header_text(f, block, text) && parse_header_text(text, scratch);
}

// The header of a block that lies in the file, with the general block's
// entries as defaults.
int header_of(Data_File &file, Data_Block &block, KvxBlockHeader &header) {
  header = KvxBlockHeader{};
  if (block.Flags.HeaderExternal) {
    Data_Block scratch;
    scratch.BlockKey = block.BlockKey;
    if (!read_header_copy(file, block, scratch)) return ReadDataError;
    header.Entries = entries_of(scratch, true);
  } else {
    header.Entries = entries_of(block, true);
  }
  if (file.GeneralBlock != nullptr && !file.GeneralBlock->Flags.HeaderExternal)
    header.Defaults = entries_of(*file.GeneralBlock, false);
  return RoutineSucceeded;
}

int read_block_header(int stream, const KvxBlockInfo &info, KvxBlockHeader &header) {
  int error = RoutineSucceeded;
  Data_File *file = used_file(stream, error);
  if (file == nullptr) return error;
  Data_Block *block = block_of(*file, info, error);
  return block != nullptr ? header_of(*file, *block, header) : error;
}

int visit_blocks(int stream, const KvxBlockVisitor &visit) {
  int error = RoutineSucceeded;
  Data_File *file = used_file(stream, error);
  if (file == nullptr) return error;
  // A block written in this session may be kept as a record of its chain's
  // table: it is made whole for its visit only.
  struct OnDisk {
    uint64_t pos;
    Data_Block *block;
    Data_Chain *chain;
    const Written_Block *written;
  };
  std::vector<OnDisk> on_disk;
  for (Data_Chain &chain : file->ChainList) {
    for (Data_Block &block : chain.BlockList)
      if (is_data_block_on_disk(block)) on_disk.push_back({block.TextPos, &block, &chain, nullptr});
    if (chain.ChainKey != GeneralChainKey)
      for (const Written_Block &record : chain.Written)
        on_disk.push_back({record.TextPos, nullptr, &chain, &record});
  }
  for (Data_Block &earlier : file->Duplicates)
    on_disk.push_back({earlier.TextPos, &earlier, earlier.Chain, nullptr});
  std::stable_sort(on_disk.begin(), on_disk.end(),
                   [](const OnDisk &a, const OnDisk &b) { return a.pos < b.pos; });
  for (const OnDisk &each : on_disk) {
    Data_Block whole;
    if (each.written != nullptr) whole = written_block(*each.chain, *each.written);
    Data_Block &block = each.block != nullptr ? *each.block : whole;
    KvxBlockHeader header;
    const int read = guarded([&] { return header_of(*file, block, header); });
    if (!visit(info_of(block), read == RoutineSucceeded ? &header : nullptr, read)) break;
  }
  return RoutineSucceeded;
}

// Bytes of data that the block holds from its data position on.  A separate
// file may be shorter than its header states: what it really holds counts.
uint64_t data_available(const Data_Block &block, std::FILE *external) {
  if (external == nullptr) return block.BinaryLen;
  const uint64_t length = file_length(external);
  const uint64_t held = length > block.BinaryFilePos ? length - block.BinaryFilePos : 0;
  return block.BinaryFileLen != 0 ? std::min(held, block.BinaryFileLen) : held;
}

// Where a block's data lie: the block, and the stream to read them from
// (its separate binary file, opened here, or the KVX file itself).
struct BlockData {
  Data_Block *block = nullptr;
  std::unique_ptr<std::FILE, FileCloser> external;
  std::FILE *f = nullptr;
};

// Opens `relative` in the directory `dir` so that neither "..", an absolute
// name nor a symbolic link leads out of it (EXDEV when one would).
int open_beneath(const std::string &dir, const std::string &relative, int flags) {
  const int dirfd = open(dir.empty() ? "." : dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return -1;
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH;
  const int fd = static_cast<int>(syscall(SYS_openat2, dirfd, relative.c_str(), &how, sizeof how));
  const int failed = errno;
  close(dirfd);
  errno = failed;
  return fd;
}

// Opens the separate binary file of a block: a regular file, opened without
// waiting on a pipe or a device, and one in the KVX file's directory unless
// files outside are allowed.  The name was made from the directory and the
// header's name; an absolute name in the header was kept as it is.
int open_binary_file(const Data_File &file, const Data_Block &block, std::FILE *&f) {
  constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const std::string &name = block.BinaryFileName;
  // The system would take the name as ending at a zero byte: another file.
  if (name.find('\0') != std::string::npos) return CouldNotOpenFile;
  int fd = -1;
  if (settings().BinaryFilesOutside != 0) {
    fd = open_any_file(name.c_str(), flags);
  } else {
    const std::string dir = directory_of(file.Name);
    fd = open_beneath(dir, name.starts_with(dir) ? name.substr(dir.size()) : name, flags);
    if (fd < 0 && errno == EXDEV) return BinaryFileOutside;
  }
  // "data.bin/" names a directory, which a regular file is not.
  if (fd < 0) return errno == ENOTDIR ? NotARegularFile : CouldNotOpenFile;
  fd = keep_regular_file(fd);
  if (fd < 0) return errno == EISDIR || errno == EINVAL ? NotARegularFile : CouldNotOpenFile;
  f = stream_on_descriptor(fd, "rb");
  return f == nullptr ? CouldNotOpenFile : RoutineSucceeded;
}

int open_block_data(int stream, const KvxBlockInfo &info, BlockData &data) {
  int error = RoutineSucceeded;
  Data_File *file = used_file(stream, error);
  if (file == nullptr) return error;
  data.block = block_of(*file, info, error);
  if (data.block == nullptr) return error;
  if (!data.block->BinaryFileName.empty()) {
    std::FILE *external = nullptr;
    if (const int opened = open_binary_file(*file, *data.block, external);
        opened != RoutineSucceeded)
      return opened;
    data.external.reset(external);
  }
  data.f = data.external ? data.external.get() : file->Channel.get();
  return data.f != nullptr ? RoutineSucceeded : ReadDataError;
}

int read_block_data_size(int stream, const KvxBlockInfo &info, uint64_t &bytes) {
  BlockData data;
  const int error = open_block_data(stream, info, data);
  if (error == RoutineSucceeded) bytes = data_available(*data.block, data.external.get());
  return error;
}

int read_block_binary(int stream, const KvxBlockInfo &info, size_t length,
                      std::vector<unsigned char> &bytes) {
  BlockData data;
  if (const int error = open_block_data(stream, info, data); error != RoutineSucceeded)
    return error;
  if (length > data_available(*data.block, data.external.get())) return BadDataBlock;
  bytes.assign(length, 0);
  if (fseeko(data.f, static_cast<off_t>(data.block->BinaryFilePos), SEEK_SET) != 0)
    return ReadDataError;
  if (std::fread(bytes.data(), 1, length, data.f) != length) return ReadDataError;
  return RoutineSucceeded;
}

int read_block_pieces(int stream, const KvxBlockInfo &info, uint64_t length,
                      const KvxDataSink &take) {
  BlockData data;
  if (const int error = open_block_data(stream, info, data); error != RoutineSucceeded)
    return error;
  if (length > data_available(*data.block, data.external.get())) return BadDataBlock;
  if (fseeko(data.f, static_cast<off_t>(data.block->BinaryFilePos), SEEK_SET) != 0)
    return ReadDataError;
  std::vector<unsigned char> piece(
      static_cast<size_t>(std::min<uint64_t>(length, KvxDataPieceBytes)));
  for (uint64_t left = length; left > 0;) {
    const auto size = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
    if (std::fread(piece.data(), 1, size, data.f) != size) return ReadDataError;
    left -= size;
    if (!take(piece.data(), size)) break;
  }
  return RoutineSucceeded;
}

}  // namespace

int kvx_read_block_pieces(int stream, const KvxBlockInfo &block, uint64_t length,
                          const KvxDataSink &take, int *pErrorValue, int *pstatus) {
  const int error = guarded([&] { return read_block_pieces(stream, block, length, take); });
  return report(error, pErrorValue, pstatus);
}

int kvx_visit_blocks(int stream, const KvxBlockVisitor &visit, int *pErrorValue, int *pstatus) {
  const int error = guarded([&] { return visit_blocks(stream, visit); });
  return report(error, pErrorValue, pstatus);
}

int kvx_find_block(int stream, long DataNumber, int DataChain, KvxBlockInfo &block,
                   int *pErrorValue, int *pstatus) {
  const int error = guarded([&]() -> int {
    int found = RoutineSucceeded;
    Data_File *file = used_file(stream, found);
    if (file == nullptr) return found;
    const std::string chain_name = chain_key(*file, DataChain);
    if (chain_name.empty()) return MissingKeyDefinition;
    Data_Chain *chain = search_chain(*file, chain_name);
    const Data_Block *located =
        chain != nullptr ? search_block(*chain, std::to_string(DataNumber)) : nullptr;
    if (located == nullptr || !is_data_block_on_disk(*located)) return CouldNotFindHeader;
    block = info_of(*located);
    return RoutineSucceeded;
  });
  return report(error, pErrorValue, pstatus);
}

int kvx_read_block_header(int stream, const KvxBlockInfo &block, KvxBlockHeader &header,
                          int *pErrorValue, int *pstatus) {
  const int error = guarded([&] { return read_block_header(stream, block, header); });
  return report(error, pErrorValue, pstatus);
}

const std::string *kvx_header_value(const KvxBlockHeader &header, const char *key) {
  if (key == nullptr) return nullptr;
  for (const KvxHeaderEntry &entry : header.Entries)
    if (compare_keys(entry.Key, key, UpperCaseSort) == 0) return &entry.Value;
  if (is_format_key(key)) return nullptr;
  for (const KvxHeaderEntry &entry : header.Defaults)
    if (compare_keys(entry.Key, key, UpperCaseSort) == 0) return &entry.Value;
  return nullptr;
}

int kvx_read_block_data_size(int stream, const KvxBlockInfo &block, uint64_t &bytes,
                             int *pErrorValue, int *pstatus) {
  const int error = guarded([&] { return read_block_data_size(stream, block, bytes); });
  return report(error, pErrorValue, pstatus);
}

int kvx_read_block_binary(int stream, const KvxBlockInfo &block, size_t length,
                          std::vector<unsigned char> &bytes, int *pErrorValue, int *pstatus) {
  const int error = guarded([&] { return read_block_binary(stream, block, length, bytes); });
  return report(error, pErrorValue, pstatus);
}
