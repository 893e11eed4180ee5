// The in-memory model: file table, settings, key comparison and the sorted
// lists of chains, blocks and symbols.
#include <algorithm>
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

// Keys are ASCII text of the file format: they are classified as the POSIX
// locale does, whatever locale the calling program has set.
bool is_kept_char(char c) { return c > ' ' && c < 0x7f; }

char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text that keys are compared by (step 2 of compare_keys), in a fixed
// buffer: keys count up to 64 characters, and comparing must not allocate,
// as it runs for every key of every block written.
class ComparisonText {
 public:
  ComparisonText(std::string_view key, bool cut_at_tilde, int mode) {
    const size_t n = std::min(key.size(), MaxKeyLen);
    for (size_t i = 0; i < n; ++i) {
      char c = key[i];
      if (cut_at_tilde && c == '~') break;
      if (!is_kept_char(c)) continue;
      chars_[size_++] = mode != CaseSensitiveSort ? upper_ascii(c) : c;
    }
  }
  std::string_view view() const { return {chars_.data(), size_}; }

 private:
  std::array<char, MaxKeyLen> chars_;
  size_t size_ = 0;
};

// Takes the sign off a number text and drops its leading zeros (all zeros
// leave "0"); returns the sign.
int take_sign(std::string_view &text) {
  int sign = 1;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    if (text[0] == '-') sign = -1;
    text.remove_prefix(1);
  }
  const size_t zeros = text.find_first_not_of('0');
  if (zeros == std::string_view::npos)
    text = text.substr(text.empty() ? 0 : text.size() - 1);
  else
    text.remove_prefix(zeros);
  return sign;
}

// Compares two comparison texts as signed numbers: sign first, then the
// digits right-aligned, the shorter text read as padded with leading zeros.
int compare_numbers(std::string_view a, std::string_view b) {
  const int sign_a = take_sign(a);
  const int sign_b = take_sign(b);
  if (sign_a != sign_b) return sign_a < sign_b ? -1 : 1;
  const size_t width = std::max(a.size(), b.size());
  const size_t pad_a = width - a.size();
  const size_t pad_b = width - b.size();
  for (size_t i = 0; i < width; ++i) {
    const auto digit_a = static_cast<unsigned char>(i < pad_a ? '0' : a[i - pad_a]);
    const auto digit_b = static_cast<unsigned char>(i < pad_b ? '0' : b[i - pad_b]);
    if (digit_a != digit_b) return digit_a < digit_b ? -sign_a : sign_a;
  }
  return 0;
}

// The sought key of a list search, as compare_keys orders it: made once,
// not once per element the search passes.
struct SortKey {
  SortKey(std::string_view key, int sort_mode)
      : format(is_format_key(key)),
        depth(continuation_depth(key)),
        text(key, depth > 0, sort_mode),
        mode(sort_mode) {}

  bool format;
  long depth;
  ComparisonText text;
  int mode;
};

// Compares the comparison text of `key` with `text` as string_view::compare
// does, making the key's text only up to the first difference: most keys of
// a list differ from the sought one in their first characters.
int compare_text_with(std::string_view key, bool cut_at_tilde, int mode, std::string_view text) {
  const size_t n = std::min(key.size(), MaxKeyLen);
  size_t matched = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = key[i];
    if (cut_at_tilde && c == '~') break;
    if (!is_kept_char(c)) continue;
    if (mode != CaseSensitiveSort) c = upper_ascii(c);
    if (matched == text.size()) return 1;
    const auto mine = static_cast<unsigned char>(c);
    const auto theirs = static_cast<unsigned char>(text[matched++]);
    if (mine != theirs) return mine < theirs ? -1 : 1;
  }
  return matched < text.size() ? -1 : 0;
}

// compare_keys(key, the sought key, its mode).
int compare_with(std::string_view key, const SortKey &sought) {
  const bool format = is_format_key(key);
  if (format != sought.format) return format ? -1 : 1;
  const long depth = continuation_depth(key);
  const int result =
      sought.mode == NumberSort
          ? compare_numbers(ComparisonText(key, depth > 0, NumberSort).view(), sought.text.view())
          : compare_text_with(key, depth > 0, sought.mode, sought.text.view());
  if (result != 0) return result;
  if (depth == sought.depth) return 0;
  if (depth < 0) return 1;
  if (sought.depth < 0) return -1;
  return depth < sought.depth ? -1 : 1;
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
  file.Duplicates.clear();
  file.GeneralBlock = nullptr;
  file.ActiveBlock = nullptr;
  file.SelectedBlock = nullptr;
  file.LastBlockInFile = nullptr;
  file.CompactedLastEnd = 0;
  file.Channel.reset();
  file.Buffer.reset();
  file.Used = false;
  file.Name.clear();
  file.Version = Data_Format_Version{};
  file.BlockBoundary = DefaultBlockBoundary;
  file.Flags = Data_File_Flags{};
  file.Flags.NoGeneralHeader = gSettings.GeneralBlock == 0;
  file.NextSequenceNumber = 1;
  file.OffGridHeaderEnd = false;
  file.Draft = HeaderDraft{};
  file.Memo.reset();
  std::string().swap(file.WriteBuffer);
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
  return upper_ascii(key[0]) == 'K' && upper_ascii(key[1]) == 'V' && upper_ascii(key[2]) == 'X' &&
         key[3] == '_';
}

long continuation_depth(std::string_view key) {
  // Most keys have no tilde: they need no trimming.
  if (key.find('~') == std::string_view::npos) return 0;
  key = trim(key);
  size_t tilde = key.find('~');
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
  return compare_with(key1, SortKey(key2, mode));
}

std::string cut_key(std::string_view key) {
  if (key.size() <= MaxKeyLen) return std::string(key);
  std::string text(key);
  std::fprintf(stderr, "\nWARNING: The length %zu | %lu of %10s... exceeds %d\n", key.size(),
               static_cast<unsigned long>(key.size()), text.c_str(), static_cast<int>(MaxKeyLen));
  return text.substr(0, MaxKeyLen);
}

std::string keyorder_text(std::string_view key) {
  return std::string(ComparisonText(key, false, UpperCaseSort).view());
}

bool keyorder_match_texts(std::string_view p, std::string_view k) {
  size_t pi = 0;
  size_t ki = 0;
  while (pi < p.size()) {
    if (p[pi] == '*') {
      ++pi;
      if (pi == p.size()) return true;
      // Advance the key to the next occurrence of the character after the
      // star; later occurrences are not tried.
      size_t next = k.find(p[pi], ki);
      if (next == std::string_view::npos) return false;
      ki = next;
      continue;
    }
    if (ki >= k.size() || k[ki] != p[pi]) return false;
    ++pi;
    ++ki;
  }
  return ki == k.size();
}

bool keyorder_match(std::string_view pattern, std::string_view key) {
  return keyorder_match_texts(ComparisonText(pattern, false, UpperCaseSort).view(),
                              ComparisonText(key, false, UpperCaseSort).view());
}

// ---------------------------------------------------------------------------
// Lists.  Chains and symbols are looked for from the end of their list;
// blocks from the block found last, so that a file of many blocks is built
// and read in linear time whether its images ascend or descend.

namespace {

// The place of `sought` in a sorted list: the element of an equal key
// (`equal` set) or the one it belongs before.  The search goes from `start`
// forwards while the elements order before `sought`, else backwards.
template <typename List, typename KeyOf>
typename List::iterator find_place_from(List &list, typename List::iterator start,
                                        const SortKey &sought, KeyOf key_of, bool &equal) {
  equal = false;
  auto it = start;
  if (it != list.end()) {
    const int order = compare_with(key_of(*it), sought);
    if (order == 0) {
      equal = true;
      return it;
    }
    if (order < 0) {
      for (++it; it != list.end(); ++it) {
        const int next = compare_with(key_of(*it), sought);
        if (next == 0) equal = true;
        if (next >= 0) break;
      }
      return it;
    }
  }
  while (it != list.begin()) {
    auto previous = std::prev(it);
    int order = compare_with(key_of(*previous), sought);
    if (order == 0) {
      equal = true;
      return previous;
    }
    if (order < 0) break;
    it = previous;
  }
  return it;
}

// find_place_from the end of the list.
template <typename List, typename KeyOf>
typename List::iterator find_place(List &list, std::string_view key, int mode, KeyOf key_of,
                                   bool &equal) {
  return find_place_from(list, list.end(), SortKey(key, mode), key_of, equal);
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
  symbol.FormatKey = is_format_key(symbol.Key);
  symbol.Depth = continuation_depth(symbol.Key);
  symbol.SortText = ComparisonText(symbol.Key, symbol.Depth > 0, UpperCaseSort).view();
  return symbol;
}

// compare_with(symbol.Key, sought) for a sought key of UpperCaseSort.
int compare_symbol(const Symbol_Element &symbol, const SortKey &sought) {
  if (symbol.FormatKey != sought.format) return symbol.FormatKey ? -1 : 1;
  const int result = std::string_view(symbol.SortText).compare(sought.text.view());
  if (result != 0) return result < 0 ? -1 : 1;
  if (symbol.Depth == sought.depth) return 0;
  if (symbol.Depth < 0) return 1;
  if (sought.depth < 0) return -1;
  return symbol.Depth < sought.depth ? -1 : 1;
}

const std::string &chain_key_of(const Data_Chain &chain) { return chain.ChainKey; }
const std::string &block_key_of(const Data_Block &block) { return block.BlockKey; }
const std::string &symbol_key_of(const Symbol_Element &symbol) { return symbol.Key; }

}  // namespace

Data_Chain *insert_chain(Data_File &file, std::string_view key) {
  return or_null([&] {
    std::string chain_key = cut_key(key);
    bool equal = false;
    auto place = find_place(file.ChainList, chain_key, UpperCaseSort, chain_key_of, equal);
    if (equal) return &*place;
    // Made in its place only: a chain's table of written blocks allocates
    // when it is made, and the chain of an image is looked for per call.
    Data_Chain &chain = *file.ChainList.emplace(place);
    chain.ChainKey = std::move(chain_key);
    chain.File = &file;
    return &chain;
  });
}

Data_Chain *search_chain(Data_File &file, std::string_view key) {
  bool equal = false;
  auto place = find_place(file.ChainList, key, UpperCaseSort, chain_key_of, equal);
  return equal ? &*place : nullptr;
}

void remove_chain(Data_File &file, Data_Chain &chain) {
  for (Data_Block &block : chain.BlockList) {
    forget_draft(file, block);
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
    auto place = find_place_from(chain.BlockList, chain.LastFound.value_or(chain.BlockList.end()),
                                 SortKey(block.BlockKey, NumberSort), block_key_of, equal);
    if (!equal) {
      const auto restored = restore_written(chain, block.BlockKey, place);
      place = restored != chain.BlockList.end() ? restored
                                                : chain.BlockList.emplace(place, std::move(block));
    }
    chain.LastFound = place;
    return &*place;
  });
}

Data_Block *search_block(Data_Chain &chain, std::string_view key) {
  return or_null([&]() -> Data_Block * {
    bool equal = false;
    auto place = find_place_from(chain.BlockList, chain.LastFound.value_or(chain.BlockList.end()),
                                 SortKey(key, NumberSort), block_key_of, equal);
    if (!equal) {
      place = restore_written(chain, key, place);
      if (place == chain.BlockList.end()) return nullptr;
    }
    chain.LastFound = place;
    return &*place;
  });
}

std::list<Data_Block>::iterator list_place(Data_Chain &chain, const Data_Block &block) {
  // Mostly the block found or inserted last: the image just written.
  if (chain.LastFound && *chain.LastFound != chain.BlockList.end() && &**chain.LastFound == &block)
    return *chain.LastFound;
  bool equal = false;
  auto place = find_place_from(chain.BlockList, chain.LastFound.value_or(chain.BlockList.end()),
                               SortKey(block.BlockKey, NumberSort), block_key_of, equal);
  return equal && &*place == &block ? place : chain.BlockList.end();
}

namespace {

using SymbolIterator = std::list<Symbol_Element>::iterator;

// Indexes the list anew when it was changed without the index: the "KVX_"
// keys lead the list, the others follow in sorted order.
void check_index(Data_Block &block) {
  settle_header(block);
  if (block.SymbolList.size() == block.FormatSymbols + block.SymbolIndex.size()) return;
  block.SymbolIndex.clear();
  block.FormatSymbols = 0;
  for (auto it = block.SymbolList.begin(); it != block.SymbolList.end(); ++it) {
    if (it->FormatKey)
      ++block.FormatSymbols;
    else
      block.SymbolIndex.push_back(it);
  }
}

// The first indexed symbol that does not order before `sought`.
size_t index_place(const Data_Block &block, const SortKey &sought) {
  const auto found = std::partition_point(
      block.SymbolIndex.begin(), block.SymbolIndex.end(),
      [&sought](SymbolIterator symbol) { return compare_symbol(*symbol, sought) < 0; });
  return static_cast<size_t>(found - block.SymbolIndex.begin());
}

bool index_holds(const Data_Block &block, size_t place, const SortKey &sought) {
  return place < block.SymbolIndex.size() && compare_symbol(*block.SymbolIndex[place], sought) == 0;
}

// Where the "KVX_" keys end.
SymbolIterator head_end(Data_Block &block) {
  return block.SymbolIndex.empty() ? block.SymbolList.end() : block.SymbolIndex.front();
}

}  // namespace

SymbolIterator insert_symbol_at(Data_Block &block, std::string_view key, std::string_view value) {
  check_index(block);
  Symbol_Element symbol = make_symbol(block, key, value);
  const SortKey sought(symbol.Key, UpperCaseSort);
  if (sought.format) {
    bool equal = false;
    auto place = find_place_from(block.SymbolList, head_end(block), sought, symbol_key_of, equal);
    if (equal) {
      place->Value = std::move(symbol.Value);
      return place;
    }
    auto inserted = block.SymbolList.emplace(place, std::move(symbol));
    ++block.FormatSymbols;
    return inserted;
  }
  const size_t place = index_place(block, sought);
  if (index_holds(block, place, sought)) {
    block.SymbolIndex[place]->Value = std::move(symbol.Value);
    return block.SymbolIndex[place];
  }
  if (block.SymbolIndex.size() == block.SymbolIndex.capacity())
    block.SymbolIndex.reserve(std::max<size_t>(32, 2 * block.SymbolIndex.size()));
  auto inserted = block.SymbolList.emplace(
      place < block.SymbolIndex.size() ? block.SymbolIndex[place] : block.SymbolList.end(),
      std::move(symbol));
  block.SymbolIndex.insert(block.SymbolIndex.begin() + static_cast<std::ptrdiff_t>(place),
                           inserted);
  return inserted;
}

Symbol_Element *insert_symbol(Data_Block &block, std::string_view key, std::string_view value) {
  return or_null([&] { return &*insert_symbol_at(block, key, value); });
}

Symbol_Element *insert_root_symbol(Data_Block &block, std::string_view key,
                                   std::string_view value) {
  return or_null([&] {
    Symbol_Element symbol = make_symbol(block, key, value);
    remove_symbol(block, symbol.Key);
    Symbol_Element &inserted = block.SymbolList.emplace_front(std::move(symbol));
    ++block.FormatSymbols;
    return &inserted;
  });
}

Symbol_Element *search_symbol(Data_Block &block, std::string_view key) {
  check_index(block);
  const SortKey sought(key, UpperCaseSort);
  if (sought.format) {
    for (auto it = block.SymbolList.begin(); it != head_end(block); ++it)
      if (compare_symbol(*it, sought) == 0) return &*it;
    return nullptr;
  }
  const size_t place = index_place(block, sought);
  return index_holds(block, place, sought) ? &*block.SymbolIndex[place] : nullptr;
}

void remove_symbol(Data_Block &block, std::string_view key) {
  check_index(block);
  const SortKey sought(key, UpperCaseSort);
  if (sought.format) {
    for (auto it = block.SymbolList.begin(); it != head_end(block);) {
      if (compare_symbol(*it, sought) == 0) {
        it = block.SymbolList.erase(it);
        --block.FormatSymbols;
      } else {
        ++it;
      }
    }
    return;
  }
  const size_t place = index_place(block, sought);
  size_t end = place;
  while (index_holds(block, end, sought)) ++end;
  for (size_t n = place; n < end; ++n) block.SymbolList.erase(block.SymbolIndex[n]);
  block.SymbolIndex.erase(block.SymbolIndex.begin() + static_cast<std::ptrdiff_t>(place),
                          block.SymbolIndex.begin() + static_cast<std::ptrdiff_t>(end));
}

SymbolIterator erase_symbol(Data_Block &block, SymbolIterator symbol) {
  check_index(block);
  if (symbol->FormatKey) {
    --block.FormatSymbols;
    return block.SymbolList.erase(symbol);
  }
  const SortKey sought(symbol->Key, UpperCaseSort);
  for (size_t n = index_place(block, sought); index_holds(block, n, sought); ++n)
    if (block.SymbolIndex[n] == symbol) {
      block.SymbolIndex.erase(block.SymbolIndex.begin() + static_cast<std::ptrdiff_t>(n));
      break;
    }
  return block.SymbolList.erase(symbol);
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

int kvx_set_binary_files_outside(int flag) {
  kvxio::gSettings.BinaryFilesOutside = flag;
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
int kvx_get_binary_files_outside() { return kvxio::gSettings.BinaryFilesOutside; }

void kvx_reset_settings() { kvxio::gSettings = kvxio::Settings{}; }
