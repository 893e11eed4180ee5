// Line index of a DLD header file.  The readers would otherwise read the
// file from its start several times per frame, and the scaler section grows
// with the number of frames, so a run would cost time quadratic in its
// frames.  The index is built once per file and lets the readers jump over
// whole stretches of lines with exactly the outcome of reading them.
#include "GetDldFrameIndex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

namespace dld_internal {

namespace {

constexpr std::size_t kLineChars = kDldLineSize - 1;  // characters per line read
constexpr std::size_t kReadChunk = 1 << 16;

long LeadingInteger(const char *text) { return std::strtol(text, nullptr, 10); }

// What identifies an unchanged file between two calls.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  timespec changed;

  bool operator==(const FileIdentity &other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// Only regular files have an identity; other streams are indexed per call.
std::optional<FileIdentity> IdentityOf(FILE *stream) {
  const int fd = fileno(stream);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// Reads the file from its start.  Through the descriptor where there is one:
// the stream's buffer may still hold bytes of the file before it changed.
// False for a read error, for a file beyond kDldMaxHeaderFileBytes and for a
// device, whose reads may never end (/dev/zero): no header file is one.
bool ReadWholeFile(FILE *stream, std::string *content) {
  std::array<char, kReadChunk> chunk{};
  const int fd = fileno(stream);
  struct stat info {};
  if (fd >= 0 && fstat(fd, &info) == 0) {
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return false;
    if (S_ISREG(info.st_mode) && static_cast<std::uintmax_t>(info.st_size) > kDldMaxHeaderFileBytes)
      return false;
  }
  if (fd < 0) {
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), stream)) > 0) {
      if (content->size() + got > kDldMaxHeaderFileBytes) return false;
      content->append(chunk.data(), got);
    }
    return !std::ferror(stream);
  }
  for (;;) {
    const ssize_t got = pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(content->size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (content->size() + static_cast<std::size_t>(got) > kDldMaxHeaderFileBytes) return false;
    content->append(chunk.data(), static_cast<std::size_t>(got));
  }
}

struct IndexCache {
  std::optional<FileIdentity> identity;
  HeaderIndex index;
};

IndexCache &Cache() {
  static IndexCache cache;
  return cache;
}

}  // namespace

bool HeaderIndex::Load(FILE *stream) {
  try {
    content_.clear();
    lineStart_.clear();
    terminators_.clear();
    if (!ReadWholeFile(stream, &content_)) return false;

    // Lines as a 128-byte line read cuts them: up to and including a line
    // feed, or 127 characters, or the rest of the file.
    std::array<char, kDldLineSize> line{};
    for (std::size_t at = 0; at < content_.size();) {
      const std::size_t limit = std::min(content_.size(), at + kLineChars);
      const void *feed = std::memchr(content_.data() + at, '\n', limit - at);
      const std::size_t end =
          feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - content_.data()) + 1
               : limit;
      lineStart_.push_back(at);
      std::memcpy(line.data(), content_.data() + at, end - at);
      line[end - at] = '\0';
      if (LeadingInteger(line.data()) == -1) terminators_.push_back(lineStart_.size() - 1);
      at = end;
    }
    lineStart_.push_back(content_.size());
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

std::uint64_t HeaderIndex::LineOffset(std::size_t line) const {
  return line < lineStart_.size() ? lineStart_[line] : content_.size();
}

void HeaderIndex::CopyLine(std::size_t line, std::array<char, kDldLineSize> &out) const {
  const std::size_t begin = lineStart_[line];
  const std::size_t length = lineStart_[line + 1] - begin;
  std::memcpy(out.data(), content_.data() + begin, length);
  out[length] = '\0';
}

std::size_t HeaderIndex::NextTerminator(std::size_t line) const {
  const auto found = std::lower_bound(terminators_.begin(), terminators_.end(), line);
  return found == terminators_.end() ? LineCount() : *found;
}

int IndexOfHeader(FILE *stream, const HeaderIndex **index) {
  IndexCache &cache = Cache();
  // A regular file can always be positioned at its start; unchanged, its
  // index stands as it is.
  const std::optional<FileIdentity> identity = IdentityOf(stream);
  if (identity && cache.identity == identity) {
    *index = &cache.index;
    return DldSuccess;
  }
  if (fseeko(stream, 0, SEEK_SET) != 0) return DldPositionFailed;
  cache.identity.reset();
  if (!cache.index.Load(stream)) return DldShortRead;
  cache.identity = identity;
  *index = &cache.index;
  return DldSuccess;
}

void ForgetHeaderIndex() {
  IndexCache &cache = Cache();
  cache.identity.reset();
  cache.index = HeaderIndex{};
}

bool HeaderCursor::Read() {
  if (next_ >= index_.LineCount()) return false;
  index_.CopyLine(next_++, line_);
  return true;
}

bool HeaderCursor::Skip(std::uint64_t lines) {
  if (lines > index_.LineCount() - next_) {
    next_ = index_.LineCount();
    return false;
  }
  next_ += lines;
  return true;
}

bool HeaderCursor::SkipPastTerminator() {
  const std::size_t terminator = index_.NextTerminator(next_);
  if (terminator >= index_.LineCount()) {
    next_ = index_.LineCount();
    return false;
  }
  next_ = terminator;
  return Read();
}

bool HeaderCursor::SkipCountedBlock() {
  if (!Read()) return false;
  const long count = Integer();
  return count <= 1 || Skip(static_cast<std::uint64_t>(count) - 1);
}

long HeaderCursor::Integer() const { return LeadingInteger(line_.data()); }

std::string HeaderCursor::TextValue() const {
  const char *text = line_.data();
  return std::string(text, std::strcspn(text, "\n"));
}

}  // namespace dld_internal
