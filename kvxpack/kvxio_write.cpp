// Block write-out: selecting the block a call addresses, sizes and format
// keys, output order of the header entries, and writing header, data and
// padding to the file.
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "cmpr.h"
#include "kvxio_internal.h"
#include "report_sink.h"

namespace kvxio {
namespace {

// Patterns of the output order of header keys, after the "KVX_" keys.
constexpr std::array<std::string_view, 38> kKeyOrder = {"ByteOrder",
                                                        "DataType",
                                                        "DataRasterConfiguration",
                                                        "Dim_*",
                                                        "Title",
                                                        "Time",
                                                        "Intensity*",
                                                        "ExposureTime",
                                                        "Dummy",
                                                        "DDummy",
                                                        "Offset_*",
                                                        "Center_*",
                                                        "BSize_*",
                                                        "PSize_*",
                                                        "Sample*",
                                                        "WaveLength",
                                                        "DetectorRotation_*",
                                                        "Projection*",
                                                        "Raster*",
                                                        "AxisType_*",
                                                        "Norm*",
                                                        "Attenuator*",
                                                        "Detector*",
                                                        "Experiment*",
                                                        "Gestion*",
                                                        "Machine*",
                                                        "Monitor*",
                                                        "Msensi*",
                                                        "Optics*",
                                                        "Proposal*",
                                                        "Psic*",
                                                        "Session*",
                                                        "Pslit*",
                                                        "Slit*",
                                                        "Station*",
                                                        "History-*",
                                                        "HS32*",
                                                        "H*"};

// The texts the patterns of kKeyOrder are matched by, made once: a table
// that never changes.
const std::vector<std::string> &key_order_texts() {
  static const std::vector<std::string> pattern_texts = [] {
    std::vector<std::string> texts;
    texts.reserve(kKeyOrder.size());
    for (std::string_view pattern : kKeyOrder) texts.push_back(keyorder_text(pattern));
    return texts;
  }();
  return pattern_texts;
}

// The first pattern of kKeyOrder that `key` matches, or the number of
// patterns.  Remembered per key text in `groups`: the images of a file
// mostly have the same keys, and matching every key against every pattern
// was a tenth of the cost of writing a small image.  The memory is bounded.
size_t key_order_group(std::unordered_map<std::string, size_t> &groups, const std::string &key) {
  const std::vector<std::string> &pattern_texts = key_order_texts();
  constexpr size_t MaxRemembered = 4096;
  if (auto known = groups.find(key); known != groups.end()) return known->second;
  const std::string text = keyorder_text(key);
  size_t group = 0;
  while (group < pattern_texts.size() && !keyorder_match_texts(pattern_texts[group], text)) ++group;
  if (groups.size() >= MaxRemembered) groups.clear();
  groups.emplace(key, group);
  return group;
}

constexpr std::string_view HeaderBegin = "{\r\n";
constexpr std::string_view HeaderEnd = "\r\n}\n";
// Spaces of a full padding line of the header.
constexpr size_t PaddingLineLength = 78;

// Bytes of the header text of a block: begin, entries, end.
uint64_t header_text_length(const Data_Block &block) {
  uint64_t length = HeaderBegin.size() + HeaderEnd.size();
  if (drafted(block)) return length + draft_entries_length(block);
  for (const Symbol_Element &symbol : block.SymbolList)
    length += entry_length(symbol.Key, symbol.Value);
  return length;
}

// `value` rounded up to a multiple of `boundary`; false on overflow.
bool round_up(uint64_t value, uint64_t boundary, uint64_t &rounded) {
  if (boundary <= 1) {
    rounded = value;
    return true;
  }
  uint64_t rest = value % boundary;
  if (rest == 0) {
    rounded = value;
    return true;
  }
  if (value > std::numeric_limits<uint64_t>::max() - (boundary - rest)) return false;
  rounded = value + (boundary - rest);
  return true;
}

bool is_general(const Data_Block &block) {
  return block.Chain != nullptr && block.Chain->File != nullptr &&
         block.Chain->File->GeneralBlock == &block;
}

// The chain key of a data block without a trailing ".Psd" ("Image").
std::string image_key(std::string_view chain) {
  if (chain.size() >= 4 && compare_keys(chain.substr(chain.size() - 4), ".Psd", UpperCaseSort) == 0)
    chain.remove_suffix(4);
  return std::string(chain);
}

std::string header_id(uint64_t sequence_number) {
  char text[64];
  std::snprintf(text, sizeof text, "EH:%06llu:000000:000000",
                static_cast<unsigned long long>(sequence_number));
  return text;
}

// Puts the "KVX_" keys, the image key, "HeaderID" and "Size" into the
// header of a block.  False when one cannot be stored.
bool put_format_keys(Data_Block &block, const std::string &binary_text) {
  Data_File &file = file_of(block);
  bool stored = true;
  auto keep = [&stored](const Symbol_Element *symbol) { stored = stored && symbol != nullptr; };
  auto root = [&](std::string_view key, std::string_view value) {
    if (!draft_symbol(block, DraftEntry::Root, key, value))
      keep(insert_root_symbol(block, key, value));
  };
  auto plain = [&](std::string_view key, std::string_view value) {
    if (!draft_symbol(block, DraftEntry::Raw, key, value)) keep(insert_symbol(block, key, value));
  };
  if (is_general(block)) {
    if (settings().HeaderSize) keep(insert_root_symbol(block, "KVX_HeaderSize", Undetermined));
    if (Symbol_Element *boundary = search_symbol(block, "KVX_BlockBoundary")) {
      // The general block states the boundary of the whole file; a value
      // that is no usable boundary is replaced by the file's.
      const char *text = boundary->Value.c_str();
      char *end = nullptr;
      errno = 0;
      unsigned long long stated = std::strtoull(text, &end, 10);
      if (end != text && *end == '\0' && errno == 0 && text[0] != '-' && stated > 0 &&
          stated <= MaxBlockBoundary)
        file.BlockBoundary = stated;
      else
        boundary->Value = std::to_string(file.BlockBoundary);
    } else {
      keep(insert_root_symbol(block, "KVX_BlockBoundary", std::to_string(file.BlockBoundary)));
    }
    keep(insert_root_symbol(block, "KVX_DataBlocks", Undetermined));
    keep(insert_root_symbol(block, "KVX_DataFormatVersion", kvx_dataformat_version()));
  } else {
    if (settings().HeaderSize) root("KVX_HeaderSize", Undetermined);
    root("KVX_BinarySize", binary_text);
    root("KVX_DataBlockID", block.BlockKey + "." + block.Chain->ChainKey);
    plain(image_key(block.Chain->ChainKey), block.BlockKey);
  }
  plain("HeaderID", header_id(block.SequenceNumber));
  plain("Size", binary_text);
  return stored;
}

// Works out the binary size, header size and padding of a block and puts
// the format keys into its header.  False when the sizes do not fit into
// the place the block already has in the file.
bool sync_data_block(Data_Block &block) {
  Data_File &file = file_of(block);
  const bool fixed = block.Flags.DiskBlockFixed;
  uint64_t binary_size = 0;
  if (!round_up(block.RawLen > 0 ? block.RawLen : block.DataLen, file.BlockBoundary, binary_size))
    return false;
  if (fixed) {
    if (binary_size > block.BinaryLen) return false;
    binary_size = block.BinaryLen;
  }
  const std::string binary_text = std::to_string(binary_size);

  if (!fixed) block.SequenceNumber = file.NextSequenceNumber;
  if (!put_format_keys(block, binary_text)) return false;
  // A log that does not match the remembered order becomes a symbol list,
  // and its order is remembered when the block is written.
  if (drafted(block) && draft_memo(block) == nullptr) settle_header(block, true);
  if (block.Flags.BadBlock) return false;

  const uint64_t text_length = header_text_length(block);
  uint64_t header_size = 0;
  if (!round_up(std::max<uint64_t>(settings().MinimumHeaderSize, text_length), file.BlockBoundary,
                header_size))
    return false;
  if (header_size > MaxHeaderSize) return false;
  if (fixed) {
    if (header_size > block.TextLen) return false;
    header_size = block.TextLen;
  }
  if (settings().HeaderSize) {
    if (drafted(block))
      set_draft_header_size(block, std::to_string(header_size));
    else if (Symbol_Element *size = search_symbol(block, "KVX_HeaderSize"))
      size->Value = std::to_string(header_size);
  }
  block.BinaryLen = binary_size;
  block.TextLen = header_size;
  const uint64_t final_length = header_text_length(block);
  // The number is never longer than its placeholder, so the text still fits.
  block.PadLen = header_size - final_length;
  return true;
}

// Appends the header padding: lines of 78 spaces, each ended by CR LF, and
// a final run of spaces that makes up the length.
void append_padding(std::string &text, uint64_t length) {
  // Below 2 bytes there is no room for a line end: only spaces.  A line end
  // follows each full line that ends at least 2 bytes before the end.
  uint64_t rest = length;
  while (rest > PaddingLineLength + 2) {
    text.append(PaddingLineLength, ' ');
    text += "\r\n";
    rest -= PaddingLineLength + 2;
  }
  text.append(rest, ' ');
}

// Writes the pieces one after the other from `position` of the file of
// `channel`, in as few system calls as the system allows.  Written past the
// stream, whose buffer is empty and whose offset stays (pwritev does not
// move it): every access of the library positions the stream first.  A
// failure is reported under `header_label` while the first piece is not
// yet written, else under `data_label`.
bool write_all(FILE *channel, std::vector<iovec> pieces, uint64_t position,
               const char *header_label, const char *data_label) {
  const int descriptor = fileno(channel);
  const size_t header_end = pieces.empty() ? 0 : pieces.front().iov_len;
  uint64_t done = 0;
  size_t next = 0;
  while (next < pieces.size()) {
    const int count = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
    const ssize_t written =
        pwritev(descriptor, &pieces[next], count, static_cast<off_t>(position + done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A stream that cannot be positioned fails as its positioning would.
      print_system_error(errno == ESPIPE     ? "flush_data_block->fseek"
                         : done < header_end ? header_label
                                             : data_label);
      return false;
    }
    done += static_cast<uint64_t>(written);
    // Past the pieces written whole, into the one written in part.
    for (auto rest = static_cast<size_t>(written); rest > 0;) {
      iovec &piece = pieces[next];
      const size_t taken = std::min(rest, piece.iov_len);
      piece.iov_base = static_cast<char *>(piece.iov_base) + taken;
      piece.iov_len -= taken;
      rest -= taken;
      if (piece.iov_len == 0) ++next;
    }
    while (next < pieces.size() && pieces[next].iov_len == 0) ++next;
  }
  return true;
}

// The binary section as pieces: the data (compressed, if so) and spaces up
// to the binary size.  False when the data do not fit.
bool binary_pieces(const Data_Block &block, std::vector<iovec> &pieces) {
  static const std::string spaces(DefaultBlockBoundary, ' ');
  const void *data = block.RawLen > 0 ? static_cast<const void *>(block.Raw.data()) : block.Data;
  const uint64_t length = block.RawLen > 0 ? block.RawLen : block.DataLen;
  if (length > block.BinaryLen) return false;
  if (length > 0) pieces.push_back({const_cast<void *>(data), static_cast<size_t>(length)});
  for (uint64_t rest = block.BinaryLen - length; rest > 0;) {
    const auto piece = static_cast<size_t>(std::min<uint64_t>(rest, spaces.size()));
    pieces.push_back({const_cast<char *>(spaces.data()), piece});
    rest -= piece;
  }
  return true;
}

// Cuts the file back to where a new block began after its write failed, so
// that the file ends with whole blocks and the next block can follow them.
// A failed write leaves nothing in the stream's buffer; the flush only
// settles the stream before the cut.  Devices and pipes are left as they are.
void take_back_block(FILE *channel, uint64_t position) {
  std::fflush(channel);
  std::clearerr(channel);
  struct stat info {};
  if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
      fstat(fileno(channel), &info) != 0 || !S_ISREG(info.st_mode))
    return;
  if (ftruncate(fileno(channel), static_cast<off_t>(position)) != 0 ||
      fseeko(channel, static_cast<off_t>(position), SEEK_SET) != 0)
    print_system_error("flush_data_block->ftruncate");
}

// Where a block is written: its old place, or the end of the last block.
uint64_t block_place(const Data_Block &block) {
  return block.Flags.DiskBlockFixed ? block.TextPos : end_of_blocks(file_of(block));
}

// Appends the header entries of a block in output order, noting where each
// symbol's key and value are in the file.
void append_entries(Data_Block &block, uint64_t position, std::string &header) {
  if (drafted(block)) {
    append_draft_entries(block, header);
    return;
  }
  const std::vector<Symbol_Element *> order = keyorder_ordersymbols(block);
  remember_order(block, order);
  size_t length = 0;
  for (const Symbol_Element *symbol : order) length += entry_length(symbol->Key, symbol->Value);
  const size_t begin = header.size();
  header.resize(begin + length);
  char *const base = header.data();
  char *at = base + begin;
  char *value_at = nullptr;
  for (Symbol_Element *symbol : order) {
    symbol->KeyPos = position + static_cast<uint64_t>(at - base);
    at = put_entry(at, symbol->Key, symbol->Value, false, value_at);
    symbol->ValPos = position + static_cast<uint64_t>(value_at - base);
  }
}

// Writes header, data and padding of a block at `position`.
bool write_block_at(Data_Block &block, FILE *channel, uint64_t position) {
  Data_File &file = file_of(block);
  // The stream's buffer goes out first: the block is written past it.
  if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
      std::fflush(channel) != 0) {
    print_system_error("flush_data_block->fseek");
    return false;
  }
  block.TextPos = position;

  // The whole header is made in memory, in a buffer that is kept for the
  // next block, and goes out with the data in one write.
  const bool data = block.Flags.DataChanged && !block.Flags.InternalData;
  std::string &header = file.WriteBuffer;
  header.clear();
  header.reserve(static_cast<size_t>(block.TextLen));
  header += HeaderBegin;
  append_entries(block, position, header);
  append_padding(header, block.PadLen);
  header += HeaderEnd;
  if (header.size() != block.TextLen) {
    errno = EINVAL;
    print_system_error("flush_data_block->pad_spaces");
    return false;
  }
  std::vector<iovec> pieces = {{header.data(), header.size()}};
  if (data && !binary_pieces(block, pieces)) return false;
  if (!write_all(channel, std::move(pieces), position, "flush_data_block->header_begin",
                 "flush_data_block->fwrite"))
    return false;
  // A large header is not kept: the next one is most likely a small one.
  if (header.capacity() > 4 * DefaultMinimumHeaderSize) std::string().swap(header);
  block.Flags.HeaderChanged = false;
  block.BinaryPos = block.TextPos + block.TextLen;
  if (data) {
    block.BinaryFileName.clear();
    block.BinaryFilePos = block.BinaryPos;
    block.BinaryFileLen = block.BinaryLen;
    block.Flags.DataChanged = false;
  }
  finish_draft(block);
  if (block.SequenceNumber == file.NextSequenceNumber) {
    file.LastBlockInFile = &block;
    ++file.NextSequenceNumber;
  }
  block.Flags.DiskBlockUsed = true;
  block.Flags.DiskBlockFixed = true;
  return true;
}

bool flush_data_block(Data_Block &block) {
  if (!block.Flags.HeaderChanged && !block.Flags.DataChanged) return true;
  if (block.Flags.InternalHeader) return true;
  FILE *channel = file_of(block).Channel.get();
  if (channel == nullptr) {
    errno = EBADF;
    print_system_error("flush_data_block->get_block_pos");
    return false;
  }
  const uint64_t position = block_place(block);
  // A block rewritten in its old place is never cut back: others follow it.
  const bool appended = !block.Flags.DiskBlockFixed;
  if (write_block_at(block, channel, position)) return true;
  if (appended) take_back_block(channel, position);
  return false;
}

// Writes the current number of data blocks over the value of
// "KVX_DataBlocks" in memory and, where the general block is on disk, in
// the file.
bool update_general(Data_File &file) {
  Data_Block *general = file.GeneralBlock;
  if (general == nullptr) return true;
  Symbol_Element *count = search_symbol(*general, "KVX_DataBlocks");
  if (count == nullptr) return true;
  // The general block itself is number 1.
  uint64_t blocks = file.NextSequenceNumber >= 2 ? file.NextSequenceNumber - 2 : 0;
  std::string text = std::to_string(blocks);
  text.resize(count->Value.size(), ' ');
  count->Value = text;
  if (!general->Flags.InternalHeader && count->ValPos != 0 && file.Channel) {
    FILE *channel = file.Channel.get();
    if (fseeko(channel, static_cast<off_t>(count->ValPos), SEEK_SET) != 0) {
      print_system_error("rewrite_symbol->fseek");
      return false;
    }
    if (std::fputs(text.c_str(), channel) < 0 || std::fflush(channel) != 0) {
      print_system_error("rewrite_symbol->fputs");
      return false;
    }
  }
  if (!file.Flags.TemporaryFile && file.Channel && fseeko(file.Channel.get(), 0, SEEK_END) != 0) {
    print_system_error("update_general->fseek");
    return false;
  }
  return true;
}

// Sizes, writes and accounts a block; a block that fails is marked bad and
// never written again.
bool put_data_block(Data_Block &block) {
  if (block.Flags.BadBlock) return true;
  if (!block.Flags.HeaderChanged && !block.Flags.DataChanged) return true;
  Data_File &file = file_of(block);
  if (is_general(block) && file.Flags.NoGeneralHeader) return true;
  bool written = false;
  try {
    written = sync_data_block(block) && flush_data_block(block) &&
              (file.Flags.NoGeneralHeader || update_general(file));
  } catch (const std::bad_alloc &) {
    report_printf("ERROR: put_data_block: out of memory\n");
  }
  if (!written) block.Flags.BadBlock = true;
  return written;
}

// Compresses the data of a block into its own buffer when the block is to
// be written compressed.  Returns RoutineSucceeded or the error value.
int put_compressed_block(Data_Block &block) {
  const bool changed = block.Flags.HeaderChanged || block.Flags.DataChanged;
  const bool compressed =
      block.DataCompression == GzipCompression || block.DataCompression == ZCompression;
  if (!changed || block.Flags.InternalData || !compressed || block.DataLen == 0)
    return RoutineSucceeded;
  try {
    block.Raw.resize(block.DataLen);
  } catch (const std::bad_alloc &) {
    report_printf("%s malloc\n", "ERROR: put_compressed_block");
    return RoutineFailed;
  }
  size_t converted = 0;
  int errval = 0;
  if (cmpr_deflate(block.Raw.data(), block.Raw.size(), block.Data, block.DataLen,
                   static_cast<int>(block.DataCompression), &converted, &errval) != 0) {
    report_printf("%s cmpr_deflate (errval=%d)\n", "ERROR: put_compressed_block", errval);
    return errval != 0 ? errval : RoutineFailed;
  }
  block.RawLen = converted;
  return RoutineSucceeded;
}

void release_compressed(Data_Block &block) {
  std::vector<unsigned char>().swap(block.Raw);
  block.RawLen = 0;
}

// Drops the header symbols and the data of a written block from memory:
// what stays of a block is its place in the file (see compact_written).
void drop_written(Data_Block &block) {
  if (!block.Flags.InternalHeader) {
    block.SymbolList.clear();
    std::vector<std::list<Symbol_Element>::iterator>().swap(block.SymbolIndex);
    block.FormatSymbols = 0;
    block.Flags.HeaderExternal = true;
  }
  if (!block.Flags.InternalData) {
    block.Data = nullptr;
    block.DataBufferLen = 0;
    block.DataLen = 0;
    block.DataType = 0;
    block.DataValueOffset = 0;
    block.DataByteOrder = 0;
    block.DataRasterConfiguration = 0;
    block.DataCompression = 0;
    std::vector<long>().swap(block.DataDim);
    block.Flags.DataExternal = true;
    block.Flags.ExternalDataAlloc = false;
  }
}

}  // namespace

std::vector<Symbol_Element *> keyorder_ordersymbols(Data_Block &block) {
  std::vector<Symbol_Element *> order;
  order.reserve(block.SymbolList.size());
  auto symbol = block.SymbolList.begin();
  for (; symbol != block.SymbolList.end() && symbol->Key.compare(0, 4, "KVX_") == 0; ++symbol)
    order.push_back(&*symbol);
  // Each of the others goes with the first pattern it matches, in list
  // order within the pattern; unmatched ones come last.
  std::vector<std::pair<size_t, Symbol_Element *>> rest;
  rest.reserve(block.SymbolList.size() - order.size());
  auto &groups = file_of(block).KeyOrderGroups;
  for (; symbol != block.SymbolList.end(); ++symbol)
    rest.emplace_back(key_order_group(groups, symbol->Key), &*symbol);
  std::stable_sort(rest.begin(), rest.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  for (const auto &[group, element] : rest) order.push_back(element);
  return order;
}

int disk_write_block(Data_Block *block) {
  if (block == nullptr || block->Flags.BadBlock) return RoutineSucceeded;
  if (int error = put_compressed_block(*block); error != RoutineSucceeded) {
    block->Flags.BadBlock = true;
    release_compressed(*block);
    return error;
  }
  bool written = put_data_block(*block);
  release_compressed(*block);
  if (!written) return WriteDataError;
  if (!is_general(*block)) drop_written(*block);
  compact_written(block);
  return RoutineSucceeded;
}

Data_Block *open_write_block(int stream, long DataNumber, int DataChain, int &error) {
  Data_File *file = used_file(stream, error);
  if (file == nullptr) return nullptr;
  if (file->Flags.ReadOnlyFile) {
    error = FileIsNotWritable;
    return nullptr;
  }
  if (file->ActiveBlock != nullptr && file->ActiveBlock == file->SelectedBlock &&
      DataNumber == file->SelectedNumber && DataChain == file->SelectedChain) {
    error = RoutineSucceeded;
    return file->ActiveBlock;
  }
  if (DataChain == 0 && file->ActiveBlock != file->GeneralBlock) {
    error = GeneralBlockNotFirst;
    return nullptr;
  }
  std::string chain_name = chain_key(*file, DataChain);
  if (chain_name.empty()) {
    error = MissingKeyDefinition;
    return nullptr;
  }
  std::string block_name =
      DataChain == 0 ? std::string(GeneralBlockKey) : std::to_string(DataNumber);
  Data_Chain *chain = insert_chain(*file, chain_name);
  if (chain == nullptr) {
    error = CouldNotInsertChain;
    return nullptr;
  }
  Data_Block *block = insert_block(*chain, block_name);
  if (block == nullptr) {
    error = CouldNotInsertBlock;
    return nullptr;
  }
  if (file->Flags.TemporaryFile) {
    block->Flags.InternalHeader = true;
    block->Flags.InternalData = true;
    block->Flags.HeaderExternal = false;
    block->Flags.DataExternal = false;
  }
  if (block != file->ActiveBlock) {
    error = disk_write_block(file->ActiveBlock);
    if (error != RoutineSucceeded) return nullptr;
    file->ActiveBlock = block;
  }
  file->SelectedBlock = block;
  file->SelectedNumber = DataNumber;
  file->SelectedChain = DataChain;
  error = RoutineSucceeded;
  return block;
}

}  // namespace kvxio

namespace {

// Bytes of `data_type` values over the dimension array, in checked 64-bit
// arithmetic; false on overflow.  A missing array, or any size of 0 or
// less, gives 0 elements.
bool data_length(const long *Dim, int data_type, uint64_t &length) {
  length = 0;
  if (Dim == nullptr || Dim[0] <= 0) return true;
  uint64_t elements = 1;
  for (long i = 1; i <= Dim[0]; ++i) {
    if (Dim[i] <= 0) return true;
    uint64_t size = static_cast<uint64_t>(Dim[i]);
    if (elements > std::numeric_limits<uint64_t>::max() / size) return false;
    elements *= size;
  }
  uint64_t value_size = kvx_data_sizeof(data_type);
  if (value_size != 0 && elements > std::numeric_limits<uint64_t>::max() / value_size) return false;
  length = elements * value_size;
  return length <= std::numeric_limits<size_t>::max();
}

bool put_text(kvxio::Data_Block &block, std::string_view key, std::string_view value) {
  return kvxio::draft_text(block, key, value) || kvxio::insert_string(block, key, value);
}

void drop_key(kvxio::Data_Block &block, std::string_view key) {
  if (!kvxio::draft_symbol(block, kvxio::DraftEntry::Remove, key, {}))
    kvxio::remove_symbol(block, key);
}

// Puts the descriptive keys of the data into the block's header.
int insert_data_keys(kvxio::Data_Block &block, const long *Dim) {
  if (Dim != nullptr)
    for (long i = 1; i <= Dim[0]; ++i)
      if (!put_text(block, "Dim_" + std::to_string(i), std::to_string(Dim[i])))
        return CouldNotWriteDimension;
  bool stored = put_text(block, "DataType", kvx_datatype2string(static_cast<int>(block.DataType)));
  if (block.DataValueOffset != 0)
    stored = stored && put_text(block, "DataValueOffset", std::to_string(block.DataValueOffset));
  else
    drop_key(block, "DataValueOffset");
  stored = stored &&
           put_text(block, "ByteOrder", ByteOrder2String(static_cast<int>(block.DataByteOrder)));
  if (block.DataRasterConfiguration == 1)
    drop_key(block, "DataRasterConfiguration");
  else
    stored = stored && put_text(block, "DataRasterConfiguration",
                                std::to_string(block.DataRasterConfiguration));
  stored = stored && put_text(block, "Compression",
                              kvx_compression2string(static_cast<int>(block.DataCompression)));
  return stored ? RoutineSucceeded : CouldNotWriteBinary;
}

int write_data_raw(int stream, long DataNumber, int DataChain, const long *Dim, const void *pData,
                   int DataType, long DataValueOffset, int ByteOrder, long RasterConfiguration) {
  using namespace kvxio;
  uint64_t length = 0;
  if (!data_length(Dim, DataType, length)) return BadSizeDefinition;
  if (length > 0 && pData == nullptr) return CouldNotGetBinaryArray;
  int error = RoutineSucceeded;
  Data_Block *block = open_write_block(stream, DataNumber, DataChain, error);
  if (block == nullptr) return error;
  // A block whose writing failed is never written again: say so rather
  // than report data as written that never reach the file.
  if (block->Flags.BadBlock) return WriteDataError;

  block->Data = pData;
  block->Flags.ExternalDataAlloc = true;
  block->DataLen = block->DataBufferLen = static_cast<size_t>(length);
  block->DataType = DataType;
  block->DataValueOffset = DataValueOffset;
  block->DataByteOrder = ByteOrder;
  block->DataRasterConfiguration = RasterConfiguration;
  block->DataCompression =
      settings().DataCompression != 0 ? settings().DataCompression : UnCompressed;
  if (Dim != nullptr && Dim[0] > 0)
    block->DataDim.assign(Dim, Dim + Dim[0] + 1);
  else
    block->DataDim.clear();
  if (int keys = insert_data_keys(*block, Dim); keys != RoutineSucceeded) return keys;

  block->Flags.HeaderChanged = true;
  block->Flags.DataChanged = true;
  Data_File &file = *file_entry(stream);
  error = disk_write_block(file.ActiveBlock);
  if (error == RoutineSucceeded) file.ActiveBlock = nullptr;
  return error;
}

}  // namespace

int kvx_write_data_raw(int stream, long DataNumber, int DataChain, const long *Dim,
                       const void *pData, int DataType, long DataValueOffset, int ByteOrder,
                       long RasterConfiguration, int *pErrorValue, int *pstatus) {
  using namespace kvxio;
  trace_begin("kvx_write_data_raw");
  const int error = guarded([&] {
    return write_data_raw(stream, DataNumber, DataChain, Dim, pData, DataType, DataValueOffset,
                          ByteOrder, RasterConfiguration);
  });
  trace_end("kvx_write_data_raw", error);
  return report(error, pErrorValue, pstatus);
}
