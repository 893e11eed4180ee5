// Scans of existing KVX files: the first header, the walk from block to
// block, reading a block's header when its values are needed, value lookup
// and the dimension query.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvxio_scan.h"
#include "numio.h"

namespace kvxio {
namespace {

// The caller's text of `key` in the block itself (continuation keys not
// joined), or null.
const std::string *own_value(Data_Block &block, std::string_view key, std::string &text) {
  const Symbol_Element *symbol = search_symbol(block, key);
  if (symbol == nullptr) return nullptr;
  text = decode_value(symbol->Value);
  return &text;
}

uint64_t stream_position(std::FILE *f) {
  const off_t pos = ftello(f);
  return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

// A separate binary file named in a header.
struct ExternalBinary {
  std::string Name;  // empty: the data are in this file
  uint64_t Pos = 0;
  uint64_t Len = 0;
};

enum class ExternalResult { Ok, MissingPosition, BadName, BadNumber };

ExternalResult read_external_binary(Data_File &file, Data_Block &header, ExternalBinary &binary) {
  std::string name, pos, len;
  if (own_value(header, "KVX_BinaryFileName", name) == nullptr) return ExternalResult::Ok;
  if (name.empty()) return ExternalResult::BadName;
  if (own_value(header, "KVX_BinaryFilePosition", pos) == nullptr)
    return ExternalResult::MissingPosition;
  if (!parse_unsigned(pos, binary.Pos)) return ExternalResult::BadNumber;
  if (own_value(header, "KVX_BinaryFileSize", len) != nullptr && !parse_unsigned(len, binary.Len))
    return ExternalResult::BadNumber;
  binary.Name = name.front() == '/' ? name : directory_of(file.Name) + name;
  return ExternalResult::Ok;
}

// Finds the end of the header that begins at `start`: on the block grid
// first (reading the size that the header states at once), then byte by
// byte.
bool find_header_end(Data_File &file, uint64_t start, Data_Block &header) {
  std::FILE *f = file.Channel.get();
  std::string text;
  uint64_t stated = 0;
  if (own_value(header, "KVX_HeaderSize", text) == nullptr || !parse_unsigned(text, stated))
    stated = 0;
  int found = search_end(f, start, file.BlockBoundary, stated);
  if (found == -1 && file.BlockBoundary >= 4) {
    found = search_end(f, start, 1);
    if (found == 0) file.OffGridHeaderEnd = true;
  }
  return found == 0;
}

// A header that does not end on the grid switches the file to block
// boundary 1.
void check_boundary(Data_File &file, uint64_t binary_pos, uint64_t binary_len) {
  if (binary_pos % file.BlockBoundary == 0) return;
  if (binary_len != 0) {
    std::fprintf(stderr, "WARNING: The binary section of this block starts at position %lu.\n",
                 static_cast<unsigned long>(binary_pos));
    std::fprintf(stderr, "         This is not a multiple of the block boundary %lu.\n",
                 static_cast<unsigned long>(file.BlockBoundary));
  }
  std::fprintf(stderr, "\nINFO: Reading the file %s with block boundary 1.\n\n", file.Name.c_str());
  file.BlockBoundary = 1;
}

// The end of a binary section, when it lies within the file.
bool binary_end(uint64_t length, uint64_t binary_pos, uint64_t binary_len, uint64_t &end) {
  return !__builtin_add_overflow(binary_pos, binary_len, &end) && end <= length;
}

void print_file_diagnostic(const char *kind, const Data_File &file, uint64_t pos,
                           const char *text) {
  std::fprintf(stderr, "\n   %s FILE %s\n", "KVX", kind);
  if (text != nullptr) std::fprintf(stderr, "   %s\n", text);
  std::fprintf(stderr, "   File name    : %s\n", file.Name.c_str());
  std::fprintf(stderr, "   File position: %lu (%#lx)\n", static_cast<unsigned long>(pos),
               static_cast<unsigned long>(pos));
  if (file.LastBlockInFile != nullptr)
    std::fprintf(stderr, "   Last block ID: %s\n", block_id(*file.LastBlockInFile));
  else
    std::fprintf(stderr, "   Last block ID: (no block read)\n");
  std::fprintf(stderr, "\n");
}

// Version "major.minor" of "KVX_DataFormatVersion"; unreadable text keeps
// the version the library writes.
Data_Format_Version parse_version(const std::string &text) {
  Data_Format_Version version;
  unsigned major = 0, minor = 0;
  if (std::sscanf(text.c_str(), "%u.%u", &major, &minor) == 2 && major <= UINT16_MAX &&
      minor <= UINT16_MAX) {
    version.Major = static_cast<uint16_t>(major);
    version.Minor = static_cast<uint16_t>(minor);
  }
  return version;
}

// The first header is a data block: the file has no general block.
bool no_general_block(Data_File &file, bool has_block_id) {
  file.Flags.NoGeneralHeader = true;
  file.Version = has_block_id ? Data_Format_Version{2, 0} : Data_Format_Version{1, 0};
  if (!has_block_id) file.BlockBoundary = 1;
  if (Data_Chain *general = search_chain(file, GeneralChainKey)) remove_chain(file, *general);
  if (create_general_block(file) == nullptr) return false;
  return fseeko(file.Channel.get(), 0, SEEK_SET) == 0;
}

// ---------------------------------------------------------------------------
// Block identity and size of a located header.

struct BlockId {
  std::string BlockKey;
  std::string ChainKey;
};

// The number after the first ":" of a "HeaderID" ("EH:000012:..." -> "12").
bool header_id_number(const std::string &header_id, std::string &number) {
  const size_t colon = header_id.find(':');
  if (colon == std::string::npos) return false;
  const size_t end = header_id.find_first_not_of("0123456789", colon + 1);
  uint64_t value = 0;
  if (!parse_unsigned(std::string_view(header_id).substr(colon + 1, end - colon - 1), value))
    return false;
  number = std::to_string(value);
  return true;
}

// The number of a block without any id: its place among the data blocks
// (the general block, when it took a sequence number, is not one of them),
// moved on past numbers that blocks before it already hold, so that it
// never takes an earlier block's place.
uint64_t next_free_sequence_number(Data_File &file) {
  const bool general_numbered =
      file.GeneralBlock != nullptr && file.GeneralBlock->SequenceNumber != 0;
  uint64_t number = file.NextSequenceNumber - (general_numbered ? 1 : 0);
  Data_Chain *images = search_chain(file, "Image.Psd");
  while (images != nullptr && search_block(*images, std::to_string(number)) != nullptr) ++number;
  return number;
}

// Block id from "KVX_DataBlockID", "Image" or "HeaderID"; the warning text
// when the id cannot be read.
const char *read_block_id(Data_File &file, Data_Block &header, BlockId &id) {
  std::string text;
  if (own_value(header, "KVX_DataBlockID", text) != nullptr) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size())
      return "Error reading block id";
    id = {text.substr(0, dot), text.substr(dot + 1)};
    return nullptr;
  }
  if (own_value(header, "Image", text) != nullptr) {
    if (text.empty()) return "Error reading block id";
    id = {text, "Image.Psd"};
    return nullptr;
  }
  if (own_value(header, "HeaderID", text) != nullptr) {
    if (!header_id_number(text, id.BlockKey)) return "Error reading V1.xx header id";
    id.ChainKey = "Image.Psd";
    return nullptr;
  }
  std::fprintf(stderr, "WARNING: Missing block ID, using sequence number\n");
  id = {std::to_string(next_free_sequence_number(file)), "Image.Psd"};
  return nullptr;
}

// Binary size from "KVX_BinarySize", "Size", or the dimensions and the data
// type.  False for a size that is not an unsigned number or overflows.
bool read_binary_size(Data_Block &header, uint64_t &size) {
  std::string text;
  if (own_value(header, "KVX_BinarySize", text) != nullptr) return parse_unsigned(text, size);
  if (own_value(header, "Size", text) != nullptr) return parse_unsigned(text, size);
  uint64_t product = 0;
  for (int n = 1; own_value(header, "Dim_" + std::to_string(n), text) != nullptr; ++n) {
    uint64_t dim = 0;
    if (!parse_unsigned(text, dim)) return false;
    if (n == 1) product = 1;
    if (__builtin_mul_overflow(product, dim, &product)) return false;
  }
  const int type = own_value(header, "DataType", text) != nullptr
                       ? kvx_string2datatype(text.c_str())
                       : static_cast<int>(FloatIEEE32);
  return !__builtin_mul_overflow(product, static_cast<uint64_t>(kvx_data_sizeof(type)), &size);
}

// Reads the format keys of the header at the stream's position: the leading
// "KVX_" keys of files of version 2.00 and later, all keys of older files,
// and all keys as well when the "KVX_" keys lack the id or the size.
template <typename Source>
bool read_located_header(const Data_File &file, Source &source, Data_Block &header) {
  if (file.Version.Major < 2) return get_symbol_list(source, header, true) == 0;
  const int read = get_symbol_list(source, header, false);
  if (read < 0) return false;
  const bool complete = search_symbol(header, "KVX_DataBlockID") != nullptr &&
                        search_symbol(header, "KVX_BinarySize") != nullptr;
  return read == 0 || complete || get_symbol_list(source, header, true) == 0;
}

// Bytes read at once from the start of a header: as many as the header
// before it had (headers of one file usually have one size), at least a
// default header.  Bounded, as a damaged header may state any size.
constexpr uint64_t MinHeaderWindow = DefaultMinimumHeaderSize;
constexpr uint64_t MaxHeaderWindow = 1024 * 1024;

uint64_t header_window_size(const Data_File &file) {
  const uint64_t last = file.LastBlockInFile != nullptr ? file.LastBlockInFile->TextLen : 0;
  return std::clamp(last, MinHeaderWindow, MaxHeaderWindow);
}

// Reads the header at `start` from one read of its bytes into `window`.
// False when these bytes do not decide it (the header is longer, or
// damaged): the caller then reads it afresh from the stream.
bool read_header_window(Data_File &file, uint64_t start, uint64_t length, ByteWindow &window,
                        Data_Block &header) {
  if (start >= length) return false;
  window.Base = start;
  window.At = 0;
  window.Bytes.resize(static_cast<size_t>(std::min(length - start, header_window_size(file))));
  std::FILE *f = file.Channel.get();
  window.Bytes.resize(std::fread(window.Bytes.data(), 1, window.Bytes.size(), f));
  return check_start(window) == 0 && read_located_header(file, window, header);
}

// Reads the header at `start` from the stream, which then stands behind the
// keys that were read.
bool read_header_stream(Data_File &file, uint64_t start, Data_Block &header, Locate &failure) {
  std::FILE *f = file.Channel.get();
  if (fseeko(f, static_cast<off_t>(start), SEEK_SET) != 0) {
    print_file_warning(file, start, "Cannot find start of next block");
    failure = Locate::Defect;
    return false;
  }
  const int begin = check_start(f);
  if (begin == -1) {
    failure = Locate::EndOfFile;
    return false;
  }
  failure = Locate::Defect;
  if (begin != 0) {
    print_file_warning(file, start, "Expecting EOF or header start");
    return false;
  }
  if (!read_located_header(file, f, header)) {
    print_file_warning(file, start,
                       file.Version.Major < 2 ? "Error reading header values V1.xx"
                                              : "Error reading header values");
    return false;
  }
  return true;
}

// The position behind the end marker of the header at `start`: from the
// window when it holds the marker, else found on the stream.
bool header_end(Data_File &file, uint64_t start, const ByteWindow &window, Data_Block &header,
                uint64_t &end) {
  if (file.BlockBoundary >= 4 && !window.Bytes.empty() &&
      search_grid_end(window, start, file.BlockBoundary, end))
    return true;
  if (!find_header_end(file, start, header)) return false;
  end = stream_position(file.Channel.get());
  return true;
}

// Keeps where an earlier block of the same key lies before a later block
// takes its record.
void keep_duplicate(Data_File &file, const Data_Block &earlier) {
  Data_Block &kept = file.Duplicates.emplace_back();
  kept.BlockKey = earlier.BlockKey;
  kept.Chain = earlier.Chain;
  kept.TextPos = earlier.TextPos;
  kept.TextLen = earlier.TextLen;
  kept.BinaryPos = earlier.BinaryPos;
  kept.BinaryLen = earlier.BinaryLen;
  kept.BinaryFileName = earlier.BinaryFileName;
  kept.BinaryFilePos = earlier.BinaryFilePos;
  kept.BinaryFileLen = earlier.BinaryFileLen;
  kept.SequenceNumber = earlier.SequenceNumber;
  kept.Flags.DiskBlockUsed = true;
  kept.Flags.DiskBlockFixed = true;
  kept.Flags.HeaderExternal = true;
  kept.Flags.DataExternal = true;
}

// Records a located block as the last block in the file.
Data_Block *record_block(Data_File &file, const BlockId &id, uint64_t start, uint64_t binary_pos,
                         uint64_t binary_len, const ExternalBinary &external) {
  Data_Chain *chain = insert_chain(file, id.ChainKey);
  Data_Block *block = chain != nullptr ? insert_block(*chain, id.BlockKey) : nullptr;
  if (block == nullptr) return nullptr;
  if (block->Flags.DiskBlockUsed) keep_duplicate(file, *block);
  block->SymbolList.clear();
  block->TextPos = start;
  block->TextLen = binary_pos - start;
  block->BinaryPos = binary_pos;
  block->BinaryLen = binary_len;
  block->BinaryFileName = external.Name;
  block->BinaryFilePos = external.Name.empty() ? binary_pos : external.Pos;
  block->BinaryFileLen = external.Name.empty() ? binary_len : external.Len;
  block->Flags = Data_Block_Flags{};
  block->Flags.DiskBlockUsed = true;
  block->Flags.DiskBlockFixed = true;
  block->Flags.HeaderExternal = true;
  block->Flags.DataExternal = true;
  block->SequenceNumber = file.NextSequenceNumber++;
  file.LastBlockInFile = block;
  return block;
}

}  // namespace

std::string directory_of(const std::string &name) {
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) return name.substr(0, slash + 1);
  char *cwd = getcwd(nullptr, 0);
  std::string dir = cwd != nullptr ? std::string(cwd) + "/" : std::string();
  std::free(cwd);
  return dir;
}

uint64_t file_length(std::FILE *f) {
  struct stat info {};
  if (fstat(fileno(f), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

void print_file_warning(const Data_File &file, uint64_t pos, const char *text) {
  print_file_diagnostic("WARNING", file, pos, text);
}

void print_file_error(const Data_File &file, uint64_t pos, const char *text) {
  print_file_diagnostic("ERROR", file, pos, text);
}

bool read_general_block(Data_File &file) {
  std::FILE *f = file.Channel.get();
  if (fseeko(f, 0, SEEK_SET) != 0) {
    print_system_error("read_general_block->fseek");
    return false;
  }
  const uint64_t start = 0;
  const int header = check_start(f);
  if (header == -1) return no_general_block(file, true);  // an empty file
  if (header != 0) {
    char text[64];
    std::snprintf(text, sizeof text, "This file is not a %s file", "KVX");
    print_file_error(file, start, text);
    return false;
  }
  Data_Block &general = *file.GeneralBlock;
  if (get_symbol_list(f, general, true) != 0) {
    print_file_error(file, start, "Error reading header values");
    return false;
  }
  std::string text;
  if (own_value(general, "KVX_DataFormatVersion", text) == nullptr)
    return no_general_block(file, search_symbol(general, "KVX_DataBlockID") != nullptr);
  file.Version = parse_version(text);

  if (own_value(general, "KVX_BlockBoundary", text) != nullptr) {
    uint64_t boundary = 0;
    if (!parse_unsigned(text, boundary) || boundary == 0 || boundary > MaxBlockBoundary) {
      print_file_error(file, start, "Bad block boundary");
      return false;
    }
    file.BlockBoundary = boundary;
  }
  uint64_t binary_len = 0;
  if (own_value(general, "KVX_BinarySize", text) != nullptr && !parse_unsigned(text, binary_len)) {
    print_file_error(file, start, "Bad binary size");
    return false;
  }
  ExternalBinary external;
  const ExternalResult named = read_external_binary(file, general, external);
  if (named == ExternalResult::MissingPosition) {
    std::fprintf(stderr, "ERROR: %s requires %s\n", "KVX_BinaryFileName", "KVX_BinaryFilePosition");
    return false;
  }
  if (named != ExternalResult::Ok) {
    print_file_error(file, start, "Error reading binary file name");
    return false;
  }
  if (!find_header_end(file, start, general)) {
    print_file_error(file, start, "Header end marker not found");
    return false;
  }
  const uint64_t binary_pos = stream_position(f);
  check_boundary(file, binary_pos, binary_len);
  uint64_t end = 0;
  if (!binary_end(file_length(f), binary_pos, binary_len, end)) {
    print_file_error(file, binary_pos, "Binary section beyond the end of the file");
    return false;
  }
  general.TextPos = start;
  general.TextLen = binary_pos - start;
  general.BinaryPos = binary_pos;
  general.BinaryLen = binary_len;
  general.BinaryFileName = external.Name;
  general.BinaryFilePos = external.Name.empty() ? binary_pos : external.Pos;
  general.BinaryFileLen = external.Name.empty() ? binary_len : external.Len;
  general.Flags.DiskBlockUsed = true;
  general.Flags.DiskBlockFixed = true;
  general.Flags.HeaderExternal = false;
  file.LastBlockInFile = &general;
  if (fseeko(f, static_cast<off_t>(end), SEEK_SET) != 0) {
    print_system_error("read_general_block->fseek");
    return false;
  }
  return true;
}

Locate locate_block(Data_File &file, uint64_t length) {
  std::FILE *f = file.Channel.get();
  const uint64_t start = stream_position(f);
  Data_Block scratch;
  scratch.BlockKey = "_TEMP_";
  // One read per header in the usual case; the stream, character by
  // character, for whatever that read leaves undecided.
  static ByteWindow window;
  if (!read_header_window(file, start, length, window, scratch)) {
    window.Bytes.clear();
    scratch = Data_Block{};
    scratch.BlockKey = "_TEMP_";
    Locate failure = Locate::Defect;
    if (!read_header_stream(file, start, scratch, failure)) return failure;
  }
  BlockId id;
  if (const char *problem = read_block_id(file, scratch, id)) {
    print_file_warning(file, start, problem);
    return Locate::Defect;
  }
  uint64_t binary_len = 0;
  if (!read_binary_size(scratch, binary_len)) {
    print_file_warning(file, start, "Bad binary size");
    return Locate::Defect;
  }
  ExternalBinary external;
  switch (read_external_binary(file, scratch, external)) {
    case ExternalResult::Ok:
      break;
    case ExternalResult::MissingPosition:
      std::fprintf(stderr, "ERROR: The key \"%s\" requires the key \"%s\"\n", "KVX_BinaryFileName",
                   "KVX_BinaryFilePosition");
      print_file_warning(file, start, "Missing binary file position");
      return Locate::Defect;
    case ExternalResult::BadName:
    case ExternalResult::BadNumber:
      print_file_warning(file, start, "Error reading binary file name");
      return Locate::Defect;
  }
  uint64_t binary_pos = 0;
  if (!header_end(file, start, window, scratch, binary_pos)) {
    print_file_warning(file, start, "Header end marker not found");
    return Locate::Defect;
  }
  check_boundary(file, binary_pos, binary_len);
  uint64_t end = 0;
  if (!binary_end(length, binary_pos, binary_len, end)) {
    print_file_warning(file, start, "Binary section beyond the end of the file");
    return Locate::Defect;
  }
  if (record_block(file, id, start, binary_pos, binary_len, external) == nullptr)
    return Locate::Failed;
  if (fseeko(f, static_cast<off_t>(end), SEEK_SET) != 0) {
    print_file_warning(file, end, "Cannot find start of next block");
    return Locate::Defect;
  }
  return Locate::Located;
}

bool get_data_header(Data_Block &block) {
  if (!block.Flags.HeaderExternal) return true;
  std::FILE *f = block.Chain != nullptr && block.Chain->File != nullptr
                     ? block.Chain->File->Channel.get()
                     : nullptr;
  if (f == nullptr || fseeko(f, static_cast<off_t>(block.TextPos), SEEK_SET) != 0) {
    print_system_error("get_data_header->fseek");
    return false;
  }
  if (check_start(f) != 0) {
    std::fprintf(stderr, "get_data_header->check_start\n");
    return false;
  }
  block.SymbolList.clear();
  if (get_symbol_list(f, block, true) != 0) {
    std::fprintf(stderr, "get_data_header->get_symbol_list\n");
    block.SymbolList.clear();
    return false;
  }
  block.Flags.HeaderExternal = false;
  block.Flags.HeaderChanged = false;
  return true;
}

const std::string *search_general(Data_Block &block, std::string_view key) {
  Data_Block *where = &block;
  Symbol_Element *symbol = search_symbol(block, key);
  if (symbol == nullptr && !is_format_key(key) && block.Chain != nullptr &&
      block.Chain->File != nullptr && block.Chain->File->GeneralBlock != nullptr) {
    where = block.Chain->File->GeneralBlock;
    symbol = search_symbol(*where, key);
  }
  if (symbol == nullptr) return nullptr;
  std::string text = decode_value(symbol->Value);
  if (continuation_depth(key) == 0) {
    const std::string base(key);
    for (long n = 1;; ++n) {
      const Symbol_Element *piece = search_symbol(*where, base + "~" + std::to_string(n));
      if (piece == nullptr) break;
      text += decode_value(piece->Value);
    }
  }
  symbol->String = std::move(text);
  return &symbol->String;
}

}  // namespace kvxio

// ---------------------------------------------------------------------------
// Public: the dimension query

namespace {

using namespace kvxio;

// The block (`DataNumber`, `DataChain`) of an open stream, or null with the
// error value.
Data_Block *find_read_block(int stream, long DataNumber, int DataChain, int &error) {
  Data_File *file = used_file(stream, error);
  if (file == nullptr) return nullptr;
  const std::string chain_name = chain_key(*file, DataChain);
  if (chain_name.empty()) {
    error = MissingKeyDefinition;
    return nullptr;
  }
  Data_Chain *chain = search_chain(*file, chain_name);
  const std::string block_name =
      DataChain == 0 ? std::string(GeneralBlockKey) : std::to_string(DataNumber);
  Data_Block *block = chain != nullptr ? search_block(*chain, block_name) : nullptr;
  if (block == nullptr) error = CouldNotFindHeader;
  return block;
}

// Makes the block the active block with its header in memory.
int activate_for_reading(Data_Block &block) {
  Data_File &file = *block.Chain->File;
  if (file.ActiveBlock == &block) return RoutineSucceeded;
  const int written = disk_write_block(file.ActiveBlock);
  if (written != RoutineSucceeded) return written;
  file.ActiveBlock = nullptr;
  if (!get_data_header(block)) return ReadDataError;
  file.ActiveBlock = &block;
  return RoutineSucceeded;
}

// "Dim_1", "Dim_2", ... of the block, each an integer expression.
int read_dimensions(Data_Block &block, std::vector<long> &dims) {
  dims.assign(1, 0);
  for (int n = 1;; ++n) {
    const std::string key = "Dim_" + std::to_string(n);
    const std::string *text = search_general(block, key);
    if (text == nullptr) break;
    int errval = 0;
    const char *tail = nullptr;
    const long value = num_str2long(text->c_str(), &tail, &errval);
    if (errval != 0 || tail == nullptr || tail[std::strspn(tail, " \t\r\n\f\v")] != '\0') {
      std::fprintf(stderr, "ERROR: Failed to read header value %s\n", key.c_str());
      return CouldNotReadDimension;
    }
    dims.push_back(value);
  }
  dims[0] = static_cast<long>(dims.size() - 1);
  return dims[0] == 0 ? CouldNotReadDimension : RoutineSucceeded;
}

// Bytes of the data array: elements (0 when a size is 0 or negative) times
// the size of the data type (FloatIEEE32 without "DataType").
int array_size(Data_Block &block, const std::vector<long> &dims, size_t &size) {
  uint64_t product = 1;
  for (size_t i = 1; i < dims.size(); ++i) {
    if (dims[i] <= 0) product = 0;
    if (__builtin_mul_overflow(product, static_cast<uint64_t>(dims[i] > 0 ? dims[i] : 0), &product))
      return BadSizeDefinition;
  }
  const std::string *type_name = search_general(block, "DataType");
  const int type = type_name != nullptr ? kvx_string2datatype(type_name->c_str())
                                        : static_cast<int>(FloatIEEE32);
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(product, static_cast<uint64_t>(kvx_data_sizeof(type)), &bytes) ||
      bytes > SIZE_MAX)
    return BadSizeDefinition;
  size = static_cast<size_t>(bytes);
  return RoutineSucceeded;
}

// Copies the dimensions into the caller's array of capacity pDim[0]: sizes
// beyond the capacity must be 1, missing ones become 1.
int copy_dimensions(const std::vector<long> &dims, long *pDim) {
  if (pDim == nullptr) return RoutineSucceeded;
  const long capacity = pDim[0] > 0 ? pDim[0] : 0;
  for (long i = capacity + 1; i <= dims[0]; ++i)
    if (dims[static_cast<size_t>(i)] != 1) return NotNdData;
  for (long i = 1; i <= capacity; ++i) pDim[i] = i <= dims[0] ? dims[static_cast<size_t>(i)] : 1;
  return RoutineSucceeded;
}

int read_data_dimension(Data_Block &block, long *pDim, size_t *pDataArraySize) {
  int error = activate_for_reading(block);
  if (error != RoutineSucceeded) return error;
  std::vector<long> dims;
  error = read_dimensions(block, dims);
  if (error != RoutineSucceeded) return error;
  size_t size = 0;
  error = array_size(block, dims, size);
  if (error != RoutineSucceeded) return error;
  error = copy_dimensions(dims, pDim);
  if (error != RoutineSucceeded) return error;
  block.DataDim = std::move(dims);
  if (pDataArraySize != nullptr) *pDataArraySize = size;
  return RoutineSucceeded;
}

}  // namespace

int kvx_read_data_dimension(int stream, long DataNumber, int DataChain, long *pDim,
                            size_t *pDataArraySize, int *pErrorValue, int *pstatus) {
  if (debug_level()) std::printf("kvx_read_data_dimension BEGIN\n");
  int error = RoutineSucceeded;
  Data_Block *block = find_read_block(stream, DataNumber, DataChain, error);
  const int result = block != nullptr ? 1 : 0;
  if (block != nullptr) error = read_data_dimension(*block, pDim, pDataArraySize);
  set_result(pErrorValue, pstatus, error);
  if (debug_level()) {
    if (error != RoutineSucceeded) {
      std::printf("kvx_read_data_dimension: %s", kvx_report_data_error(error));
      std::printf("kvx_read_data_dimension END (status=%d)\n", ExternalErrorReport);
    } else {
      std::printf("kvx_read_data_dimension END\n");
    }
  }
  return result;
}
