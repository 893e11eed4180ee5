// Read side of the KVX data file library: the header tokenizer, the scans
// of an existing file and the opening of existing files.  Internal to the
// library, like kvxio_internal.h.
//
// Header text, as the tokenizer sees it: a header begins with "{" (maybe
// after one CR and one LF) and ends with "}" followed by LF (maybe with one
// CR between).  In between stand entries "key = value ;"; white space and
// ";" between entries are skipped, text up to a line end or ";" without "="
// is ignored, and a line that begins with "#" is a comment.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "kvxio_internal.h"

namespace kvxio {

// ---------------------------------------------------------------------------
// Tokenizer, on the stream's current position, or on a window of the file's
// bytes read at once.

// The functions taking a ByteWindow read its end as the end of the file and
// print nothing: a header that the window cuts short fails there and is
// read again from the stream, which gives the message.

// Outcome of check_start.
enum class HeaderStart {
  Found,      // "{", after an optional CR and LF
  EndOfFile,  // the file ends first
  ZeroByte,   // a zero byte: no text at all
  Other,      // any other byte
};
HeaderStart check_start(std::FILE *f);
HeaderStart check_start(ByteWindow &window);

// Outcome of check_end.
enum class HeaderEnd {
  Found,           // "}" followed by LF (optionally CR LF)
  Other,           // any other byte (a byte read after "}" is pushed back)
  EndOfFile,       // the end of the file, or a zero byte
  PushBackFailed,  // the byte read after "}" could not be pushed back
};
HeaderEnd check_end(std::FILE *f);

// Outcome of search_end.
enum class EndSearch {
  Found,      // the stream stands right after the end marker
  EndOfFile,  // the end of the file or a zero byte came first
  Failed,     // positioning failed ("search_end->fseek"), or a push-back
};

// Finds the end marker CR LF "}" LF of the header that begins at `start`.
// With a step of 4 or more, only markers that end at start + k * step are
// taken (the first one); with a smaller step the first "}" followed by a
// line end.  `expected_size`, when it is a multiple of the step, is the
// header size stated in the header: the search then reads the header in one
// go.  `buffer` holds the bytes read at once; a walk over many headers
// passes the same one.
EndSearch search_end(std::FILE *f, std::vector<unsigned char> &buffer, uint64_t start,
                     uint64_t step, uint64_t expected_size = 0);
EndSearch search_end(std::FILE *f, uint64_t start, uint64_t step, uint64_t expected_size = 0);

// The grid search of search_end within a window (a step of 4 or more): true
// with the position after the marker in `end` when the window holds the
// first marker; false when it does not decide (no marker in it, or a zero
// byte first, which the search on the stream then reports).
bool search_grid_end(const ByteWindow &window, uint64_t start, uint64_t step, uint64_t &end);

// Outcome of get_key.
enum class KeyRead {
  Key,        // `key` holds at most 64 characters, `pos` its file position;
              // the stream stands after "="
  HeaderEnd,  // the header's end marker was read
  Broken,     // broken header (message printed)
};
KeyRead get_key(std::FILE *f, std::string &key, uint64_t &pos);

// Reads a value up to its ";" (kept: at most 512 characters, one white-space
// character before ";" dropped), `pos` its file position.  False when no
// terminator comes before the end of the file (message printed).
bool get_val(std::FILE *f, std::string &value, uint64_t &pos);
// The same within a window of bytes (the end of the window reads as the end
// of the file); messages are printed too, with positions of the window.
KeyRead get_key(ByteWindow &window, std::string &key, uint64_t &pos);
bool get_val(ByteWindow &window, std::string &value, uint64_t &pos);

// The caller's text of a stored value: quotes, escapes and line
// continuations undone.
std::string decode_value(std::string_view stored);

// Outcome of get_symbol_list.
enum class SymbolsRead {
  HeaderEnd,  // every key up to the header's end marker was read
  Stopped,    // stopped before a key that is not a "KVX_" key (`all` false)
  Broken,     // broken header, or a symbol that cannot be stored
};

// Reads "key = value" pairs into the block's symbol list.  With `all` false
// it stops at the first key that is not a "KVX_" key and leaves the stream at
// that key.
SymbolsRead get_symbol_list(std::FILE *f, Data_Block &block, bool all);
SymbolsRead get_symbol_list(ByteWindow &window, Data_Block &block, bool all);

// Parses an unsigned decimal number of the format keys (sizes, positions),
// surrounding white space allowed.  False for anything else, a sign, or a
// value beyond 64 bits.
bool parse_unsigned(std::string_view text, uint64_t &value);

// ---------------------------------------------------------------------------
// Diagnostics about damaged files, on the error stream.

void print_file_warning(const Data_File &file, uint64_t pos, const char *text);
void print_file_error(const Data_File &file, uint64_t pos, const char *text);

// ---------------------------------------------------------------------------
// Scans of an existing file.

// Reads the first header: a general block, or learns that there is none
// (then the file is rewound).  False when the file is not a KVX file or its
// first header is unreadable (message printed).
bool read_general_block(Data_File &file);

// Outcome of locate_block.
enum class Locate { Located, EndOfFile, Defect, Failed };

// Locates the block at the stream's position and records it as the last
// block in the file, which is `length` bytes long.  Defect: the walk cannot
// go on (warning printed); Failed: the in-memory records could not be made.
Locate locate_block(Data_File &file, uint64_t length);

// The directory of a file's name followed by "/"; the working directory
// for a name without "/" (empty when that cannot be had).  Separate binary
// files are named relative to it.
std::string directory_of(const std::string &name);

// The length of the file behind a stream; 0 when it cannot be had.
uint64_t file_length(std::FILE *f);

// Reads the header of a block known by its position only.  False when it
// cannot be read.
bool get_data_header(Data_Block &block);

// The decoded value of `key` (with its continuation keys joined) in the
// block, or, for keys that do not begin with "KVX_", in the general block;
// null when absent.  The text is the symbol's String cache.
const std::string *search_general(Data_Block &block, std::string_view key);

// ---------------------------------------------------------------------------
// Opening existing files.

// Makes the stream of an existing file, for reading and writing ("old") or
// for reading only ("read"), on the regular file opened as `fd` (which then
// belongs to the entry, and is closed when no stream can be made), and
// marks the entry as an existing file.
void open_old_channel(Data_File &file, bool read_only, int fd);

// Opens the stream for mode "any": an existing file for reading and
// writing (marked as existing), else a new file.  An existing file is never
// truncated: the new file is created exclusively, and a file that appears
// meanwhile is opened as it is.
void open_any_channel(Data_File &file);

// Reads the structure of an existing file: its first header, then every
// block up to the end of the file.  A defect that stops the walk fails the
// open (ErrorLocatingBlocks) unless the file is opened for reading only.
// ErrorReadingGeneralBlock when the file is not a KVX file or its first
// header is unreadable; CouldNotFindHeader when `must_hold_block` and the
// file holds no block.
int read_existing_file(Data_File &file, bool must_hold_block);

// Opens a BSL data set as a read-only file: the title lines go into the
// general block ("Title", "SubTitle"), each memory becomes a chain and each
// frame a block whose data lie in the memory's binary file.  Returns the
// stream or -1 with the error value.
int open_as_bsl_file(const char *fname, int &error);

// Lists the entries in use of the file table (debug output).
void print_file_table(std::FILE *out);

}  // namespace kvxio
