#include "bslio.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "kvxio.h"
#include "kvxio_scan.h"
#include "numio.h"
#include "regular_file.h"
#include "report_sink.h"

namespace {

// Limits of the reader, each with its reason.
constexpr int kMaxStreams = 20;           // slots of the file table
constexpr size_t kBufferSize = 512;       // stream buffer of each slot
constexpr size_t kMaxLineLength = 511;    // one line read with a 512-byte buffer
constexpr size_t kMaxNameLength = 511;    // header file names, as in the line buffer
constexpr size_t kMaxCompareLength = 80;  // characters of a key that are compared
constexpr int kMinIndicatorValues = 10;   // a valid indicator holds at least this many
// Frames of one data set: every frame costs a record in memory (and a block
// when the set is opened as a data file); real data sets hold a few hundred.
constexpr std::uint64_t kMaxFrames = 100000;
constexpr std::uint64_t kFloatBytes = 4;  // the frames hold 32-bit floats

struct CloseFile {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

struct BslFrame {
  std::string FrameKey;
  BslDataSpec DataSpec;
};

struct BslMemory {
  std::string MemoryKey;
  std::string FileName;
  std::string Indicator;
  std::vector<BslFrame> FrameList;  // sorted with BslNumber
};

struct BslFile {
  std::string Name;
  std::string Path;
  // The buffer is declared before the stream so that it outlives it.
  std::unique_ptr<std::array<char, kBufferSize>> Buffer;
  FilePtr Channel;  // none: the slot is free
  std::string FirstHeader;
  std::string SecondHeader;
  std::vector<BslMemory> MemoryList;  // sorted with BslCaseInsensitive
};

struct BslTable {
  bool InitBslTable = false;
  std::array<BslFile, kMaxStreams> Slots;
};

BslTable &table() {
  static BslTable t;
  return t;
}

BslFile *used_slot(int stream) {
  if (stream < 0 || stream >= kMaxStreams) return nullptr;
  BslFile &slot = table().Slots[static_cast<size_t>(stream)];
  return slot.Channel ? &slot : nullptr;
}

// The value of a key that is a whole decimal integer.
bool whole_number(const std::string &key, long *value) {
  if (key.empty()) return false;
  errno = 0;
  char *end = nullptr;
  *value = std::strtol(key.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

std::string trimmed(std::string_view text) {
  auto isspace_char = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && isspace_char(text.front())) text.remove_prefix(1);
  while (!text.empty() && isspace_char(text.back())) text.remove_suffix(1);
  return std::string(text);
}

enum class LineRead { Line, End, TooLong };

// Reads one line, cut at its first CR or LF and trimmed.  A last line
// without line feed counts as the end of the file, as does a read error
// (ferror tells them apart).  Longer lines than the line buffer are cut
// when cut_long is set, else reported.
LineRead read_line(std::FILE *f, std::string *line, bool cut_long) {
  std::string raw;
  bool too_long = false;
  int c;
  while ((c = std::getc(f)) != EOF && c != '\n') {
    if (raw.size() < kMaxLineLength)
      raw.push_back(static_cast<char>(c));
    else
      too_long = true;
  }
  if (c == EOF) return LineRead::End;
  if (too_long && !cut_long) return LineRead::TooLong;
  *line = trimmed(std::string_view(raw).substr(0, raw.find_first_of("\r\n")));
  return LineRead::Line;
}

// The integers of an indicator: read one after the other until a reading
// fails; that last reading counts as an element (value 0) unless only white
// space is left.
std::vector<long> indicator_values(const std::string &indicator) {
  std::vector<long> values;
  const char *s = indicator.c_str();
  for (;;) {
    char *end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end == s) {
      if (trimmed(s).empty()) return values;
      values.push_back(0);
      return values;
    }
    values.push_back(v);
    s = end;
  }
}

// Where a frame key stands or belongs in a sorted frame list.
template <typename Frames>
auto find_position(Frames &frames, const std::string &key) {
  return std::lower_bound(frames.begin(), frames.end(), key,
                          [](const BslFrame &f, const std::string &k) {
                            return bsl_compare_keys(f.FrameKey, k, BslNumber) < 0;
                          });
}

// Describes frames 1 to F of a memory.  Positions are computed in checked
// 64-bit arithmetic; *frame_budget is what the data set may still hold.
bool build_frames(BslMemory &memory, const std::string &path, std::uint64_t *frame_budget) {
  const std::vector<long> values = indicator_values(memory.Indicator);
  if (values.size() < kMinIndicatorValues) return false;
  const long w = values[0], h = values[1], count = values[2];
  if (w < 1 || h < 1) return false;
  std::uint64_t frame_len = 0;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h),
                             &frame_len) ||
      __builtin_mul_overflow(frame_len, kFloatBytes, &frame_len))
    return false;
  if (count <= 0) return true;
  const auto frames = static_cast<std::uint64_t>(count);
  if (frames > *frame_budget) return false;
  std::uint64_t end = 0;
  if (__builtin_mul_overflow(frame_len, frames, &end)) return false;
  *frame_budget -= frames;

  memory.FrameList.reserve(frames);
  for (std::uint64_t k = 1; k <= frames; ++k) {
    BslFrame frame;
    frame.FrameKey = std::to_string(k);
    BslDataSpec &desc = frame.DataSpec;
    desc.BinaryFileName = path + memory.FileName;
    desc.BinaryFilePos = frame_len * (k - 1);
    desc.BinaryFileLen = frame_len;
    desc.Dim = {2, w, h};
    desc.DataType = FloatIEEE32;
    desc.ByteOrder = kvx_byteorder();
    desc.RasterConfiguration = 1;
    desc.Compression = UnCompressed;
    auto at = find_position(memory.FrameList, frame.FrameKey);
    if (at == memory.FrameList.end() || bsl_compare_keys(at->FrameKey, frame.FrameKey, BslNumber))
      memory.FrameList.insert(at, std::move(frame));
  }
  return true;
}

bool read_header(BslFile &file) {
  std::FILE *f = file.Channel.get();
  if (read_line(f, &file.FirstHeader, true) != LineRead::Line) return false;
  if (read_line(f, &file.SecondHeader, true) != LineRead::Line) return false;
  std::uint64_t frame_budget = kMaxFrames;
  for (long number = 1;; ++number) {
    std::string indicator, name;
    const LineRead first = read_line(f, &indicator, false);
    if (first == LineRead::End) break;
    const LineRead second = first == LineRead::Line ? read_line(f, &name, false) : first;
    if (second == LineRead::End) break;
    if (first == LineRead::TooLong || second == LineRead::TooLong) return false;

    BslMemory memory;
    memory.MemoryKey = std::to_string(number);
    memory.FileName = name;
    memory.Indicator = indicator;
    if (!build_frames(memory, file.Path, &frame_budget)) return false;
    auto at = std::lower_bound(file.MemoryList.begin(), file.MemoryList.end(), memory.MemoryKey,
                               [](const BslMemory &m, const std::string &k) {
                                 return bsl_compare_keys(m.MemoryKey, k, BslCaseInsensitive) < 0;
                               });
    file.MemoryList.insert(at, std::move(memory));
  }
  return std::ferror(f) == 0;
}

// The stream mode and the open flags of a BSL open mode.
struct OpenFlags {
  const char *how;
  int flags;
};

std::optional<OpenFlags> open_flags(std::string_view mode) {
  if (mode == "read") return OpenFlags{"rb", O_RDONLY};
  if (mode == "old" || mode == "any") return OpenFlags{"r+b", O_RDWR};
  return std::nullopt;
}

const BslMemory *find_memory(const BslFile &file, long memnum) {
  const std::string key = std::to_string(memnum);
  for (const BslMemory &m : file.MemoryList)
    if (bsl_compare_keys(m.MemoryKey, key, BslCaseInsensitive) == 0) return &m;
  return nullptr;
}

long key_number(const std::string &key) {
  long value = 0;
  return std::sscanf(key.c_str(), "%ld", &value) == 1 ? value : 0;
}

template <typename List, typename Key>
int number_range(const List &list, Key key, long *pmin, long *pmax) {
  if (list.empty()) return -1;
  long low = key_number(key(list.front()));
  long high = low;
  for (const auto &item : list) {
    const long n = key_number(key(item));
    low = std::min(low, n);
    high = std::max(high, n);
  }
  if (pmin) *pmin = low;
  if (pmax) *pmax = high;
  return 0;
}

void print_field(std::FILE *out, int indent, int width, const char *name) {
  std::fprintf(out, "%*s%-*s= ", indent, "", width - indent, name);
}

void print_desc(std::FILE *out, const BslDataSpec &desc) {
  constexpr int kIndent = 4, kWidth = 24;
  print_field(out, kIndent, kWidth, "BinaryFileName");
  std::fprintf(out, "\"%s\"\n", desc.BinaryFileName.c_str());
  print_field(out, kIndent, kWidth, "BinaryFilePos");
  std::fprintf(out, "%llu\n", static_cast<unsigned long long>(desc.BinaryFilePos));
  print_field(out, kIndent, kWidth, "BinaryFileLen");
  std::fprintf(out, "%llu\n", static_cast<unsigned long long>(desc.BinaryFileLen));
  print_field(out, kIndent, kWidth, "Dim");
  for (size_t i = 0; i < desc.Dim.size(); ++i) std::fprintf(out, i ? ", %ld" : "%ld", desc.Dim[i]);
  std::fprintf(out, "\n");
  print_field(out, kIndent, kWidth, "DataType");
  std::fprintf(out, "%ld\n", desc.DataType);
  print_field(out, kIndent, kWidth, "ByteOrder");
  std::fprintf(out, "%ld\n", desc.ByteOrder);
  print_field(out, kIndent, kWidth, "RasterConfiguration");
  std::fprintf(out, "%ld\n", desc.RasterConfiguration);
  print_field(out, kIndent, kWidth, "Compression");
  std::fprintf(out, "%ld\n", desc.Compression);
}

void print_memory(std::FILE *out, const BslMemory &memory, int level, int verbose) {
  constexpr int kWidth = 21;
  print_field(out, 1, kWidth, "MemoryKey");
  std::fprintf(out, "%s\n", memory.MemoryKey.c_str());
  if (verbose) {
    print_field(out, 1, kWidth, "FileName");
    std::fprintf(out, "\"%s\"\n", memory.FileName.c_str());
    print_field(out, 1, kWidth, "Indicator");
    std::fprintf(out, "\"%s\"\n", memory.Indicator.c_str());
  }
  if (level - 2 <= 0) return;
  for (const BslFrame &frame : memory.FrameList) {
    print_field(out, 2, kWidth, "FrameKey");
    std::fprintf(out, "%s\n", frame.FrameKey.c_str());
    if (verbose) print_desc(out, frame.DataSpec);
  }
}

}  // namespace

int bsl_compare_keys(const std::string &a, const std::string &b, int mode) {
  switch (mode) {
    case BslCaseSensitive:
      return std::strncmp(a.c_str(), b.c_str(), kMaxCompareLength);
    case BslCaseInsensitive:
      return num_strncasecmp(a.c_str(), b.c_str(), kMaxCompareLength);
    case BslNumber: {
      long va = 0, vb = 0;
      if (whole_number(a, &va) && whole_number(b, &vb)) return va < vb ? -1 : (va > vb ? 1 : 0);
      return num_strncasecmp(a.c_str(), b.c_str(), kMaxCompareLength);
    }
  }
  report_printf("compare: Invalid smode\n");
  std::exit(-1);
}

int open_bsl_file(const char *fname, const char *mode) {
  BslTable &t = table();
  t.InitBslTable = true;
  if (fname == nullptr || mode == nullptr) return -1;
  auto free_slot =
      std::find_if(t.Slots.begin(), t.Slots.end(), [](const BslFile &f) { return !f.Channel; });
  if (free_slot == t.Slots.end()) return -1;

  const std::optional<OpenFlags> how = open_flags(mode);
  const std::string name = fname;
  if (!how || name.size() > kMaxNameLength) return -1;
  BslFile file;
  // The directory of the name with its "/"; the working directory for a
  // name without "/"; empty when that cannot be had.
  file.Path = kvxio::directory_of(name);
  if (file.Path.empty()) return -1;
  file.Name = name;
  // The header is read up to its end: a FIFO or a device is no data set.
  file.Channel.reset(stream_on_descriptor(open_regular_file(fname, how->flags), how->how));
  if (!file.Channel) return -1;
  file.Buffer = std::make_unique<std::array<char, kBufferSize>>();
  if (std::setvbuf(file.Channel.get(), file.Buffer->data(), _IOFBF, kBufferSize) != 0) return -1;
  try {
    if (!read_header(file)) return -1;
  } catch (const std::bad_alloc &) {
    return -1;
  }
  *free_slot = std::move(file);
  return static_cast<int>(free_slot - t.Slots.begin());
}

int close_bsl_file(int stream) {
  BslFile *file = used_slot(stream);
  if (file == nullptr) return 0;
  const int closed = std::fclose(file->Channel.release());
  *file = BslFile{};
  return closed == 0 ? 0 : -1;
}

void read_bsl_file_headers(int stream, const char **first, const char **second) {
  const BslFile *file = used_slot(stream);
  if (first) *first = file ? file->FirstHeader.c_str() : nullptr;
  if (second) *second = file ? file->SecondHeader.c_str() : nullptr;
}

int bsl_memory_range(int stream, long *pMinMem, long *pMaxMem) {
  const BslFile *file = used_slot(stream);
  if (file == nullptr) return -1;
  return number_range(
      file->MemoryList, [](const BslMemory &m) -> const std::string & { return m.MemoryKey; },
      pMinMem, pMaxMem);
}

int bsl_frame_range(int stream, long memnum, long *pMinFrame, long *pMaxFrame) {
  const BslFile *file = used_slot(stream);
  const BslMemory *memory = file ? find_memory(*file, memnum) : nullptr;
  if (memory == nullptr) return -1;
  return number_range(
      memory->FrameList, [](const BslFrame &f) -> const std::string & { return f.FrameKey; },
      pMinFrame, pMaxFrame);
}

const BslDataSpec *read_bsl_data_spec(int stream, long memnum, long framenum) {
  const BslFile *file = used_slot(stream);
  const BslMemory *memory = file ? find_memory(*file, memnum) : nullptr;
  if (memory == nullptr) return nullptr;
  const std::string key = std::to_string(framenum);
  auto at = find_position(memory->FrameList, key);
  if (at == memory->FrameList.end() || bsl_compare_keys(at->FrameKey, key, BslNumber) != 0)
    return nullptr;
  return &at->DataSpec;
}

void print_bsl_filetable(std::FILE *out, int level, int verbose) {
  if (level <= 0) return;
  const BslTable &t = table();
  if (!t.InitBslTable) {
    std::fprintf(out, "Bsl file table is not initialized\n");
    return;
  }
  constexpr int kWidth = 21;
  for (size_t stream = 0; stream < t.Slots.size(); ++stream) {
    const BslFile &file = t.Slots[stream];
    if (!file.Channel) continue;
    print_field(out, 0, kWidth, "Stream");
    std::fprintf(out, "%zu\n", stream);
    print_field(out, 0, kWidth, "Name");
    std::fprintf(out, "\"%s\"\n", file.Name.c_str());
    print_field(out, 0, kWidth, "Path");
    std::fprintf(out, "\"%s\"\n", file.Path.c_str());
    print_field(out, 0, kWidth, "FirstHeader");
    std::fprintf(out, "\"%s\"\n", file.FirstHeader.c_str());
    print_field(out, 0, kWidth, "SecondHeader");
    std::fprintf(out, "\"%s\"\n", file.SecondHeader.c_str());
    if (level - 1 <= 0) continue;
    for (const BslMemory &memory : file.MemoryList) print_memory(out, memory, level, verbose);
  }
}

void bsl_reset_table() {
  for (int stream = 0; stream < kMaxStreams; ++stream) close_bsl_file(stream);
  table().InitBslTable = false;
}
