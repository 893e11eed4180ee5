// Written blocks kept as their place in the file only.  A written block
// must stay findable: an image is never written twice, and may be read back
// or have its header rewritten.  Once its header and data are dropped, all
// it still needs is its number, its place and sizes, and its sequence
// number: 32 bytes in the chain's table instead of a whole block in its
// list.  A caller that addresses it gets the whole block back.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <new>
#include <string>

#include "kvxio_internal.h"

namespace kvxio {
namespace {

using Table = std::deque<Written_Block>;

// The flags that drop_written leaves on a written block: its place is
// fixed, header and data are on disk only.
constexpr Data_Block_Flags DroppedFlags{
    .DiskBlockUsed = true, .DiskBlockFixed = true, .HeaderExternal = true, .DataExternal = true};

// The number whose decimal text equals `key` as block keys compare
// (NumberSort): characters outside '!' to '~' and those beyond the 64th do
// not count, nor do a leading plus and leading zeros, so "007", " 7" and
// "+7" are 7.  False for a key that equals no such text: a continuation
// key, letters, "-0" (its minus orders it apart from "0"), a number beyond
// the range of long.
bool key_number(std::string_view key, long &number) {
  if (key.find('~') != std::string_view::npos) return false;
  key = key.substr(0, std::min(key.size(), MaxKeyLen));
  bool negative = false;
  bool begun = false;
  unsigned long magnitude = 0;
  for (char c : key) {
    if (c <= ' ' || c >= 0x7f) continue;
    if (!begun && (c == '+' || c == '-')) {
      negative = c == '-';
      begun = true;
      continue;
    }
    begun = true;
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<unsigned long>(c - '0');
    if (magnitude > (LONG_MAX - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  if (negative && magnitude == 0) return false;
  number = negative ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
  return true;
}

// True when `key` is the decimal text of `number` as std::to_string writes
// it: only such a key is made again from the number.
bool is_decimal_text(std::string_view key, long number) {
  char text[24];
  const auto written = std::to_chars(text, text + sizeof text, number);
  return key == std::string_view(text, static_cast<size_t>(written.ptr - text));
}

// True for a block that a record holds whole: a data block of a file open
// for writing, written and dropped, its data behind its header in this
// file, under a decimal number.  `number` receives the number.
bool is_compactable(const Data_Block &block, long &number) {
  const Data_Chain *chain = block.Chain;
  if (chain == nullptr || chain->File == nullptr) return false;
  const Data_File &file = *chain->File;
  if (file.Flags.ReadOnlyFile || file.Flags.TemporaryFile || &block == file.GeneralBlock)
    return false;
  return block.Flags == DroppedFlags && block.SymbolList.empty() && block.Data == nullptr &&
         block.DataDim.empty() && block.Raw.empty() && block.BinaryFileName.empty() &&
         block.BinaryPos == block.TextPos + block.TextLen &&
         block.BinaryFilePos == block.BinaryPos && block.BinaryFileLen == block.BinaryLen &&
         block.TextLen <= UINT32_MAX && block.SequenceNumber <= UINT32_MAX &&
         key_number(block.BlockKey, number) && is_decimal_text(block.BlockKey, number);
}

// The first record whose number is not below `number`.  Images mostly come
// in ascending or in descending order: the ends are tried first.
Table::iterator lower_place(Table &table, long number) {
  if (table.empty() || number > table.back().Number) return table.end();
  if (number <= table.front().Number) return table.begin();
  return std::lower_bound(table.begin(), table.end(), number,
                          [](const Written_Block &record, long n) { return record.Number < n; });
}

uint64_t end_of(const Data_Block &block) { return block.TextPos + block.TextLen + block.BinaryLen; }

}  // namespace

void compact_written(Data_Block *block) {
  long number = 0;
  if (block == nullptr || !is_compactable(*block, number)) return;
  Data_Chain &chain = *block->Chain;
  const auto listed = list_place(chain, *block);
  if (listed == chain.BlockList.end()) return;
  Table &table = chain.Written;
  const auto place = lower_place(table, number);
  // Keys are unique across list and table; a record of the number would
  // be an older copy, and the block stays whole rather than shadow it.
  if (place != table.end() && place->Number == number) return;
  try {
    table.insert(place, Written_Block{number, block->TextPos, block->BinaryLen,
                                      static_cast<uint32_t>(block->TextLen),
                                      static_cast<uint32_t>(block->SequenceNumber)});
  } catch (const std::bad_alloc &) {
    return;  // the block stays whole
  }
  forget_block(*chain.File, *block);
  const bool hint = chain.LastFound == listed;
  const auto next = chain.BlockList.erase(listed);
  if (hint) chain.LastFound = next;
}

std::list<Data_Block>::iterator restore_written(Data_Chain &chain, std::string_view key,
                                                std::list<Data_Block>::iterator place) {
  Table &table = chain.Written;
  long number = 0;
  if (table.empty() || !key_number(key, number)) return chain.BlockList.end();
  const auto found = lower_place(table, number);
  if (found == table.end() || found->Number != number) return chain.BlockList.end();
  const auto restored = chain.BlockList.emplace(place, written_block(chain, *found));
  table.erase(found);
  Data_File &file = *chain.File;
  if (file.LastBlockInFile == nullptr && end_of(*restored) == file.CompactedLastEnd)
    file.LastBlockInFile = &*restored;
  return restored;
}

Data_Block written_block(Data_Chain &chain, const Written_Block &record) {
  Data_Block block;
  block.BlockKey = std::to_string(record.Number);
  block.TextPos = record.TextPos;
  block.TextLen = record.TextLen;
  block.BinaryPos = block.BinaryFilePos = record.TextPos + record.TextLen;
  block.BinaryLen = block.BinaryFileLen = record.BinaryLen;
  block.SequenceNumber = record.SequenceNumber;
  block.Flags = DroppedFlags;
  block.Chain = &chain;
  return block;
}

uint64_t end_of_blocks(const Data_File &file) {
  const Data_Block *last = file.LastBlockInFile;
  return last != nullptr ? end_of(*last) : file.CompactedLastEnd;
}

}  // namespace kvxio
