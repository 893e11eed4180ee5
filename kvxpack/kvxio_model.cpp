// The in-memory model: file table, settings, key comparison and the sorted
// lists of chains, blocks and symbols.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cmpr.h"
#include "kvxio_internal.h"
#include "numio.h"

namespace kvxio {
namespace {

Settings gSettings;
int gDebug = 0;
std::array<Data_File, MaxFiles> gFileTable;
char gIdBuffer[IdBufferSize];

bool is_kept_char(char c) { return std::isgraph(static_cast<unsigned char>(c)) != 0; }

// The text that keys are compared by (step 2 of compare_keys).
std::string comparison_text(std::string_view key, bool cut_at_tilde, int mode) {
  std::string text;
  size_t n = std::min(key.size(), MaxKeyLen);
  for (size_t i = 0; i < n; ++i) {
    char c = key[i];
    if (cut_at_tilde && c == '~') break;
    if (!is_kept_char(c)) continue;
    if (mode != CaseSensitiveSort)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    text.push_back(c);
  }
  return text;
}

int sign_of(int value) { return (value > 0) - (value < 0); }

// Compares two comparison texts as signed numbers: sign first, then the
// digits right-aligned after leading zeros are dropped.
int compare_numbers(std::string a, std::string b) {
  auto take_sign = [](std::string &text) {
    int sign = 1;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      if (text[0] == '-') sign = -1;
      text.erase(0, 1);
    }
    size_t zeros = text.find_first_not_of('0');
    if (zeros == std::string::npos)
      text = text.empty() ? text : "0";
    else
      text.erase(0, zeros);
    return sign;
  };
  int sign_a = take_sign(a);
  int sign_b = take_sign(b);
  if (sign_a != sign_b) return sign_a < sign_b ? -1 : 1;
  if (a.size() < b.size()) a.insert(0, b.size() - a.size(), '0');
  if (b.size() < a.size()) b.insert(0, a.size() - b.size(), '0');
  return sign_a * sign_of(a.compare(b));
}

std::string_view trim(std::string_view text) {
  const char *space = " \t\r\n\f\v";
  size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings, debug switch, table

const Settings &settings() { return gSettings; }
int debug_level() { return gDebug; }

Data_File *file_entry(int stream) {
  if (stream < 0 || stream >= MaxFiles) return nullptr;
  return &gFileTable[static_cast<size_t>(stream)];
}

Data_File *used_file(int stream, int &error) {
  Data_File *file = file_entry(stream);
  if (file == nullptr) {
    error = InvalidStream;
    return nullptr;
  }
  if (!file->Used) {
    error = NoFileOpen;
    return nullptr;
  }
  error = RoutineSucceeded;
  return file;
}

void reset_entry(Data_File &file) {
  file.ChainList.clear();
  file.GeneralBlock = nullptr;
  file.ActiveBlock = nullptr;
  file.LastBlockInFile = nullptr;
  file.Channel.reset();
  file.Buffer.reset();
  file.Used = false;
  file.Name.clear();
  file.Version = Data_Format_Version{};
  file.BlockBoundary = DefaultBlockBoundary;
  file.Flags = Data_File_Flags{};
  file.Flags.NoGeneralHeader = gSettings.GeneralBlock == 0;
  file.NextSequenceNumber = 1;
}

bool free_entry(Data_File &file) {
  bool closed = true;
  if (FILE *channel = file.Channel.release()) closed = std::fclose(channel) == 0;
  reset_entry(file);
  return closed;
}

Data_Block *create_general_block(Data_File &file) {
  Data_Chain *chain = insert_chain(file, GeneralChainKey);
  if (chain == nullptr) return nullptr;
  Data_Block *block = insert_block(*chain, GeneralBlockKey);
  if (block == nullptr) return nullptr;
  if (insert_symbol(*block, "KVX_DataKey-1", "Image.Psd") == nullptr) return nullptr;
  if (file.Flags.TemporaryFile || file.Flags.NoGeneralHeader) {
    block->Flags.InternalHeader = true;
    block->Flags.InternalData = true;
  }
  file.GeneralBlock = block;
  file.ActiveBlock = block;
  return block;
}

// ---------------------------------------------------------------------------
// Keys

bool is_format_key(std::string_view key) {
  if (key.size() < 4) return false;
  return std::toupper(static_cast<unsigned char>(key[0])) == 'K' &&
         std::toupper(static_cast<unsigned char>(key[1])) == 'V' &&
         std::toupper(static_cast<unsigned char>(key[2])) == 'X' && key[3] == '_';
}

long continuation_depth(std::string_view key) {
  key = trim(key);
  size_t tilde = key.find('~');
  if (tilde == std::string_view::npos) return 0;
  std::string_view digits = key.substr(tilde + 1);
  // At most 9 digits, so that the number fits a long on every host.
  if (digits.empty() || digits.size() > 9) return -1;
  long depth = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    depth = depth * 10 + (c - '0');
  }
  return depth > 0 ? depth : -1;
}

int compare_keys(std::string_view key1, std::string_view key2, int mode) {
  if (mode != CaseSensitiveSort && mode != UpperCaseSort && mode != NumberSort) {
    std::fprintf(stderr, "ERROR: Unknown sortmode\n");
    std::exit(-1);
  }
  bool format1 = is_format_key(key1);
  bool format2 = is_format_key(key2);
  if (format1 != format2) return format1 ? -1 : 1;
  long depth1 = continuation_depth(key1);
  long depth2 = continuation_depth(key2);
  std::string text1 = comparison_text(key1, depth1 > 0, mode);
  std::string text2 = comparison_text(key2, depth2 > 0, mode);
  int result = mode == NumberSort ? compare_numbers(std::move(text1), std::move(text2))
                                  : sign_of(text1.compare(text2));
  if (result != 0) return result;
  if (depth1 == depth2) return 0;
  if (depth1 < 0) return 1;
  if (depth2 < 0) return -1;
  return depth1 < depth2 ? -1 : 1;
}

std::string cut_key(std::string_view key) {
  if (key.size() <= MaxKeyLen) return std::string(key);
  std::string text(key);
  std::fprintf(stderr, "\nWARNING: The length %zu | %lu of %10s... exceeds %d\n", key.size(),
               static_cast<unsigned long>(key.size()), text.c_str(), static_cast<int>(MaxKeyLen));
  return text.substr(0, MaxKeyLen);
}

bool keyorder_match(std::string_view pattern, std::string_view key) {
  std::string p = comparison_text(pattern, false, UpperCaseSort);
  std::string k = comparison_text(key, false, UpperCaseSort);
  size_t pi = 0;
  size_t ki = 0;
  while (pi < p.size()) {
    if (p[pi] == '*') {
      ++pi;
      if (pi == p.size()) return true;
      // Advance the key to the next occurrence of the character after the
      // star; later occurrences are not tried.
      size_t next = k.find(p[pi], ki);
      if (next == std::string::npos) return false;
      ki = next;
      continue;
    }
    if (ki >= k.size() || k[ki] != p[pi]) return false;
    ++pi;
    ++ki;
  }
  return ki == k.size();
}

// ---------------------------------------------------------------------------
// Lists.  New elements are looked for from the end of a list: images are
// mostly written and found in ascending order, so that a file of many
// blocks is built in linear time.

namespace {

// Position after which `key` belongs in a sorted list, searching backwards;
// `equal` is set when an element of an equal key is there.
template <typename List, typename KeyOf>
typename List::iterator find_place(List &list, std::string_view key, int mode, KeyOf key_of,
                                   bool &equal) {
  equal = false;
  auto it = list.end();
  while (it != list.begin()) {
    auto previous = std::prev(it);
    int order = compare_keys(key_of(*previous), key, mode);
    if (order == 0) {
      equal = true;
      return previous;
    }
    if (order < 0) break;
    it = previous;
  }
  return it;
}

// Runs an insertion; null when memory runs out (the list is then as it was).
template <typename Insert>
auto or_null(Insert insert) -> decltype(insert()) {
  try {
    return insert();
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

Symbol_Element make_symbol(Data_Block &block, std::string_view key, std::string_view value) {
  Symbol_Element symbol;
  symbol.Key = cut_key(key);
  symbol.Value = value;
  symbol.Block = &block;
  return symbol;
}

const std::string &chain_key_of(const Data_Chain &chain) { return chain.ChainKey; }
const std::string &block_key_of(const Data_Block &block) { return block.BlockKey; }
const std::string &symbol_key_of(const Symbol_Element &symbol) { return symbol.Key; }

}  // namespace

Data_Chain *insert_chain(Data_File &file, std::string_view key) {
  return or_null([&] {
    Data_Chain chain;
    chain.ChainKey = cut_key(key);
    chain.File = &file;
    bool equal = false;
    auto place = find_place(file.ChainList, chain.ChainKey, UpperCaseSort, chain_key_of, equal);
    return equal ? &*place : &*file.ChainList.emplace(place, std::move(chain));
  });
}

Data_Chain *search_chain(Data_File &file, std::string_view key) {
  bool equal = false;
  auto place = find_place(file.ChainList, key, UpperCaseSort, chain_key_of, equal);
  return equal ? &*place : nullptr;
}

void remove_chain(Data_File &file, Data_Chain &chain) {
  for (Data_Block &block : chain.BlockList) {
    if (file.ActiveBlock == &block) file.ActiveBlock = nullptr;
    if (file.GeneralBlock == &block) file.GeneralBlock = nullptr;
    if (file.LastBlockInFile == &block) file.LastBlockInFile = nullptr;
  }
  for (auto it = file.ChainList.begin(); it != file.ChainList.end(); ++it)
    if (&*it == &chain) {
      file.ChainList.erase(it);
      return;
    }
}

Data_Block *insert_block(Data_Chain &chain, std::string_view key) {
  return or_null([&] {
    Data_Block block;
    block.BlockKey = cut_key(key);
    block.Chain = &chain;
    bool equal = false;
    auto place = find_place(chain.BlockList, block.BlockKey, NumberSort, block_key_of, equal);
    return equal ? &*place : &*chain.BlockList.emplace(place, std::move(block));
  });
}

Data_Block *search_block(Data_Chain &chain, std::string_view key) {
  bool equal = false;
  auto place = find_place(chain.BlockList, key, NumberSort, block_key_of, equal);
  return equal ? &*place : nullptr;
}

Symbol_Element *insert_symbol(Data_Block &block, std::string_view key, std::string_view value) {
  return or_null([&] {
    Symbol_Element symbol = make_symbol(block, key, value);
    bool equal = false;
    auto place = find_place(block.SymbolList, symbol.Key, UpperCaseSort, symbol_key_of, equal);
    if (!equal) return &*block.SymbolList.emplace(place, std::move(symbol));
    place->Value = std::move(symbol.Value);
    return &*place;
  });
}

Symbol_Element *insert_root_symbol(Data_Block &block, std::string_view key,
                                   std::string_view value) {
  return or_null([&] {
    Symbol_Element symbol = make_symbol(block, key, value);
    remove_symbol(block, symbol.Key);
    return &block.SymbolList.emplace_front(std::move(symbol));
  });
}

Symbol_Element *search_symbol(Data_Block &block, std::string_view key) {
  for (Symbol_Element &symbol : block.SymbolList)
    if (compare_keys(symbol.Key, key, UpperCaseSort) == 0) return &symbol;
  return nullptr;
}

void remove_symbol(Data_Block &block, std::string_view key) {
  block.SymbolList.remove_if([key](const Symbol_Element &symbol) {
    return compare_keys(symbol.Key, key, UpperCaseSort) == 0;
  });
}

std::string chain_key(Data_File &file, int DataChain) {
  if (DataChain == 0) return std::string(GeneralChainKey);
  if (file.GeneralBlock != nullptr) {
    std::string defining_key = "KVX_DataKey-" + std::to_string(static_cast<uint32_t>(DataChain));
    if (Symbol_Element *symbol = search_symbol(*file.GeneralBlock, defining_key))
      return symbol->Value;
  }
  if (DataChain == 1) return "Image.Psd";
  if (DataChain == -1) return "Image.Error";
  if (DataChain > 1) return "Image.Psd." + std::to_string(DataChain);
  return "Image.Error." + std::to_string(-static_cast<long long>(DataChain));
}

const char *block_id(const Data_Block &block) {
  const char *chain = block.Chain != nullptr ? block.Chain->ChainKey.c_str() : "";
  std::snprintf(gIdBuffer, sizeof gIdBuffer, "%s.%s", block.BlockKey.c_str(), chain);
  return gIdBuffer;
}

void print_system_error(const char *label) {
  std::fprintf(stderr, "%s: %s\n", label, std::strerror(errno));
}

void set_result(int *pErrorValue, int *pstatus, int error) {
  if (pErrorValue != nullptr) *pErrorValue = error;
  if (pstatus != nullptr) *pstatus = error == RoutineSucceeded ? Success : ExternalErrorReport;
}

}  // namespace kvxio

// ---------------------------------------------------------------------------
// Public: versions, debug switch, limits, settings

const char *kvxio_version() { return "kvxio : V2.39 Ardeny 2011-12-13 (E2.219)"; }
const char *kvx_dataformat_version() { return "2.40"; }

void kvxio_debug(int level) {
  kvxio::gDebug = level;
  cmpr_debug(level);
  kvx_history_debug(level);
  numio_debug(level);
}

int kvx_maxfiles() { return kvxio::MaxFiles; }
int kvx_maxkeylen() { return static_cast<int>(kvxio::MaxKeyLen); }
int kvx_maxvallen() { return static_cast<int>(kvxio::MaxValLen); }
int kvx_maxlinlen() { return static_cast<int>(kvxio::MaxLinLen); }
int kvx_maxdatachains() { return kvxio::MaxDataChains; }
int kvx_buffersize() { return static_cast<int>(kvxio::BufferSize); }
int kvx_maxdimensions() { return kvxio::MaxDimensions; }

int kvx_general_block(int flag) {
  kvxio::gSettings.GeneralBlock = flag;
  return 0;
}
int kvx_headersize(int flag) {
  kvxio::gSettings.HeaderSize = flag;
  return 0;
}
int kvx_set_minimumheadersize(unsigned long size) {
  kvxio::gSettings.MinimumHeaderSize = size;
  return 0;
}
int kvx_set_datatype(int data_type) {
  kvxio::gSettings.DataType = data_type;
  return 0;
}
int kvx_set_datacompression(int compression) {
  kvxio::gSettings.DataCompression = compression;
  return 0;
}
int kvx_set_datavalueoffset(long offset) {
  kvxio::gSettings.DataValueOffset = offset;
  return 0;
}
int kvx_set_bsl_input_byteorder(int byte_order) {
  kvxio::gSettings.BslInputByteOrder = byte_order;
  return 0;
}
int kvx_set_max_line_width(long width) {
  kvxio::gSettings.MaxLineWidth = width;
  return 0;
}

int kvx_get_general_block() { return kvxio::gSettings.GeneralBlock; }
int kvx_get_headersize() { return kvxio::gSettings.HeaderSize; }
unsigned long kvx_get_minimumheadersize() { return kvxio::gSettings.MinimumHeaderSize; }
int kvx_get_datatype() { return kvxio::gSettings.DataType; }
int kvx_get_datacompression() { return kvxio::gSettings.DataCompression; }
long kvx_get_datavalueoffset() { return kvxio::gSettings.DataValueOffset; }
int kvx_get_bsl_input_byteorder() { return kvxio::gSettings.BslInputByteOrder; }
long kvx_get_max_line_width() { return kvxio::gSettings.MaxLineWidth; }

void kvx_reset_settings() { kvxio::gSettings = kvxio::Settings{}; }
