// DLD header file: the parser of version and geometry, and the readers of
// the scaler, timing, calibration, experiment and instrument sections.
//
// Layout of the file: two free lines; the version section; the scaler
// section; the calibration section (from "1.0": a free counted block, the
// TIMING and the SCALERCALIB block); the geometry lines; from "1.0" two free
// counted blocks, the EXPERIMENT block and the INFO block.
#include "GetDldFrame.h"

#include <langinfo.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "GetDldFrameIndex.h"
#include "report_sink.h"

using dld_internal::HeaderCursor;
using dld_internal::HeaderIndex;

namespace {

constexpr char kNone[] = "none";
constexpr float kDefaultScalarDepth = 24.0f;
constexpr float kDefaultWaveLength = 1e-10f;
constexpr int kLinesAfterFrameCount = 3;  // geometry lines 7 to 9

struct ModuleValues {
  std::array<char, kDldVersionSize> version{};
  int dataLen = 0;
  int xsize = 0;
  int ysize = 0;
  int numberOfFrames = 0;
  int xoff = 0;
  int yoff = 0;
};

ModuleValues g_values;
std::array<char, kDldNameStoreSize> g_names{};  // the channel names of the last scaler read
// Messages printed so far: a read that printed one is not kept for later
// reads.  Only its change over a read counts.
unsigned long g_messages = 0;

// The version text is the line cut at its line feed.
void SetVersion(const char *text) {
  const std::size_t length = std::min(std::strcspn(text, "\n"), g_values.version.size() - 1);
  std::memcpy(g_values.version.data(), text, length);
  g_values.version[length] = '\0';
}

bool VersionIs(const char *literal) { return std::strcmp(g_values.version.data(), literal) == 0; }

// The version as messages quote it: it is a line of the header file.
std::string ShownVersion() { return report_printable(g_values.version.data()); }

// A leading integer as an int; one outside the int range counts as no number.
int IntValue(long value) {
  return value < INT_MIN || value > INT_MAX ? 0 : static_cast<int>(value);
}

bool FitsInt(long value) { return value >= INT_MIN && value <= INT_MAX; }

constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f};

// What strtof reads from the commonest numbers of a header, counts and
// short decimal fractions, without its cost.  A number of at most 8 digits
// whose digits, read as an integer, do not exceed 2^24 is exact in a float,
// and so are the powers of ten up to 10^8: their quotient, rounded once,
// is the float nearest to the number, which strtof gives.  Any other form
// (an exponent, hexadecimal, infinity, more digits, another decimal point
// than '.') is left to strtof: false.
bool ScanShortDecimal(const char *text, float *value) {
  const char *at = text;
  while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
  const bool negative = *at == '-';
  if (*at == '-' || *at == '+') ++at;
  std::uint32_t number = 0;
  int digits = 0;
  int decimals = 0;
  bool point = false;
  for (;; ++at) {
    if (*at >= '0' && *at <= '9') {
      if (++digits > 8) return false;
      number = number * 10 + static_cast<std::uint32_t>(*at - '0');
      if (point) ++decimals;
    } else if (*at == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0 || number > (std::uint32_t{1} << 24)) return false;
  if (*at == 'e' || *at == 'E' || *at == 'x' || *at == 'X') return false;
  const char *radix = nl_langinfo(RADIXCHAR);
  if (radix[0] != '.' || radix[1] != '\0') return false;
  const float magnitude = static_cast<float>(number) / kPowersOfTen[decimals];
  *value = negative ? -magnitude : magnitude;
  return true;
}

// "%g" scan of the line into *value; no number, or one beyond the range of a
// float, leaves *value alone.  The latter is said on the error stream: a
// scaler of 1e39 would otherwise turn into its default without a word.
void ScanHeaderFloat(const HeaderCursor &cursor, float *value) {
  const char *text = cursor.Text();
  if (ScanShortDecimal(text, value)) return;
  char *end = nullptr;
  errno = 0;
  const float scanned = std::strtof(text, &end);
  if (end == text) return;
  if (errno == ERANGE && std::isinf(scanned)) {
    const std::string_view number(text, static_cast<size_t>(end - text));
    ++g_messages;
    report_printf("WARNING : (Header %s) value %.*s is beyond the range of a float; %g is kept\n",
                  ShownVersion().c_str(), static_cast<int>(number.size()), number.data(),
                  static_cast<double>(*value));
    return;
  }
  *value = scanned;
}

// A broken block title cannot be reported through the results: the process ends.
[[noreturn]] void ScanErrorExit(const char *title) {
  std::fflush(stdout);
  report_printf("SCANERROR : Header version %s (%s)\n", ShownVersion().c_str(), title);
  std::exit(-1);
}

// Reads the title line of a block and ends the process if it is not exactly
// `title` with its line feed.  False when the file ends first.
bool CheckTitle(HeaderCursor &cursor, const char *title) {
  if (!cursor.Read()) return false;
  const std::size_t length = std::strlen(title);
  const char *text = cursor.Text();
  if (std::strncmp(text, title, length) != 0 || std::strcmp(text + length, "\n") != 0)
    ScanErrorExit(title);
  return true;
}

bool ReadInteger(HeaderCursor &cursor, long *value) {
  if (!cursor.Read()) return false;
  *value = cursor.Integer();
  return true;
}

bool ReadInt(HeaderCursor &cursor, int *value) {
  if (!cursor.Read()) return false;
  *value = IntValue(cursor.Integer());
  return true;
}

bool ReadFloat(HeaderCursor &cursor, float *value) {
  if (!cursor.Read()) return false;
  ScanHeaderFloat(cursor, value);
  return true;
}

bool ReadText(HeaderCursor &cursor, std::optional<std::string> *text) {
  if (!cursor.Read()) return false;
  *text = cursor.TextValue();
  return true;
}

// Lines 1 and 2 and the version section; sets DldVersion.
bool ReadVersionSection(HeaderCursor &cursor) {
  if (!cursor.Skip(2) || !cursor.Read()) return false;
  if (cursor.Integer() == -1) {
    SetVersion("0.0");
    return true;
  }
  SetVersion(cursor.Text());
  return cursor.SkipPastTerminator();
}

// The header parse (version, sections, geometry and frame count) on a cursor
// at the file's start; module values change only on success.
int Parse(HeaderCursor &cursor) {
  if (!ReadVersionSection(cursor)) return DldShortRead;
  if (!cursor.SkipPastTerminator() || !cursor.SkipPastTerminator()) return DldShortRead;
  long bits = 0;
  long columns = 0;
  long rows = 0;
  long frames = 0;
  if (!cursor.Skip(2) || !ReadInteger(cursor, &bits) || !ReadInteger(cursor, &columns) ||
      !ReadInteger(cursor, &rows) || !ReadInteger(cursor, &frames) ||
      !cursor.Skip(kLinesAfterFrameCount)) {
    return DldShortRead;
  }
  const bool hasOffsets = DldVersionAtLeast("1.0");
  long xoff = g_values.xoff;
  long yoff = g_values.yoff;
  if (hasOffsets && (!ReadInteger(cursor, &xoff) || !ReadInteger(cursor, &yoff))) {
    return DldShortRead;
  }
  if (!cursor.Skip(1)) return DldShortRead;
  g_values.dataLen = IntValue(bits) / 8;
  g_values.xsize = IntValue(columns);
  g_values.ysize = IntValue(rows);
  g_values.numberOfFrames = IntValue(frames);
  g_values.xoff = IntValue(xoff);
  g_values.yoff = IntValue(yoff);
  return DldSuccess;
}

// The channel range FirstScalar..LastScalar of the scaler or calibration
// section.  Counted in 64 bits: the range must never wrap into a small count.
struct ChannelRange {
  long first = 0;
  long last = 0;

  std::uint64_t Count() const {
    return last < first ? 0
                        : static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first) + 1;
  }
  bool TooWide() const {
    return !FitsInt(first) || !FitsInt(last) ||
           (last >= first && static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first) >=
                                 static_cast<std::uint64_t>(kDldScalerChannels));
  }
};

// More than 32 channels: rejected, except in version "1.0" files, whose
// writer added `extraLines` lines and whose channels 1 to 31 are taken.
int CheckChannelRange(HeaderCursor &cursor, ChannelRange *range, std::uint64_t extraLines) {
  if (!range->TooWide()) return DldSuccess;
  const std::string shown = ShownVersion();
  const char *version = shown.c_str();
  ++g_messages;
  std::printf("BAD SIZE : (Header %s)\n", version);
  std::printf("LastScalar %ld and FirstScalar %ld out of range (1..%d)\n", range->last,
              range->first, kDldScalerChannels);
  if (!VersionIs("1.0")) return DldRejected;
  std::printf("Lengths adjusted, scaler %d lost (Header %s)\n", kDldScalerChannels, version);
  if (!cursor.Skip(extraLines)) return DldShortRead;
  *range = ChannelRange{1, kDldScalerChannels - 1};
  return DldSuccess;
}

struct ScalerOutputs {
  std::array<float, kDldScalerChannels> &values;
  std::array<const char *, kDldScalerChannels> &names;
  std::array<float, kDldScalerChannels> &zeros;
  std::array<float, kDldScalerChannels> &factors;
  float *depth;
  int *i0;
  int *i1;
  int *anode;
  int *time;
  int *i0s;
  int *i1s;
  int *anodes;
  int *times;
  float *deltaTime;
  std::string *startTime;
};

std::array<int *, 8> Assignments(const ScalerOutputs &out) {
  return {out.i0, out.i1, out.anode, out.time, out.i0s, out.i1s, out.anodes, out.times};
}

void SetScalerDefaults(const ScalerOutputs &out) {
  out.values.fill(0.0f);
  out.names.fill(kNone);
  out.zeros.fill(0.0f);
  out.factors.fill(1.0f);
  *out.depth = kDefaultScalarDepth;
  for (int *assignment : Assignments(out)) *assignment = 0;
  *out.deltaTime = 0.0f;
  out.startTime->clear();
}

// A calibration block as read, starting at `line`: what it set of the
// outputs and of the name store.
struct CalibrationValues {
  std::size_t line = 0;
  float depth = 0;
  std::array<int, 8> assignments{};  // i0, i1, anode, time, i0s, i1s, anodes, times
  std::array<const char *, kDldScalerChannels> names{};
  std::array<float, kDldScalerChannels> zeros{};
  std::array<float, kDldScalerChannels> factors{};
  std::size_t namesUsed = 0;
  std::array<char, kDldNameStoreSize> store{};
};

// The experiment block's values with the module values of the parse before it.
struct ExperimentValues {
  ModuleValues parsed;
  std::optional<std::string> title, info;
  std::array<float, 7> numbers{};  // centres, pixel sizes, wavelength, distance, position
  std::array<int, 5> flags{};      // centre, pixel size, wavelength, distance, position
};

struct InfoValues {
  ModuleValues parsed;
  std::array<std::optional<std::string>, 5> texts;
};

// What a header file gives the readers whatever the frame, kept for the
// index it was read through, that is while the file stays unchanged: the
// readers of a frame then read only the lines that differ from frame to
// frame.  A read that printed a message is not kept; the message belongs
// to every read.
struct FileValues {
  std::uint64_t serial = 0;
  std::optional<CalibrationValues> calibration;
  std::optional<ExperimentValues> experiment;
  std::optional<InfoValues> info;
};

}  // namespace

struct DldHeaderCache::State {
  dld_internal::IndexCache index;
  // The places of the scaler reader's lines in the header file of the frame before.
  dld_internal::ReadPlaces scalerPlaces;
  FileValues fileValues;
};

namespace {

// The cache the readers use, and its state; none outside the readers' calls
// unless a caller owns one (see CallCache).
DldHeaderCache *g_inUse = nullptr;
DldHeaderCache::State *g_state = nullptr;

// The caller's cache, or one of this call's own when the caller has none.
class CallCache {
 public:
  CallCache() {
    if (g_state == nullptr) own_.emplace();
  }

 private:
  std::optional<DldHeaderCache> own_;
};

// The index of the stream's file, as if the stream had been rewound.
int OpenHeader(FILE *stream, const HeaderIndex **index) {
  if (stream == nullptr) return DldNoStream;
  return dld_internal::IndexOfHeader(g_state->index, stream, index);
}

FileValues &ValuesOf(const HeaderIndex &index) {
  FileValues &values = g_state->fileValues;
  if (values.serial != index.Serial()) {
    values = FileValues{};
    values.serial = index.Serial();
  }
  return values;
}

// TIMING block: start time and the time of frame `frameNumber`.  `lineBudget`
// is the block's count line: lines the block has beyond those read are skipped.
int ReadTiming(HeaderCursor &cursor, const ScalerOutputs &out, long firstFrame, int frameNumber) {
  long lineBudget = 0;
  if (!ReadInteger(cursor, &lineBudget)) return DldShortRead;
  if (!CheckTitle(cursor, "TIMING")) return DldShortRead;
  if (!cursor.Read()) return DldShortRead;
  out.startTime->assign(cursor.Text(), std::strcspn(cursor.Text(), "\n"));
  const auto framesBefore = static_cast<std::uint64_t>(frameNumber - firstFrame);
  if (!cursor.Skip(framesBefore) || !ReadFloat(cursor, out.deltaTime)) return DldShortRead;
  const std::uint64_t linesRead = 4 + framesBefore;  // count, title, start time, frames
  if (lineBudget > 0 && static_cast<std::uint64_t>(lineBudget) > linesRead) {
    if (!cursor.Skip(static_cast<std::uint64_t>(lineBudget) - linesRead)) return DldShortRead;
  }
  return DldSuccess;
}

// SCALERCALIB block: depth, assignments, names, zeros and factors.
// `*namesUsed` tells the bytes of the name store that the names fill.
int ReadCalibration(HeaderCursor &cursor, const ScalerOutputs &out, std::size_t *namesUsed) {
  ChannelRange range;
  if (!cursor.Skip(1) || !CheckTitle(cursor, "SCALERCALIB") || !ReadFloat(cursor, out.depth) ||
      !ReadInt(cursor, out.i0) || !ReadInt(cursor, out.i1) || !ReadInt(cursor, out.anode) ||
      !ReadInt(cursor, out.time) || !ReadInteger(cursor, &range.first) ||
      !ReadInteger(cursor, &range.last)) {
    return DldShortRead;
  }
  const int checked = CheckChannelRange(cursor, &range, 3);
  if (checked != DldSuccess) return checked;

  // Names follow each other in the store, each behind the previous one's zero.
  char *store = g_names.data();
  std::size_t used = 0;
  for (std::uint64_t k = 0; k < range.Count(); ++k) {
    if (!cursor.Read()) return DldShortRead;
    const std::size_t length =
        std::min<std::size_t>(std::strcspn(cursor.Text(), "\n"), kDldNameLength);
    std::memcpy(store + used, cursor.Text(), length);
    store[used + length] = '\0';
    out.names[k] = store + used;
    used += length + 1;
    *namesUsed = used;
    if (!ReadFloat(cursor, &out.zeros[k]) || !ReadFloat(cursor, &out.factors[k])) {
      return DldShortRead;
    }
  }
  if (!DldVersionAtLeast("1.1")) return DldSuccess;
  const bool complete = ReadInt(cursor, out.i0s) && ReadInt(cursor, out.i1s) &&
                        ReadInt(cursor, out.anodes) && ReadInt(cursor, out.times);
  return complete ? DldSuccess : DldShortRead;
}

// The calibration block at the cursor, as read before from the same line of
// the same file when it was; its reading depends on nothing else.
int ReadCalibrationOnce(HeaderCursor &cursor, const ScalerOutputs &out) {
  FileValues &file = ValuesOf(cursor.Index());
  const std::size_t line = cursor.Line();
  if (file.calibration && file.calibration->line == line) {
    const CalibrationValues &kept = *file.calibration;
    *out.depth = kept.depth;
    const std::array<int *, 8> assignments = Assignments(out);
    for (std::size_t n = 0; n < assignments.size(); ++n) *assignments[n] = kept.assignments[n];
    out.names = kept.names;
    out.zeros = kept.zeros;
    out.factors = kept.factors;
    std::memcpy(g_names.data(), kept.store.data(), kept.namesUsed);
    return DldSuccess;
  }
  const unsigned long messages = g_messages;
  std::size_t namesUsed = 0;
  const int result = ReadCalibration(cursor, out, &namesUsed);
  if (result != DldSuccess || messages != g_messages) return result;
  CalibrationValues &kept = file.calibration.emplace();
  kept.line = line;
  kept.depth = *out.depth;
  const std::array<int *, 8> assignments = Assignments(out);
  for (std::size_t n = 0; n < assignments.size(); ++n) kept.assignments[n] = *assignments[n];
  kept.names = out.names;
  kept.zeros = out.zeros;
  kept.factors = out.factors;
  kept.namesUsed = namesUsed;
  kept.store = g_names;
  return result;
}

int ReadScalers(HeaderCursor &cursor, const ScalerOutputs &out, int frameNumber) {
  if (!ReadVersionSection(cursor)) return DldShortRead;
  ChannelRange range;
  long firstFrame = 0;
  long lastFrame = 0;
  if (!cursor.Skip(2) || !ReadInteger(cursor, &range.first) || !ReadInteger(cursor, &range.last) ||
      !ReadInteger(cursor, &firstFrame) || !ReadInteger(cursor, &lastFrame) || !cursor.Skip(4)) {
    return DldShortRead;
  }
  if (!FitsInt(firstFrame) || !FitsInt(lastFrame) || frameNumber < firstFrame ||
      frameNumber > lastFrame) {
    std::printf("BAD SIZE : (Header %s) FrameNumber %d out of range (%ld .. %ld)\n",
                ShownVersion().c_str(), frameNumber, firstFrame, lastFrame);
    return DldRejected;
  }
  const int checked = CheckChannelRange(cursor, &range, 1);
  if (checked != DldSuccess) return checked;
  if (DldVersionAtLeast("2.1") && !cursor.Skip(2)) return DldShortRead;

  // Value lines, channel-major: every channel has one line per frame.
  const auto framesCovered = static_cast<std::uint64_t>(lastFrame - firstFrame + 1);
  const auto framesBefore = static_cast<std::uint64_t>(frameNumber - firstFrame);
  for (std::uint64_t k = 0; k < range.Count(); ++k) {
    if (!cursor.Skip(framesBefore) || !ReadFloat(cursor, &out.values[k]) ||
        !cursor.Skip(framesCovered - framesBefore - 1)) {
      return DldShortRead;
    }
  }
  if (!DldVersionAtLeast("1.0")) return DldSuccess;

  if (!cursor.SkipPastTerminator() || !cursor.SkipCountedBlock()) return DldShortRead;
  const int timing = ReadTiming(cursor, out, firstFrame, frameNumber);
  if (timing != DldSuccess) return timing;
  return ReadCalibrationOnce(cursor, out);
}

int ReadExperiment(HeaderCursor &cursor, std::optional<std::string> *title,
                   std::optional<std::string> *info, float *center1, float *center2, int *iCenter,
                   float *pix1, float *pix2, int *iPix, float *waveLength, int *iWaveLength,
                   float *distance, int *iDistance, float *position, int *iPosition) {
  if (!cursor.SkipCountedBlock() || !cursor.SkipCountedBlock() || !cursor.Skip(1) ||
      !CheckTitle(cursor, "EXPERIMENT")) {
    return DldShortRead;
  }
  if (!ReadFloat(cursor, center1) || !ReadFloat(cursor, center2)) return DldShortRead;
  *iCenter = 1;
  if (!ReadFloat(cursor, pix1) || !ReadFloat(cursor, pix2)) return DldShortRead;
  *iPix = 1;
  if (!ReadFloat(cursor, waveLength)) return DldShortRead;
  *iWaveLength = 1;
  if (!ReadFloat(cursor, distance)) return DldShortRead;
  *iDistance = 1;
  if (!ReadText(cursor, title) || !ReadText(cursor, info)) return DldShortRead;
  if (!DldVersionAtLeast("2.2")) return DldSuccess;
  if (!ReadFloat(cursor, position)) return DldShortRead;
  *iPosition = 1;
  return DldSuccess;
}

// Runs `readBlocks` on the part of the file after the geometry lines, for
// version "1.0" and later.  A failed parse gives 1, an older version 0.
// A successful read of a file of version "1.0" or later depends on nothing
// but the file: `keep` stores its outputs in the file's `kept` values, and
// later reads of the unchanged file take them and the parse's module
// values from there with `restore`.
template <typename Values, typename ReadBlocks, typename Keep, typename Restore>
int WithParsedHeader(FILE *stream, std::optional<Values> FileValues::*kept, ReadBlocks readBlocks,
                     Keep keep, Restore restore) {
  const CallCache cache;
  const HeaderIndex *index = nullptr;
  if (OpenHeader(stream, &index) != DldSuccess) return 1;
  std::optional<Values> &values = ValuesOf(*index).*kept;
  try {
    if (values) {
      g_values = values->parsed;
      restore(*values);
      return DldSuccess;
    }
  } catch (const std::bad_alloc &) {
    return DldAllocationFailed;
  }
  HeaderCursor cursor(*index);
  const unsigned long messages = g_messages;
  if (Parse(cursor) != DldSuccess) return 1;
  if (!DldVersionAtLeast("1.0")) return DldSuccess;
  int result = DldSuccess;
  try {
    result = readBlocks(cursor);
  } catch (const std::bad_alloc &) {
    return DldAllocationFailed;
  }
  if (result != DldSuccess || messages != g_messages) return result;
  try {
    values.emplace().parsed = g_values;
    keep(*values);
  } catch (const std::bad_alloc &) {
    values.reset();
  }
  return result;
}

}  // namespace

const char *DldVersion() { return g_values.version.data(); }
int DataLen() { return g_values.dataLen; }
int Xsize() { return g_values.xsize; }
int Ysize() { return g_values.ysize; }
int NumberOfFrames() { return g_values.numberOfFrames; }
int XOff() { return g_values.xoff; }
int YOff() { return g_values.yoff; }
const char *HScalarNameBuffer() { return g_names.data(); }
DldFrameGeometry DldGeometry() { return {g_values.dataLen, g_values.xsize, g_values.ysize}; }

bool DldVersionAtLeast(const char *literal) {
  return std::strcmp(g_values.version.data(), literal) >= 0;
}

void ResetDldFrameModule() {
  g_values = ModuleValues{};
  g_names = {};
  if (g_state == nullptr) return;
  // The holds of the scopes that live on stay.
  dld_internal::IndexCache &index = g_state->index;
  index.identity.reset();
  index.index = HeaderIndex{};
  index.looked = nullptr;
  g_state->scalerPlaces = dld_internal::ReadPlaces{};
  g_state->fileValues = FileValues{};
}

DldHeaderCache::DldHeaderCache() : state_(std::make_unique<State>()), outer_(g_inUse) {
  g_inUse = this;
  g_state = state_.get();
}

DldHeaderCache::~DldHeaderCache() {
  g_inUse = outer_;
  g_state = outer_ != nullptr ? outer_->state_.get() : nullptr;
}

DldHeaderReadScope::DldHeaderReadScope() : cache_(g_state) {
  if (cache_ != nullptr) dld_internal::HoldHeaderLooks(cache_->index);
}

DldHeaderReadScope::~DldHeaderReadScope() {
  if (cache_ != nullptr) dld_internal::ReleaseHeaderLooks(cache_->index);
}

const char *GetDldFrameVersion() { return "GetDldFrame 1.0"; }

int ParseScalarHeaderFile(FILE *stream) {
  const CallCache cache;
  const HeaderIndex *index = nullptr;
  const int opened = OpenHeader(stream, &index);
  if (opened != DldSuccess) return opened;
  HeaderCursor cursor(*index);
  const int parsed = Parse(cursor);
  // The stream stands where a line-by-line parse would leave it.
  if (fseeko(stream, static_cast<off_t>(cursor.Offset()), SEEK_SET) != 0) std::clearerr(stream);
  return parsed;
}

int GetMaxDldNumber(FILE *stream, int *Maximum) {
  if (ParseScalarHeaderFile(stream) != DldSuccess) return 1;
  *Maximum = g_values.numberOfFrames;
  return 0;
}

int ReadDldType(FILE *stream, int *X, int *Y, int *DataLength, int *OffsetX, int *OffsetY) {
  if (ParseScalarHeaderFile(stream) != DldSuccess) return 1;
  *X = g_values.xsize;
  *Y = g_values.ysize;
  *DataLength = g_values.dataLen;
  *OffsetX = g_values.xoff;
  *OffsetY = g_values.yoff;
  return 0;
}

int ReadDldScalars(FILE *stream, const char **HmDldVersion,
                   std::array<float, kDldScalerChannels> &Scalars,
                   std::array<const char *, kDldScalerChannels> &ScalarName,
                   std::array<float, kDldScalerChannels> &ScalarZero,
                   std::array<float, kDldScalerChannels> &ScalarCalib, float *ScalarDepth,
                   int *ScalarI0, int *ScalarI1, int *ScalarAnode, int *ScalarTime, int *ScalarI0S,
                   int *ScalarI1S, int *ScalarAnodeS, int *ScalarTimeS, float *HmDeltaTime,
                   std::string *HmStartTime, int FrameNumber) {
  const ScalerOutputs out{Scalars,   ScalarName,   ScalarZero,  ScalarCalib, ScalarDepth,
                          ScalarI0,  ScalarI1,     ScalarAnode, ScalarTime,  ScalarI0S,
                          ScalarI1S, ScalarAnodeS, ScalarTimeS, HmDeltaTime, HmStartTime};
  SetScalerDefaults(out);
  *HmDldVersion = g_values.version.data();
  const CallCache cache;
  const HeaderIndex *index = nullptr;
  const int opened = OpenHeader(stream, &index);
  if (opened != DldSuccess) return opened;
  HeaderCursor cursor(*index, &g_state->scalerPlaces);
  int result = DldShortRead;
  try {
    result = ReadScalers(cursor, out, FrameNumber);
  } catch (const std::bad_alloc &) {
    result = DldAllocationFailed;
  }
  return result;
}

int ReadDldExperiment(FILE *stream, std::optional<std::string> *Title,
                      std::optional<std::string> *ExperimentInfo, float *Center_1, float *Center_2,
                      int *ICenter, float *PixSize_1, float *PixSize_2, int *IPixSize,
                      float *WaveLength, int *IWaveLength, float *SampleDistance,
                      int *ISampleDistance, float *DetectorPosition, int *IDetectorPosition) {
  Title->reset();
  ExperimentInfo->reset();
  *Center_1 = *Center_2 = 0.0f;
  *PixSize_1 = *PixSize_2 = 1.0f;
  *WaveLength = kDefaultWaveLength;
  *SampleDistance = 0.0f;
  *DetectorPosition = 0.0f;
  *ICenter = *IPixSize = *IWaveLength = *ISampleDistance = *IDetectorPosition = 0;
  const std::array<float *, 7> numbers = {Center_1,   Center_2,       PixSize_1,       PixSize_2,
                                          WaveLength, SampleDistance, DetectorPosition};
  const std::array<int *, 5> flags = {ICenter, IPixSize, IWaveLength, ISampleDistance,
                                      IDetectorPosition};
  return WithParsedHeader(
      stream, &FileValues::experiment,
      [&](HeaderCursor &cursor) {
        return ReadExperiment(cursor, Title, ExperimentInfo, Center_1, Center_2, ICenter, PixSize_1,
                              PixSize_2, IPixSize, WaveLength, IWaveLength, SampleDistance,
                              ISampleDistance, DetectorPosition, IDetectorPosition);
      },
      [&](ExperimentValues &kept) {
        kept.title = *Title;
        kept.info = *ExperimentInfo;
        for (std::size_t n = 0; n < numbers.size(); ++n) kept.numbers[n] = *numbers[n];
        for (std::size_t n = 0; n < flags.size(); ++n) kept.flags[n] = *flags[n];
      },
      [&](const ExperimentValues &kept) {
        *Title = kept.title;
        *ExperimentInfo = kept.info;
        for (std::size_t n = 0; n < numbers.size(); ++n) *numbers[n] = kept.numbers[n];
        for (std::size_t n = 0; n < flags.size(); ++n) *flags[n] = kept.flags[n];
      });
}

int ReadDldInfo(FILE *stream, std::optional<std::string> *DetectorType,
                std::optional<std::string> *MachineInfo, std::optional<std::string> *OpticsInfo,
                std::optional<std::string> *StationInfo, std::optional<std::string> *ProposalInfo) {
  const std::array<std::optional<std::string> *, 5> texts = {DetectorType, MachineInfo, OpticsInfo,
                                                             StationInfo, ProposalInfo};
  for (std::optional<std::string> *text : texts) text->reset();
  return WithParsedHeader(
      stream, &FileValues::info,
      [&](HeaderCursor &cursor) {
        if (!cursor.SkipCountedBlock() || !cursor.SkipCountedBlock() ||
            !cursor.SkipCountedBlock() || !cursor.Skip(1) || !CheckTitle(cursor, "INFO")) {
          return DldShortRead;
        }
        for (std::optional<std::string> *text : texts) {
          if (!ReadText(cursor, text)) return DldShortRead;
        }
        return DldSuccess;
      },
      [&](InfoValues &kept) {
        for (std::size_t n = 0; n < texts.size(); ++n) kept.texts[n] = *texts[n];
      },
      [&](const InfoValues &kept) {
        for (std::size_t n = 0; n < texts.size(); ++n) *texts[n] = kept.texts[n];
      });
}
