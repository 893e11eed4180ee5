// Line index of a DLD header file.  The readers would otherwise read the
// file from its start several times per frame, and the scaler section grows
// with the number of frames, so a run would cost time quadratic in its
// frames.  The index is built once per file and lets the readers jump over
// whole stretches of lines with exactly the outcome of reading them.  It is
// sparse, so that its memory does not grow with the frames of a run either.
#include "GetDldFrameIndex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

// What strtol reads in base 10 at the start of `text`.  Numbers of up to
// 18 digits after white space and a sign are read here; they cannot
// overflow.  Longer ones, and text whose first character other than white
// space is no digit or sign (white space of another locale), go to strtol.
long LeadingInteger(const char *text) {
  const char *at = text;
  while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
  const bool negative = *at == '-';
  if (*at == '-' || *at == '+') ++at;
  long value = 0;
  int digits = 0;
  for (; *at >= '0' && *at <= '9'; ++at) {
    if (++digits > 18) return std::strtol(text, nullptr, 10);
    value = value * 10 + (*at - '0');
  }
  if (digits == 0) return std::strtol(text, nullptr, 10);
  return negative ? -value : value;
}

// A line whose leading integer is -1; only a line whose first character
// after white space is a minus sign can be one, and few are.
bool IsTerminator(const char *text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  return *text == '-' && LeadingInteger(text) == -1;
}

using FileIdentity = IndexCache::FileIdentity;

// Only regular files have an identity; other streams are indexed per call.
std::optional<FileIdentity> IdentityOf(FILE *stream) {
  const int fd = fileno(stream);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

constexpr std::size_t kStride = 32;  // lines per checkpoint
// Read windows start at multiples of kWindowStep and hold two steps, so
// that every line of a step is read from one window.
constexpr std::size_t kWindowStep = 4096;
constexpr std::size_t kWindowBytes = 2 * kWindowStep;
// More windows than the places one frame's readers visit: the scaler
// section holds the frames of each channel in turn, so a frame's scalers
// lie in 32 places, and the timing, calibration and experiment lines in a
// few more.
constexpr std::size_t kWindows = 48;

// Whether the stream's file may be indexed: no device, whose reads may never
// end (/dev/zero), and no regular file beyond kDldMaxHeaderFileBytes.
bool MayIndex(int fd) {
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) return true;
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return false;
  return !S_ISREG(info.st_mode) ||
         static_cast<std::uintmax_t>(info.st_size) <= kDldMaxHeaderFileBytes;
}

// Reads a stream without a descriptor to its end.
bool ReadStream(FILE *stream, std::string *content) {
  std::array<char, kReadChunk> chunk{};
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), stream)) > 0) {
    if (content->size() + got > kDldMaxHeaderFileBytes) return false;
    content->append(chunk.data(), got);
  }
  return !std::ferror(stream);
}

// Up to `count` bytes at `offset` through the descriptor (not the stream,
// whose buffer may still hold bytes of the file before it changed); -1 on
// a read error.
long ReadAt(int fd, std::uint64_t offset, char *buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done);
}

// Serial numbers of the loaded indexes, counted over the process: kept
// values name the index they were read through, of whichever cache.
std::uint64_t g_loads = 0;

}  // namespace

bool IndexCache::FileIdentity::operator==(const FileIdentity &other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

bool HeaderIndex::Load(FILE *stream) {
  try {
    *this = HeaderIndex{};
    serial_ = ++g_loads;
    const int fd = fileno(stream);
    if (!MayIndex(fd)) return false;
    if (fd < 0 && !ReadStream(stream, &content_)) return false;
    fd_ = fd;

    // Lines as a 128-byte line read cuts them: up to and including a line
    // feed, or 127 characters, or the rest of the file.
    // A line that begins with a digit, as most do, is no terminator and
    // is not kept for the test.
    std::array<char, kDldLineSize> line{};
    std::size_t length = 0;
    bool digitFirst = false;
    std::uint64_t start = 0;
    auto endLine = [&] {
      line[length] = '\0';
      if (lineCount_ % kStride == 0) checkpoints_.push_back(start);
      if (!digitFirst && IsTerminator(line.data())) terminators_.push_back({lineCount_, start});
      ++lineCount_;
      start += length;
      length = 0;
    };
    std::vector<char> chunk(kReadChunk);
    for (std::uint64_t offset = 0;;) {
      long got = 0;
      if (fd_ < 0) {
        got = static_cast<long>(std::min<std::uint64_t>(chunk.size(), content_.size() - offset));
        std::memcpy(chunk.data(), content_.data() + offset, static_cast<std::size_t>(got));
      } else {
        got = ReadAt(fd_, offset, chunk.data(), chunk.size());
      }
      if (got < 0) return false;
      if (got == 0) break;
      offset += static_cast<std::uint64_t>(got);
      if (offset > kDldMaxHeaderFileBytes) return false;
      for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const std::size_t room = std::min(kLineChars - length, static_cast<std::size_t>(got) - at);
        const void *feed = std::memchr(chunk.data() + at, '\n', room);
        const std::size_t take =
            feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - (chunk.data() + at)) +
                       1
                 : room;
        if (length == 0) digitFirst = chunk[at] >= '0' && chunk[at] <= '9';
        if (!digitFirst) std::memcpy(line.data() + length, chunk.data() + at, take);
        length += take;
        at += take;
        if (feed != nullptr || length == kLineChars) endLine();
      }
    }
    if (length > 0) endLine();
    size_ = start;
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

void HeaderIndex::Attach(FILE *stream) {
  if (fd_ >= 0) fd_ = fileno(stream);
}

const char *HeaderIndex::Bytes(std::uint64_t offset, std::size_t count,
                               std::size_t *windowHint) const {
  if (fd_ < 0) return content_.data() + offset;
  const std::uint64_t want = std::min<std::uint64_t>(count, size_ - offset);
  // A walk over lines mostly stays in the window of its last step.
  if (*windowHint < windows_.size()) {
    Window &window = windows_[*windowHint];
    if (offset >= window.start && offset + want <= window.start + window.length)
      return window.bytes.data() + (offset - window.start);
  }
  Window *chosen = nullptr;
  for (Window &window : windows_) {
    if (offset >= window.start && offset + want <= window.start + window.length) {
      window.used = ++uses_;
      *windowHint = static_cast<std::size_t>(&window - windows_.data());
      return window.bytes.data() + (offset - window.start);
    }
    if (chosen == nullptr || window.used < chosen->used) chosen = &window;
  }
  if (windows_.size() < kWindows) {
    chosen = &windows_.emplace_back();
    chosen->bytes.resize(kWindowBytes);
  }
  const std::uint64_t start = offset - offset % kWindowStep;
  const long got = ReadAt(fd_, start, chosen->bytes.data(), kWindowBytes);
  chosen->start = start;
  chosen->length = got < 0 ? 0 : static_cast<std::size_t>(got);
  chosen->used = ++uses_;
  *windowHint = static_cast<std::size_t>(chosen - windows_.data());
  if (offset + want > start + chosen->length) return nullptr;
  return chosen->bytes.data() + (offset - start);
}

const char *HeaderIndex::Line(std::uint64_t offset, std::uint64_t *end, std::size_t *window) const {
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(kLineChars, size_ - offset));
  const char *bytes = Bytes(offset, want, window);
  if (bytes == nullptr) return nullptr;
  const void *feed = std::memchr(bytes, '\n', want);
  *end = offset +
         (feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - bytes) + 1 : want);
  return bytes;
}

bool HeaderIndex::LineBefore(std::uint64_t offset, std::uint64_t *begin,
                             std::size_t *window) const {
  if (offset == 0 || offset > size_) return false;
  const std::size_t back =
      static_cast<std::size_t>(std::min<std::uint64_t>(offset, kLineChars + 1));
  const char *bytes = Bytes(offset - back, back, window);
  if (bytes == nullptr || bytes[back - 1] != '\n') return false;
  // After a line feed a line begins; one at most 127 characters back
  // leaves no room for a cut in between.
  for (std::size_t at = back - 1; at-- > 0;) {
    if (bytes[at] == '\n') {
      *begin = offset - back + at + 1;
      return true;
    }
  }
  if (offset > kLineChars) return false;
  *begin = 0;
  return true;
}

void HeaderIndex::Remember(std::size_t line, std::uint64_t offset) const {
  known_[line / kStride % known_.size()] = Known{line, offset};
}

std::uint64_t HeaderIndex::LineOffset(std::size_t line) const {
  if (line >= lineCount_) return size_;
  std::size_t at = line - line % kStride;
  std::uint64_t offset = checkpoints_[line / kStride];
  const Known &known = known_[line / kStride % known_.size()];
  if (known.line <= line && known.line > at) {
    at = known.line;
    offset = known.offset;
  }
  for (; at < line; ++at)
    if (Line(offset, &offset, &lastWindow_) == nullptr) return size_;
  Remember(line, offset);
  return offset;
}

bool HeaderIndex::CopyLine(std::size_t line, std::array<char, kDldLineSize> &out) const {
  if (line >= lineCount_) return false;
  std::uint64_t end = 0;
  if (!CopyLineAt(LineOffset(line), out, &end, &lastWindow_)) return false;
  Remember(line + 1, end);
  return true;
}

bool HeaderIndex::CopyLineAt(std::uint64_t offset, std::array<char, kDldLineSize> &out,
                             std::uint64_t *end, std::size_t *window) const {
  const char *bytes = offset < size_ ? Line(offset, end, window) : nullptr;
  if (bytes == nullptr) return false;
  const std::size_t length = static_cast<std::size_t>(*end - offset);
  std::memcpy(out.data(), bytes, length);
  out[length] = '\0';
  return true;
}

std::size_t HeaderIndex::NextTerminator(std::size_t line) const {
  const auto found = std::lower_bound(
      terminators_.begin(), terminators_.end(), line,
      [](const Terminator &terminator, std::size_t n) { return terminator.line < n; });
  if (found == terminators_.end()) return LineCount();
  Remember(found->line, found->offset);
  return found->line;
}

int IndexOfHeader(IndexCache &cache, FILE *stream, const HeaderIndex **index) {
  if (cache.holds > 0 && cache.looked == stream && cache.identity) {
    *index = &cache.index;
    return DldSuccess;
  }
  // A regular file can always be positioned at its start; unchanged, its
  // index stands as it is.
  const std::optional<FileIdentity> identity = IdentityOf(stream);
  if (identity && cache.identity == identity) {
    cache.index.Attach(stream);
  } else {
    cache.looked = nullptr;
    if (fseeko(stream, 0, SEEK_SET) != 0) return DldPositionFailed;
    cache.identity.reset();
    if (!cache.index.Load(stream)) return DldShortRead;
    cache.identity = identity;
  }
  if (cache.holds > 0) cache.looked = stream;
  *index = &cache.index;
  return DldSuccess;
}

void HoldHeaderLooks(IndexCache &cache) { ++cache.holds; }

void ReleaseHeaderLooks(IndexCache &cache) {
  if (--cache.holds == 0) cache.looked = nullptr;
}

ReadPlaces::Place &ReadPlaces::At(std::size_t read, std::uint64_t serial) {
  if (serial != serial_) {
    places_.clear();
    serial_ = serial;
  }
  if (read >= places_.size()) places_.resize(read + 1);
  return places_[read];
}

bool HeaderCursor::FromPlace(ReadPlaces::Place &place, std::uint64_t *begin) const {
  if (place.line == SIZE_MAX) return false;
  if (place.line == next_) {
    *begin = place.offset;
    return true;
  }
  if (place.line + 1 == next_) {
    *begin = place.end;
    return true;
  }
  return place.line == next_ + 1 && index_.LineBefore(place.offset, begin, &place.window);
}

bool HeaderCursor::CopyRemembered() {
  ReadPlaces::Place &place = places_->At(reads_++, index_.Serial());
  std::uint64_t begin = 0;
  if (!FromPlace(place, &begin)) begin = index_.LineOffset(next_);
  std::uint64_t end = 0;
  if (!index_.CopyLineAt(begin, line_, &end, &place.window)) return false;
  place.line = next_;
  place.offset = begin;
  place.end = end;
  return true;
}

bool HeaderCursor::Read() {
  if (next_ >= index_.LineCount()) return false;
  if (!(places_ != nullptr ? CopyRemembered() : index_.CopyLine(next_, line_))) {
    next_ = index_.LineCount();
    return false;
  }
  ++next_;
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
