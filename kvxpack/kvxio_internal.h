// Internal model of the KVX data file library, shared by its write and read
// sides.  Not for callers of the library: they use kvxio.h.
//
// Every open file is a record of the file table (20 entries, indexed by the
// stream number).  A file holds data chains, a chain holds data blocks, a
// block holds its header symbols.  Every list is kept sorted by
// compare_keys; list elements never move in memory, so pointers to chains,
// blocks and symbols stay valid until the element is removed.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <list>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvxio.h"

namespace kvxio {

// ---------------------------------------------------------------------------
// Limits, each with its reason.

// Open files at a time: the size of the file table.
constexpr int MaxFiles = 20;
// Characters of a key, chain key or block key; longer keys are cut.
constexpr size_t MaxKeyLen = 64;
// Characters of a value read from a header.
constexpr size_t MaxValLen = 512;
// Characters of one stored value piece, quotes and line breaks included; a
// longer value continues under "key~1", "key~2", ...
constexpr size_t MaxLinLen = 255;
// Data chains a file is expected to hold (reported only).
constexpr int MaxDataChains = 20;
// Bytes of the stream buffer of each file.
constexpr size_t BufferSize = 512;
// Dimensions of a data array (reported only).
constexpr int MaxDimensions = 512;
// Grid of header and binary sizes unless a general block states another.
constexpr uint64_t DefaultBlockBoundary = 512;
// Largest block boundary a general block may state: a larger one would pad
// every header and binary section to absurd sizes.
constexpr uint64_t MaxBlockBoundary = 1024 * 1024;
// Largest header size: a header is made whole in memory before it is
// written, and no real header comes near this.
constexpr uint64_t MaxHeaderSize = 64 * 1024 * 1024;
// Smallest header size, so that headers can grow in place.
constexpr unsigned long DefaultMinimumHeaderSize = 8192;
// Characters of the identification texts handed out (block ids).
constexpr size_t IdBufferSize = 193;
// Data format version of new files.
constexpr uint16_t FormatMajor = 2;
constexpr uint16_t FormatMinor = 40;

// Modes of compare_keys.
enum SortMode : int {
  CaseSensitiveSort = 0,
  UpperCaseSort = 1,
  NumberSort = 2,
};

// Fixed names of the format.
inline constexpr std::string_view GeneralChainKey = "General";
inline constexpr std::string_view GeneralBlockKey = "All";
inline constexpr std::string_view Undetermined = "Undetermined";

// ---------------------------------------------------------------------------
// The records

struct Data_Block;
struct Data_Chain;
struct Data_File;

// One header entry.
struct Symbol_Element {
  std::string Key;
  std::string Value;    // the stored value text (encoded, maybe quoted)
  uint64_t KeyPos = 0;  // file position of the key, 0 when unknown
  uint64_t ValPos = 0;  // file position of the value text, 0 when unknown
  std::string String;   // first piece only: the caller's whole value (cache)
  // How compare_keys orders the key in UpperCaseSort mode, made once: a
  // symbol is compared many times while a header is built.
  bool FormatKey = false;
  long Depth = 0;
  std::string SortText;
  Data_Block *Block = nullptr;
};

struct Data_Block_Flags {
  bool InternalHeader = false;  // header kept in memory only, never written
  bool InternalData = false;    // data kept in memory only, never written
  bool DiskBlockUsed = false;   // the block has a place in the file
  bool DiskBlockFixed = false;  // its place and sizes are fixed: a rewrite must fit
  bool HeaderExternal = false;  // the header symbols are on disk only
  bool HeaderChanged = false;
  bool DataExternal = false;  // the data are on disk only
  bool DataChanged = false;
  bool ExternalDataAlloc = false;  // the data buffer belongs to the caller
  bool BadBlock = false;           // writing failed once; never tried again

  bool operator==(const Data_Block_Flags &) const = default;
};

struct Data_Block {
  std::string BlockKey;
  uint64_t TextPos = 0;        // file position of the header's "{"
  uint64_t BinaryPos = 0;      // file position of the binary section
  uint64_t TextLen = 0;        // header size
  uint64_t BinaryLen = 0;      // binary size
  uint64_t PadLen = 0;         // padding bytes in the header
  std::string BinaryFileName;  // separate binary file (read side), empty when none
  uint64_t BinaryFilePos = 0;
  uint64_t BinaryFileLen = 0;
  const void *Data = nullptr;  // the data to write, usually the caller's buffer
  size_t DataBufferLen = 0;
  size_t DataLen = 0;
  long DataByteOrder = 0;
  long DataRasterConfiguration = 0;
  long DataCompression = 0;
  long DataType = 0;
  long DataValueOffset = 0;
  std::vector<long> DataDim;       // [n, size_1 .. size_n]; empty when none
  std::vector<unsigned char> Raw;  // compressed data while the block is written
  size_t RawLen = 0;
  Data_Block_Flags Flags;
  uint64_t SequenceNumber = 0;
  std::list<Symbol_Element> SymbolList;  // sorted (UpperCaseSort), KVX_ keys first
  // The symbols of other keys, in list order, for binary searches: a header
  // of a few hundred keys is built without walking its list for every key.
  // Kept by the symbol functions below; a list changed behind their back
  // (cleared) is indexed anew on the next search.
  std::vector<std::list<Symbol_Element>::iterator> SymbolIndex;
  size_t FormatSymbols = 0;  // the "KVX_" keys at the head of the list
  Data_Chain *Chain = nullptr;
};

// A data block whose header and data were written and dropped from memory,
// reduced to what finding it and reading it again needs: a long run writes
// hundreds of thousands of images to one file, and a whole Data_Block for
// each made the memory of a run grow with its length.  Its key is the
// decimal text of Number, its binary section follows its header, and its
// data lie in this file.
struct Written_Block {
  long Number = 0;
  uint64_t TextPos = 0;
  uint64_t BinaryLen = 0;
  uint32_t TextLen = 0;
  uint32_t SequenceNumber = 0;
};

struct Data_Chain {
  std::string ChainKey;
  std::list<Data_Block> BlockList;  // sorted (NumberSort)
  // Written blocks kept as Written_Block, sorted by number; no key of
  // BlockList equals one of theirs (see compact_written).
  std::deque<Written_Block> Written;
  // The block found or inserted last: a search starts there, so that images
  // taken in ascending or in descending order each cost one step.
  std::optional<std::list<Data_Block>::iterator> LastFound;
  Data_File *File = nullptr;
};

struct Data_Format_Version {
  uint16_t Major = FormatMajor;
  uint16_t Minor = FormatMinor;
};

struct Data_File_Flags {
  bool ExistingFile = false;
  bool ReadOnlyFile = false;
  bool TemporaryFile = false;
  bool NoGeneralHeader = true;  // no general block is written
};

// Closes a stream that is dropped without an explicit close.
struct ChannelCloser {
  void operator()(FILE *channel) const { std::fclose(channel); }
};
using ChannelPtr = std::unique_ptr<FILE, ChannelCloser>;

// The header of a new block as the log of the calls that fill it.  Sorting
// every key into the symbol list and ordering the list for output cost more
// than everything else of writing a small image; the images of a run have
// the same keys in the same order, so the output order of one header is
// remembered (HeaderMemo) and the next header that is filled by the same
// calls is written from its log without a symbol list.  A header whose log
// does not match, or that anything else looks at, is made a symbol list by
// replaying its log (settle_header), which gives exactly the list the calls
// would have given.
struct DraftEntry {
  enum Kind : uint8_t {
    Text,    // insert_string of a value that is stored as one piece
    Raw,     // insert_symbol
    Root,    // insert_root_symbol
    Remove,  // remove_symbol
  };
  Kind Op = Text;
  bool Quoted = false;  // Text: stored between quotes
  std::string Key;
  std::string Value;  // the caller's text (Text) or the stored value
};

struct HeaderDraft {
  Data_Block *Block = nullptr;  // the block whose header this is; null for none
  // The entries are kept between blocks so that their texts keep their
  // memory; the first `Used` are this block's.
  std::vector<DraftEntry> Entries;
  size_t Used = 0;
  // The block whose whole log was replayed for its write: the output order
  // found for it is remembered for the next block.
  const Data_Block *Learning = nullptr;
};

struct HeaderMemo {
  // The operations and keys of the log the order was found for.
  std::vector<std::pair<DraftEntry::Kind, std::string>> Keys;
  // Entries of the log in output order.
  std::vector<uint32_t> Order;
  // The entry of "KVX_HeaderSize", or Keys.size() when there is none.
  size_t HeaderSizeEntry = 0;
};

struct Data_File {
  bool Used = false;
  std::string Name;
  // The stream's buffer, declared before Channel so that it is destroyed
  // after the stream that uses it.
  std::unique_ptr<char[]> Buffer;
  ChannelPtr Channel;  // none for a temporary file
  Data_Format_Version Version;
  uint64_t BlockBoundary = DefaultBlockBoundary;
  Data_File_Flags Flags;
  Data_Block *GeneralBlock = nullptr;
  Data_Block *ActiveBlock = nullptr;  // the block being filled
  // The data and chain number that selected ActiveBlock when it was this
  // block: the header calls of one image find it again without a search.
  const Data_Block *SelectedBlock = nullptr;
  long SelectedNumber = 0;
  int SelectedChain = 0;
  uint64_t NextSequenceNumber = 1;
  Data_Block *LastBlockInFile = nullptr;
  // Where the last block ends while it is kept as a Written_Block
  // (LastBlockInFile is then null): the next block is appended there.
  uint64_t CompactedLastEnd = 0;
  // A header whose end was found only byte by byte, off the block grid.  A
  // block appended behind it would put its own end marker on the grid, and
  // the next reader would take that marker as the end of the earlier header,
  // hiding the new block inside it; such a file is therefore not appended to.
  bool OffGridHeaderEnd = false;
  std::list<Data_Chain> ChainList;  // sorted (UpperCaseSort)
  // Blocks found on disk whose key a later block of the same chain holds
  // again, in file order.  The later block is the one a search finds; these
  // are kept so that readers can list every block and report the clash.
  std::deque<Data_Block> Duplicates;
  HeaderDraft Draft;
  std::optional<HeaderMemo> Memo;
  // The text of a block being written, kept for the next block.
  std::string WriteBuffer;
};

// ---------------------------------------------------------------------------
// Process-wide state

// Library settings (kvx_general_block, kvx_headersize, ...).
struct Settings {
  int GeneralBlock = 0;
  int HeaderSize = 1;
  unsigned long MinimumHeaderSize = DefaultMinimumHeaderSize;
  int DataType = 0;
  int DataCompression = 0;
  long DataValueOffset = 0;
  int BslInputByteOrder = 0;
  long MaxLineWidth = 0;
  int BinaryFilesOutside = 0;
};
const Settings &settings();

// The library's debug level (kvxio_debug).
int debug_level();

// The file table entry of a stream number, or null for a number outside
// 0 to 19 (used or not).
Data_File *file_entry(int stream);

// The entry of `stream` when it is in use; else null with the error value
// (InvalidStream, NoFileOpen) in `error`.
Data_File *used_file(int stream, int &error);

// Makes `file` a fresh entry: not used, no name, channel, blocks or chains,
// version 2.40, block boundary 512, NoGeneralHeader unless general-block
// writing is on.
void reset_entry(Data_File &file);

// Frees every chain, closes the channel and resets the entry.  Returns
// false when the channel could not be closed (the entry is reset anyway).
bool free_entry(Data_File &file);

// Creates the general block (chain "General", block "All") with
// "KVX_DataKey-1 = Image.Psd" and makes it the active block; internal (kept
// in memory only) for a temporary file or one without general header.
Data_Block *create_general_block(Data_File &file);

// ---------------------------------------------------------------------------
// Keys

// Orders two keys (negative, 0, positive): "KVX_" keys first, then by the
// comparison text (letters, digits and punctuation only, at most 64
// characters, cut before "~" of a continuation key; upper case in modes 1
// and 2; numbers by value in mode 2), then by continuation depth.
int compare_keys(std::string_view key1, std::string_view key2, int mode);

// 0 without "~"; n for "key~n" with n a positive decimal number; else -1.
long continuation_depth(std::string_view key);

// True when `key` begins with "KVX_", without regard to case.
bool is_format_key(std::string_view key);

// Cuts a key to 64 characters, with a warning on the error stream.
std::string cut_key(std::string_view key);

// True when `key` matches `pattern` of the key order table ("Dim_*").
bool keyorder_match(std::string_view pattern, std::string_view key);
// The text a key or pattern is matched by (its comparison text in upper
// case), and keyorder_match on such texts: the output order of a block
// makes each text once instead of once per pattern.
std::string keyorder_text(std::string_view key);
bool keyorder_match_texts(std::string_view pattern_text, std::string_view key_text);

// ---------------------------------------------------------------------------
// Lists

// The insert functions return null when memory runs out.

// Finds or creates the chain of `key` (cut to 64 characters).
Data_Chain *insert_chain(Data_File &file, std::string_view key);
Data_Chain *search_chain(Data_File &file, std::string_view key);
// Unlinks a chain and frees its blocks; pointers to them must be dropped
// by the caller (active, general and last block are cleared here).
void remove_chain(Data_File &file, Data_Chain &chain);

// Finds or creates the block of `key` (cut to 64 characters).  A block of
// the chain's table of written blocks is found as well, made whole again
// in the list (restore_written).
Data_Block *insert_block(Data_Chain &chain, std::string_view key);
Data_Block *search_block(Data_Chain &chain, std::string_view key);

// Inserts a symbol in sorted order; an existing symbol of an equal key gets
// the new value (its key text stays).
Symbol_Element *insert_symbol(Data_Block &block, std::string_view key, std::string_view value);
// Removes any symbol of `key` (a "KVX_" key) and links the new one in at
// the head.
Symbol_Element *insert_root_symbol(Data_Block &block, std::string_view key, std::string_view value);
Symbol_Element *search_symbol(Data_Block &block, std::string_view key);
// Removes the symbol of `key` if there is one.
void remove_symbol(Data_Block &block, std::string_view key);
// insert_symbol giving the symbol's place in the list; throws
// std::bad_alloc when memory runs out (the list is then as it was).
std::list<Symbol_Element>::iterator insert_symbol_at(Data_Block &block, std::string_view key,
                                                     std::string_view value);
// Removes the symbol at `symbol`; returns the place after it.
std::list<Symbol_Element>::iterator erase_symbol(Data_Block &block,
                                                 std::list<Symbol_Element>::iterator symbol);

// The chain key of a chain number: "General" for 0, else the general
// block's "KVX_DataKey-<n>" or the default ("Image.Psd", "Image.Error",
// "Image.Psd.<n>", "Image.Error.<n>").
std::string chain_key(Data_File &file, int DataChain);

// "<block key>.<chain key>" in the library's identification buffer (valid
// until the next call).
const char *block_id(const Data_Block &block);

// The place of `block` in its chain's list, or the list's end when it is
// not in it.
std::list<Data_Block>::iterator list_place(Data_Chain &chain, const Data_Block &block);

// ---------------------------------------------------------------------------
// Written blocks

// Moves `block` into its chain's table of written blocks and frees it when
// it is a data block of a file open for writing whose header and data are
// on disk only, under a decimal number.  The file's pointers to it are
// cleared.  Any other block, and null, stay as they are.
void compact_written(Data_Block *block);

// Takes the block of `key` out of the chain's table of written blocks and
// links it into BlockList before `place` (where `key` belongs in the list)
// as the block it was when it was compacted.  Returns its place in the
// list, or the list's end when the table holds no block of `key`.  Throws
// std::bad_alloc; the chain is then as it was.
std::list<Data_Block>::iterator restore_written(Data_Chain &chain, std::string_view key,
                                                std::list<Data_Block>::iterator place);

// The block of `record` as restore_written makes it, in no list.
Data_Block written_block(Data_Chain &chain, const Written_Block &record);

// Where the file's last block ends: where the next block is appended.
uint64_t end_of_blocks(const Data_File &file);

// ---------------------------------------------------------------------------
// Header drafts (see HeaderDraft)

// The draft_* calls put one call into the log of `block` and return true,
// or return false when the block has no log (or the value needs the symbol
// list, or memory ran out) and the caller must make the call itself; the
// log is then replayed first.
bool draft_text(Data_Block &block, std::string_view key, std::string_view value);
bool draft_symbol(Data_Block &block, DraftEntry::Kind op, std::string_view key,
                  std::string_view value);
// True when `block` has a log.
bool drafted(const Data_Block &block);
// Replays the log of `block` into its symbol list (nothing when it has
// none).  A block whose log cannot be replayed for want of memory is
// marked bad: it is never written.  With `learn` the log is kept for
// remember_order.
void settle_header(Data_Block &block, bool learn = false);
// Forgets the log of a block that goes away (without replaying it).
void forget_draft(Data_File &file, const Data_Block &block);
// The remembered output order of the block's log, or null when the log
// differs from the one remembered (then settle_header).
const HeaderMemo *draft_memo(const Data_Block &block);
// Remembers the output order `order` of the header of `block` when its log
// was replayed for learning, if the log allows it (each entry made one
// symbol of its own); the log is then dropped.
void remember_order(const Data_Block &block, const std::vector<Symbol_Element *> &order);
// Header bytes of the log's entries ("key = value ;\r\n" each).
uint64_t draft_entries_length(const Data_Block &block);
// For a log that matches the memo: sets the value of "KVX_HeaderSize", and
// appends the entries in output order to a header text.
void set_draft_header_size(Data_Block &block, std::string_view size);
void append_draft_entries(const Data_Block &block, std::string &text);
// Drops the log of a block whose header was written from it.
void finish_draft(Data_Block &block);

// ---------------------------------------------------------------------------
// Writing

// Selects the block (stream, data number, chain number) for writing and
// makes it the active block, writing out the block active before.  Returns
// null with the error value in `error`.
Data_Block *open_write_block(int stream, long DataNumber, int DataChain, int &error);

// Writes a block with changes to the file and drops its header and data
// from memory (not for the general block).  Returns RoutineSucceeded or
// the error value.  A null block is a success.  A block written and dropped
// may be compacted (freed): the caller must not use it after a success.
int disk_write_block(Data_Block *block);

// Stores a caller's value under `key` with continuation keys (see kvxio.h),
// broken for the line width setting or for `width`.  Returns false when the
// value cannot be stored.
bool insert_string(Data_Block &block, std::string_view key, std::string_view value);
bool insert_string(Data_Block &block, std::string_view key, std::string_view value, long width);

// True when str2val stores `text` as it is, in one piece, for any line
// width of 0 or less; `quoted` then tells whether between quotes.
bool is_plain_value(std::string_view text, bool &quoted);

// Puts a caller's value into the header of the addressed block (selecting
// it for writing) and marks the header changed.  Returns RoutineSucceeded or
// the error value.
int write_header_string(int stream, long DataNumber, int DataChain, const char *keyword,
                        std::string_view value);

// Encodes the start of `text` into one stored piece of at most 255
// characters that, broken for the line width at `key_length`, still fits;
// `consumed` receives the number of characters of `text` used.
std::string str2val(std::string_view text, size_t key_length, long max_line_width,
                    size_t &consumed);

// Breaks a stored piece for the line width (backslash, CR, LF at each
// break).  With a width of 0 the text is returned as it is.
std::string breakval(std::string_view stored, size_t key_length, long max_line_width);

// The symbols of a block in output order: the leading "KVX_" keys, then the
// keys matching each pattern of the key order table, then all the rest.
std::vector<Symbol_Element *> keyorder_ordersymbols(Data_Block &block);

// Prints "<label>: <system error text>" on the error stream.
void print_system_error(const char *label);

// Sets the caller's out-parameters (either may be null).
void set_result(int *pErrorValue, int *pstatus, int error);

// Sets the out-parameters from `error` and gives what the public calls
// return: 1 for RoutineSucceeded, 0 otherwise.
inline int report(int error, int *pErrorValue, int *pstatus) {
  set_result(pErrorValue, pstatus, error);
  return error == RoutineSucceeded ? 1 : 0;
}

// Runs `work` (which returns an error value) and turns a failed allocation
// into CouldNotMallocMemory.
template <typename Work>
int guarded(Work work) {
  try {
    return work();
  } catch (const std::bad_alloc &) {
    return CouldNotMallocMemory;
  }
}

}  // namespace kvxio
