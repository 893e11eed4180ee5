// bslio: reader of BSL data sets.
//
// A BSL data set is a text header file that names binary files of 32-bit
// float frames.  Its lines are:
//
//   1        title (free text)
//   2        subtitle (free text)
//   3, 5, …  indicator of memory 1, 2, …: at least 10 integers, of which the
//            first three are used: W (values per row), H (rows), F (frames)
//   4, 6, …  binary file of that memory, relative to the header's directory
//
// Frame k (from 1) of a memory lies at byte (k - 1) * W * H * 4 of the
// memory's binary file and is W * H * 4 bytes long.  The reader describes
// memories and frames; it never reads binary data.
//
// Streams are slots 0 to 19 of a process-wide table.  Every text and data
// description handed out belongs to the table and stays valid until the
// stream is closed.  Failures are reported by -1 or a null result; nothing is
// printed except the table listing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Where and how one frame is stored.
struct BslDataSpec {
  std::string BinaryFileName;  // header directory + "/" + memory file name
  std::uint64_t BinaryFilePos = 0;
  std::uint64_t BinaryFileLen = 0;
  std::vector<long> Dim;  // {2, W, H}
  // The reader sets FloatIEEE32, the host's byte order, raster
  // configuration 1 and UnCompressed for every frame.
  long DataType = 0;
  long ByteOrder = 0;
  long RasterConfiguration = 1;
  long Compression = 0;
};

// Compare modes of the memory and frame lists.
enum BslCompareMode : int {
  BslCaseSensitive = 0,    // text, at most 80 characters
  BslCaseInsensitive = 1,  // text without regard to case, at most 80 characters
  BslNumber = 2,           // as numbers when both keys are whole decimal integers, else as mode 1
};

// Negative, 0 or positive like strcmp.  A mode outside the enumeration is a
// programming error: "compare: Invalid smode" and exit -1.
int bsl_compare_keys(const std::string &a, const std::string &b, int mode);

// Opens a header file in mode "old" (read/write, must exist), "any" (as
// "old") or "read" (read only) and reads its description.  A header file
// cannot be created, so "new" (and "any" on a missing file) opens nothing
// and leaves the file system untouched, as does every other mode.  Fails for
// a name of 512 characters or more, a missing title or subtitle line, an
// indicator of fewer than 10 integers, W or H below 1, frames whose byte
// positions do not fit 64 bits, more frames than the reader may hold, and an
// indicator or file name line longer than 511 characters.  Title lines
// longer than 511 characters are cut.  Returns the stream or -1.
[[nodiscard]] int open_bsl_file(const char *fname, const char *mode);

// Frees the slot.  0, or -1 when closing the header file failed (the slot is
// freed anyway); a stream that is not open is accepted.
int close_bsl_file(int stream);

// The title and subtitle lines, or nulls for a free slot.
void read_bsl_file_headers(int stream, const char **first, const char **second);

// Lowest and highest memory number.  0, or -1 for a free slot or no memories.
int bsl_memory_range(int stream, long *pMinMem, long *pMaxMem);

// Lowest and highest frame number of a memory.  0, or -1 for a free slot, a
// memory number without memory, or a memory without frames.
int bsl_frame_range(int stream, long memnum, long *pMinFrame, long *pMaxFrame);

// The description of a frame, or null.
const BslDataSpec *read_bsl_data_spec(int stream, long memnum, long framenum);

// Lists the table on out: nothing for level <= 0; memories from level 2,
// frames from level 3; keys only unless verbose.
void print_bsl_filetable(std::FILE *out, int level, int verbose);

// Closes every stream and forgets the table, for tests.
void bsl_reset_table();
