// Internal to GetDldFrame: the line index of a DLD header file and a cursor
// that reads it line by line like repeated 128-byte line reads would, but
// can skip any number of lines or jump past the next terminator line at once.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "GetDldFrame.h"

namespace dld_internal {

// Where the lines of a header file begin, and which lines are terminator
// lines (leading integer -1).  The file is indexed sparsely, every 32nd line
// and the terminators, and read through a few small windows: a header file
// grows with the frames of a run, and neither the file nor one position per
// line is kept in memory.  A stream without a descriptor is kept whole.
class HeaderIndex {
 public:
  // Indexes the whole file of the stream (a stream without a descriptor from
  // its current position); false on a read error, for a file beyond
  // kDldMaxHeaderFileBytes, or when memory runs out.
  [[nodiscard]] bool Load(FILE *stream);
  // Lines are read through this stream's descriptor from now on: an index
  // is reused for a later stream of the same file.
  void Attach(FILE *stream);

  std::size_t LineCount() const { return lineCount_; }
  // Different for every load: what was read through one index stays true
  // while the same index is handed out, as the file is unchanged.
  std::uint64_t Serial() const { return serial_; }
  std::uint64_t LineOffset(std::size_t line) const;  // byte offset where `line` starts
  // False when the file cannot be read there any more.
  [[nodiscard]] bool CopyLine(std::size_t line, std::array<char, kDldLineSize> &out) const;
  // The same for the line that begins at `offset`, which gives where it
  // ends.  `*window` names the read window to look in first; it is set to
  // the one that held the line.
  [[nodiscard]] bool CopyLineAt(std::uint64_t offset, std::array<char, kDldLineSize> &out,
                                std::uint64_t *end, std::size_t *window) const;
  // Where the line before the one that begins at `offset` begins, found
  // from the bytes before it; false when they do not tell (that line is a
  // piece of a longer one), so that the caller counts from a checkpoint.
  [[nodiscard]] bool LineBefore(std::uint64_t offset, std::uint64_t *begin,
                                std::size_t *window) const;
  // The first terminator line at or after `line`, or LineCount() if none.
  std::size_t NextTerminator(std::size_t line) const;

 private:
  struct Terminator {
    std::size_t line;
    std::uint64_t offset;
  };
  struct Window {
    std::uint64_t start = 0;
    std::size_t length = 0;
    std::uint64_t used = 0;  // for replacing the least recently used
    std::vector<char> bytes;
  };

  // The bytes of the line that begins at `offset`, and in *end where it
  // ends (after its line feed, or 127 characters, or at the end of the
  // file); null on a read error.
  const char *Line(std::uint64_t offset, std::uint64_t *end, std::size_t *window) const;
  // At least min(count, the rest of the file) bytes from `offset`, looked
  // for first in `*window`, which is set to the window that holds them.
  const char *Bytes(std::uint64_t offset, std::size_t count, std::size_t *window) const;
  void Remember(std::size_t line, std::uint64_t offset) const;

  std::uint64_t serial_ = 0;
  std::uint64_t size_ = 0;
  std::size_t lineCount_ = 0;
  std::vector<std::uint64_t> checkpoints_;  // offsets of lines 0, 32, 64, ...
  std::vector<Terminator> terminators_;     // ascending
  std::string content_;                     // the file, for a stream without a descriptor
  int fd_ = -1;
  mutable std::vector<Window> windows_;
  mutable std::uint64_t uses_ = 0;
  mutable std::size_t lastWindow_ = 0;
  // Lines whose offsets were found last, one per stretch of lines between
  // checkpoints (modulo 64): a frame's readers visit a few dozen places of
  // the file, each one line further on than for the frame before.
  struct Known {
    std::size_t line = SIZE_MAX;
    std::uint64_t offset = 0;
  };
  mutable std::array<Known, 64> known_{};
};

// The index of the file looked at last, with what identifies the file, and
// the scopes in which a file looked at is not looked at again (see
// DldHeaderReadScope).  Part of a DldHeaderCache.
struct IndexCache {
  struct FileIdentity {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;

    bool operator==(const FileIdentity &other) const;
  };
  std::optional<FileIdentity> identity;
  HeaderIndex index;
  int holds = 0;           // scopes in which a looked-at file is not looked at again
  FILE *looked = nullptr;  // the stream whose file was looked at in them
};

// The index of the stream's file in *index: the cache's while the file is
// unchanged, built anew into it otherwise.  0, or 2 when the stream cannot
// be positioned at its start, or 5 when it cannot be read.  While held,
// the stream last looked at is taken as it was found, without another look
// at its file.
[[nodiscard]] int IndexOfHeader(IndexCache &cache, FILE *stream, const HeaderIndex **index);
void HoldHeaderLooks(IndexCache &cache);
void ReleaseHeaderLooks(IndexCache &cache);

// Where the lines that one reader visits lie, by the order of its reads.
// The reader of a frame's values reads the same places for every frame,
// each one line further on than for the frame before (or one line back, in
// a run backwards): the place of a read follows from the same read before,
// without a search from a checkpoint and without a search for the window
// that holds it.  Kept for one index.
class ReadPlaces {
 public:
  struct Place {
    std::size_t line = SIZE_MAX;  // the line read last time
    std::uint64_t offset = 0;     // where it begins
    std::uint64_t end = 0;        // where it ends: the next line begins
    std::size_t window = 0;       // the read window that held it
  };
  // The place of read number `read` over the index with `serial`; the places
  // of another index are forgotten.
  Place &At(std::size_t read, std::uint64_t serial);

 private:
  std::uint64_t serial_ = 0;
  std::vector<Place> places_;
};

// Sequential reading over an index.  Every method that consumes lines
// returns false when the file ends first.  With `places`, the lines are
// found through the places of the reads before.
class HeaderCursor {
 public:
  explicit HeaderCursor(const HeaderIndex &index, ReadPlaces *places = nullptr)
      : index_(index), places_(places) {}

  [[nodiscard]] bool Read();
  [[nodiscard]] bool Skip(std::uint64_t lines);
  [[nodiscard]] bool SkipPastTerminator();  // up to and including the next terminator line
  [[nodiscard]] bool SkipCountedBlock();    // count line N and N - 1 further lines

  const char *Text() const { return line_.data(); }  // the line last read
  long Integer() const;                              // its leading integer
  std::string TextValue() const;                     // its text up to the line feed
  std::uint64_t Offset() const { return index_.LineOffset(next_); }
  std::size_t Line() const { return next_; }  // the next line to be read
  const HeaderIndex &Index() const { return index_; }

 private:
  // Where the next line begins, from the place of the same read before.
  bool FromPlace(ReadPlaces::Place &place, std::uint64_t *begin) const;
  bool CopyRemembered();

  const HeaderIndex &index_;
  ReadPlaces *places_;
  std::size_t reads_ = 0;
  std::size_t next_ = 0;
  std::array<char, kDldLineSize> line_{};
};

}  // namespace dld_internal
