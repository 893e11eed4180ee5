// Header drafts: the log of the calls that fill the header of a new block,
// its replay into the symbol list, and the remembered output order that
// lets the next header of the same keys be written from its log.
#include <new>
#include <unordered_map>
#include <utility>

#include "kvxio_internal.h"

namespace kvxio {
namespace {

// A header is logged only while it is new and empty, for a block of a file
// on disk other than the general block.
bool may_draft(const Data_Block &block, const Data_File &file) {
  return block.SymbolList.empty() && !block.Flags.DiskBlockUsed && !block.Flags.InternalHeader &&
         !block.Flags.HeaderExternal && !block.Flags.BadBlock && file.GeneralBlock != &block &&
         !file.Flags.TemporaryFile;
}

// The log of `block`, started when the block may have one; null otherwise.
HeaderDraft *log_of(Data_Block &block) {
  Data_File *file = file_or_null(block);
  if (file == nullptr) return nullptr;
  HeaderDraft &draft = file->Draft;
  if (draft.Block == &block) return &draft;
  if (!may_draft(block, *file)) return nullptr;
  // Only the active block is filled; a log left by a block whose write
  // failed is replayed into it before the log is reused.
  if (draft.Block != nullptr) settle_header(*draft.Block);
  draft.Block = &block;
  draft.Used = 0;
  draft.Learning = nullptr;
  return &draft;
}

// Logs a call; false when memory ran out (the log is as it was).
bool log_entry(HeaderDraft &draft, DraftEntry::Kind op, bool quoted, std::string_view key,
               std::string_view value) {
  try {
    if (draft.Used == draft.Entries.size()) draft.Entries.emplace_back();
    DraftEntry &entry = draft.Entries[draft.Used];
    entry.Op = op;
    entry.Quoted = quoted;
    // The entries of one run mostly have the keys they had before.
    if (entry.Key != key) entry.Key.assign(key);
    entry.Value.assign(value);
  } catch (const std::bad_alloc &) {
    return false;
  }
  ++draft.Used;
  return true;
}

// Logs a call on `block`, or replays the log when the call cannot be logged.
bool log_call(Data_Block &block, DraftEntry::Kind op, bool quoted, std::string_view key,
              std::string_view value) {
  HeaderDraft *draft = log_of(block);
  if (draft == nullptr) return false;
  if (log_entry(*draft, op, quoted, key, value)) return true;
  settle_header(block);
  return false;
}

void append_stored(const DraftEntry &entry, std::string &text) {
  if (entry.Quoted) text += '"';
  text += entry.Value;
  if (entry.Quoted) text += '"';
}

// Makes the call an entry stands for.  False when memory ran out.
bool replay(Data_Block &block, const DraftEntry &entry) {
  switch (entry.Op) {
    case DraftEntry::Text:
      // Logged values are the same at every line width of 0 or less.
      return insert_string(block, entry.Key, entry.Value, 0);
    case DraftEntry::Raw:
      return insert_symbol(block, entry.Key, entry.Value) != nullptr;
    case DraftEntry::Root:
      return insert_root_symbol(block, entry.Key, entry.Value) != nullptr;
    case DraftEntry::Remove:
      remove_symbol(block, entry.Key);
      return true;
  }
  return false;
}

// The memo of a log whose entries each made a symbol of their own, found in
// `order`; none when an entry changed or removed another one's symbol.
std::optional<HeaderMemo> memo_of(const HeaderDraft &draft,
                                  const std::vector<Symbol_Element *> &order) {
  std::unordered_map<std::string_view, uint32_t> entry_of_key;
  for (uint32_t n = 0; n < draft.Used; ++n) {
    const DraftEntry &entry = draft.Entries[n];
    if (entry.Op != DraftEntry::Remove && !entry_of_key.emplace(entry.Key, n).second)
      return std::nullopt;
  }
  // A symbol holds its first key text, so a key inserted twice is one
  // symbol: fewer symbols than inserts.
  if (order.size() != entry_of_key.size()) return std::nullopt;
  HeaderMemo memo;
  memo.HeaderSizeEntry = draft.Used;
  std::string stored;
  for (const Symbol_Element *symbol : order) {
    const auto found = entry_of_key.find(symbol->Key);
    if (found == entry_of_key.end()) return std::nullopt;
    const DraftEntry &entry = draft.Entries[found->second];
    stored.clear();
    append_stored(entry, stored);
    if (entry.Op == DraftEntry::Text && stored != symbol->Value) return std::nullopt;
    if (symbol->Key == "KVX_HeaderSize") memo.HeaderSizeEntry = found->second;
    memo.Order.push_back(found->second);
  }
  memo.Keys.reserve(draft.Used);
  for (size_t n = 0; n < draft.Used; ++n)
    memo.Keys.emplace_back(draft.Entries[n].Op, draft.Entries[n].Key);
  return memo;
}

}  // namespace

bool drafted(const Data_Block &block) {
  const Data_File *file = file_or_null(block);
  return file != nullptr && file->Draft.Block == &block;
}

bool draft_text(Data_Block &block, std::string_view key, std::string_view value) {
  bool quoted = false;
  if (settings().MaxLineWidth > 0 || key.size() > MaxKeyLen || !is_plain_value(value, quoted)) {
    settle_header(block);
    return false;
  }
  return log_call(block, DraftEntry::Text, quoted, key, value);
}

bool draft_symbol(Data_Block &block, DraftEntry::Kind op, std::string_view key,
                  std::string_view value) {
  if (key.size() > MaxKeyLen) {
    settle_header(block);
    return false;
  }
  return log_call(block, op, false, key, value);
}

void settle_header(Data_Block &block, bool learn) {
  if (!drafted(block)) return;
  HeaderDraft &draft = file_of(block).Draft;
  draft.Block = nullptr;
  bool replayed = true;
  try {
    for (size_t n = 0; n < draft.Used && replayed; ++n) replayed = replay(block, draft.Entries[n]);
  } catch (const std::bad_alloc &) {
    replayed = false;
  }
  if (!replayed) block.Flags.BadBlock = true;
  draft.Learning = learn && replayed ? &block : nullptr;
  if (draft.Learning == nullptr) draft.Used = 0;
}

void forget_draft(Data_File &file, const Data_Block &block) {
  if (file.Draft.Block == &block || file.Draft.Learning == &block) {
    file.Draft.Block = nullptr;
    file.Draft.Learning = nullptr;
    file.Draft.Used = 0;
  }
}

const HeaderMemo *draft_memo(const Data_Block &block) {
  const Data_File *file = file_or_null(block);
  if (file == nullptr || file->Draft.Block != &block || !file->Memo) return nullptr;
  const HeaderDraft &draft = file->Draft;
  const HeaderMemo &memo = *file->Memo;
  if (memo.Keys.size() != draft.Used) return nullptr;
  for (size_t n = 0; n < draft.Used; ++n)
    if (memo.Keys[n].first != draft.Entries[n].Op || memo.Keys[n].second != draft.Entries[n].Key)
      return nullptr;
  return &memo;
}

void remember_order(const Data_Block &block, const std::vector<Symbol_Element *> &order) {
  Data_File *file = file_or_null(block);
  if (file == nullptr || file->Draft.Learning != &block) return;
  HeaderDraft &draft = file->Draft;
  if (std::optional<HeaderMemo> memo = memo_of(draft, order)) file->Memo = std::move(memo);
  draft.Learning = nullptr;
  draft.Used = 0;
}

uint64_t draft_entries_length(const Data_Block &block) {
  const HeaderDraft &draft = file_of(block).Draft;
  uint64_t length = 0;
  for (size_t n = 0; n < draft.Used; ++n) {
    const DraftEntry &entry = draft.Entries[n];
    if (entry.Op != DraftEntry::Remove)
      length += entry_length(entry.Key, entry.Value, entry.Quoted);
  }
  return length;
}

void set_draft_header_size(Data_Block &block, std::string_view size) {
  HeaderDraft &draft = file_of(block).Draft;
  const HeaderMemo &memo = *file_of(block).Memo;
  if (memo.HeaderSizeEntry < draft.Used) draft.Entries[memo.HeaderSizeEntry].Value.assign(size);
}

void append_draft_entries(const Data_Block &block, std::string &text) {
  const HeaderDraft &draft = file_of(block).Draft;
  // Made in place: the entries are a third of the cost of writing the block.
  const size_t begin = text.size();
  text.resize(begin + draft_entries_length(block));
  char *at = text.data() + begin;
  char *value_at = nullptr;
  for (uint32_t n : file_of(block).Memo->Order) {
    const DraftEntry &entry = draft.Entries[n];
    at = put_entry(at, entry.Key, entry.Value, entry.Quoted, value_at);
  }
}

void finish_draft(Data_Block &block) {
  if (Data_File *file = file_or_null(block)) forget_draft(*file, block);
}

}  // namespace kvxio
