// Frame conversion: one DLD frame with its scaler, timing, experiment and
// instrument values becomes one KVX image.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GetDldFrame.h"
#include "VexaError.h"
#include "dld2vexa.h"
#include "dld2vexa_internal.h"
#include "kvxio.h"

const char *NumberTexts::Text(size_t place, float value) {
  if (place >= entries_.size()) entries_.resize(place + 1);
  Entry &entry = entries_[place];
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  if (entry.valid && entry.bits == bits) return entry.text.c_str();
  entry.valid = false;
  entry.text.resize(kvx_header_float_size());
  if (kvx_header_float_text(value, entry.text.data(), entry.text.size()) == nullptr) return nullptr;
  entry.text.resize(std::strlen(entry.text.c_str()));
  entry.bits = bits;
  entry.valid = true;
  return entry.text.c_str();
}

namespace {

constexpr int kChannels = 32;
constexpr int kPrimaryChain = 1;

// "HS32C01" ... for the counter (C), name (N), zero (Z) and factor (F) keys
// of channels 0 to 31, made once: every image has 128 of them.
constexpr std::string_view kChannelKinds = "CNZF";
const std::vector<std::string> kChannelKeys = [] {
  std::vector<std::string> made;
  for (char kind : kChannelKinds)
    for (int number = 1; number <= kChannels; ++number)
      made.push_back(std::string("HS32") + kind + static_cast<char>('0' + number / 10) +
                     static_cast<char>('0' + number % 10));
  return made;
}();

const char *channelKey(char kind, int channel) {
  return kChannelKeys[kChannelKinds.find(kind) * kChannels + static_cast<size_t>(channel)].c_str();
}

bool present(const char *text) { return text != nullptr && text[0] != '\0'; }
bool present(const std::optional<std::string> &text) { return text.has_value() && !text->empty(); }
bool present(const std::string &text) { return !text.empty(); }

// Which optional parts of the header a frame of the header file's version
// has: the scaler names, zeros and factors from "1.0", the scaler depth
// and the second set of special channels from "1.1".
struct HeaderParts {
  bool scalerDetails = false;
  bool scalerDepth = false;
};

// Everything read for one frame; released when the frame is done.  The
// frame buffer is the run's.
struct FrameValues {
  explicit FrameValues(std::vector<unsigned char> &frame) : Start(frame) {}
  FrameValues(const FrameValues &) = delete;
  FrameValues &operator=(const FrameValues &) = delete;
  ~FrameValues() {
    if (!Start.empty() && D2V_debug_level())
      std::printf("Start = %p\n", static_cast<const void *>(Start.data()));
  }

  const char *HmDldVersion = nullptr;
  std::array<float, kChannels> HmScaler{};
  std::array<const char *, kChannels> HmScalerName{};
  std::array<float, kChannels> HmScalerZero{};
  std::array<float, kChannels> HmScalerCalib{};
  float HmScalerDepth = 0;
  int HmScalerI0 = 0, HmScalerI1 = 0, HmScalerAnode = 0, HmScalerTime = 0;
  int HmScalerI0S = 0, HmScalerI1S = 0, HmScalerAnodeS = 0, HmScalerTimeS = 0;
  std::string HmStartTime;
  float HmDeltaTime = 0;
  std::optional<std::string> Title, ExperimentInfo;
  float Center_1 = 0, Center_2 = 0, PixSize_1 = 0, PixSize_2 = 0;
  float WaveLength = 0, SampleDistance = 0, DetectorPosition = 0;
  int ICenter = 0, IPixSize = 0, IWaveLength = 0, ISampleDistance = 0, IDetectorPosition = 0;
  std::optional<std::string> DetectorType, MachineInfo, OpticsInfo, StationInfo, ProposalInfo;
  std::vector<unsigned char> &Start;
};

// The header and data writes of one image, stopping at the first failure.
class ImageWriter {
 public:
  ImageWriter(int stream, long image, NumberTexts &numbers, int *pErrorValue)
      : stream_(stream), image_(image), numbers_(numbers), error_(pErrorValue) {}

  bool ok() const { return *error_ == 0; }

  void line(const char *key, const char *value) {
    if (ok()) kvx_write_header_line(stream_, image_, kPrimaryChain, key, value, error_, &status_);
  }
  void real(const char *key, float value) {
    if (!ok()) return;
    const char *text = numbers_.Text(place_++, value);
    if (text == nullptr)
      *error_ = NumberConversionFailed;
    else
      line(key, text);
  }
  void integer(const char *key, long value) {
    if (ok()) kvx_write_header_long(stream_, image_, kPrimaryChain, key, value, error_, &status_);
  }
  void data(const long *dim, const void *buffer, int dataType) {
    if (ok())
      kvx_write_data_raw(stream_, image_, kPrimaryChain, dim, buffer, dataType, 0, HighByteFirst, 1,
                         error_, &status_);
  }

 private:
  int stream_;
  long image_;
  NumberTexts &numbers_;
  size_t place_ = 0;  // of the next number in the header
  int *error_;
  int status_ = Success;
};

const char *text(const std::optional<std::string> &value) { return value ? value->c_str() : ""; }
const char *text(const std::string &value) { return value.c_str(); }

void writeHeader(ImageWriter &out, const FrameValues &f, HeaderParts parts, const char *HmFile,
                 int HmFrame, int Off_1, int Off_2, float Dummy) {
  out.line("VexaDataVersion", "2.0");
  out.integer("HMFrame", HmFrame);
  if (present(HmFile)) out.line("HMFile", HmFile);
  if (present(f.Title)) out.line("Title", text(f.Title));
  if (present(f.ExperimentInfo)) out.line("ExperimentInfo", text(f.ExperimentInfo));
  if (present(f.HmStartTime)) out.line("HMStartTime", text(f.HmStartTime));
  if (std::fabs(f.HmDeltaTime) > 1e-32F) out.real("HMDeltaTime", f.HmDeltaTime);
  out.real("Dummy", Dummy);
  out.integer("HS32Len", kChannels);
  for (int n = 0; n < kChannels; ++n) out.real(channelKey('C', n), f.HmScaler[n]);
  out.integer("Offset_1", Off_1);
  out.integer("Offset_2", Off_2);
  if (f.ICenter) {
    out.real("Center_1", f.Center_1);
    out.real("Center_2", f.Center_2);
  }
  if (f.IPixSize) {
    out.real("PSize_1", f.PixSize_1);
    out.real("PSize_2", f.PixSize_2);
  }
  if (f.IWaveLength) out.real("WaveLength", f.WaveLength);
  if (f.ISampleDistance) out.real("SampleDistance", f.SampleDistance);
  if (f.IDetectorPosition) out.real("DetectorPosition", f.DetectorPosition);
  if (present(f.DetectorType)) out.line("DetectorName", text(f.DetectorType));
  if (present(f.MachineInfo)) out.line("MachineInfo", text(f.MachineInfo));
  if (present(f.OpticsInfo)) out.line("OpticsInfo", text(f.OpticsInfo));
  if (present(f.StationInfo)) out.line("StationInfo", text(f.StationInfo));
  if (parts.scalerDetails) {
    for (int n = 0; n < kChannels; ++n) {
      out.line(channelKey('N', n), f.HmScalerName[n] != nullptr ? f.HmScalerName[n] : "");
      out.real(channelKey('Z', n), f.HmScalerZero[n]);
      out.real(channelKey('F', n), f.HmScalerCalib[n]);
    }
    out.integer("HSI0", f.HmScalerI0);
    out.integer("HSI1", f.HmScalerI1);
    out.integer("HSAnode", f.HmScalerAnode);
    out.integer("HSTime", f.HmScalerTime);
  }
  if (parts.scalerDepth) {
    out.real("HS32Depth", f.HmScalerDepth);
    out.integer("HSI0S", f.HmScalerI0S);
    out.integer("HSI1S", f.HmScalerI1S);
    out.integer("HSAnodeS", f.HmScalerAnodeS);
    out.integer("HSTimeS", f.HmScalerTimeS);
  }
}

// Bytes that DataLength x Dim_1 x Dim_2 describe, or 0 when a factor is not
// positive or the product does not fit.
uint64_t describedBytes(int DataLength, int Dim_1, int Dim_2) {
  if (DataLength < 1 || Dim_1 < 1 || Dim_2 < 1) return 0;
  const uint64_t pixels = static_cast<uint64_t>(Dim_1) * static_cast<uint64_t>(Dim_2);
  return pixels * static_cast<uint64_t>(DataLength);
}

// The image's header values and data, in the order in which they are
// stored; a failing call ends the sequence with its error value.
void write_data_raw(int stream, NumberTexts &numbers, const FrameValues &f, HeaderParts parts,
                    long ImNum, const char *HmFile, int HmFrame, int DataLength, int Dim_1,
                    int Dim_2, int Off_1, int Off_2, float Dummy, int *pErrorValue) {
  *pErrorValue = 0;
  D2V_trace("write_data_raw BEGIN");
  if (D2V_debug_level() > 1) kvxio_debug(1);

  ImageWriter out(stream, ImNum, numbers, pErrorValue);
  writeHeader(out, f, parts, HmFile, HmFrame, Off_1, Off_2, Dummy);
  if (!out.ok()) return;

  int dataType = 0;
  if (DataLength == 2)
    dataType = Unsigned16;
  else if (DataLength == 4)
    dataType = Unsigned32;
  // The image must have pixels, and they must all come from the frame
  // that was read: the dialog may describe a bigger frame than the file's.
  const uint64_t bytes = describedBytes(DataLength, Dim_1, Dim_2);
  if (dataType == 0 || bytes == 0) {
    *pErrorValue = BadDataBlock;
    return;
  }
  if (bytes > f.Start.size()) {
    std::printf("Frame of %zu bytes is smaller than %d x %d pixels of %d bytes\n", f.Start.size(),
                Dim_1, Dim_2, DataLength);
    *pErrorValue = DataBufferTooSmall;
    return;
  }
  long dim[3] = {2, Dim_1, Dim_2};
  out.data(dim, f.Start.data(), dataType);
  if (!out.ok()) return;
  *pErrorValue = 0;
  D2V_trace("write_data_raw END");
}

void echoScalers(const FrameValues &f) {
  std::printf("DldVersion = %s\n", D2V_shown(f.HmDldVersion).c_str());
  const bool named = DldVersionAtLeast("1.0");
  for (unsigned n = 1; n <= kChannels; ++n) {
    std::printf("%sC%2u = % g\n", "HS32", n, static_cast<double>(f.HmScaler[n - 1]));
    if (!named) continue;
    std::printf("%sN%2u = %s\n", "HS32", n, D2V_shown(f.HmScalerName[n - 1]).c_str());
    std::printf("%sZ%2u = % g\n", "HS32", n, static_cast<double>(f.HmScalerZero[n - 1]));
    std::printf("%sS%2u = % g\n", "HS32", n, static_cast<double>(f.HmScalerCalib[n - 1]));
  }
  if (!named) return;
  std::printf("ScalerDepth = % g\n", static_cast<double>(f.HmScalerDepth));
  std::printf("ScalerI0    = % d\n", f.HmScalerI0);
  std::printf("ScalerI1    = % d\n", f.HmScalerI1);
  std::printf("ScalerAnode = % d\n", f.HmScalerAnode);
  std::printf("ScalerTime  = % d\n", f.HmScalerTime);
  std::printf("DeltaTime   = % g\n", static_cast<double>(f.HmDeltaTime));
  std::printf("StartTime   = %s\n", D2V_shown(f.HmStartTime.c_str()).c_str());
}

void echoExperiment(const FrameValues &f) {
  if (f.Title) std::printf("Title = %s\n", D2V_shown(f.Title->c_str()).c_str());
  if (f.ExperimentInfo)
    std::printf("ExperimentInfo = %s\n", D2V_shown(f.ExperimentInfo->c_str()).c_str());
  if (f.ICenter)
    std::printf("Center_1 = %g, Center_2 = %g\n", static_cast<double>(f.Center_1),
                static_cast<double>(f.Center_2));
  if (f.IPixSize)
    std::printf("PixSize_1 = %g, PixSize_2 = %g\n", static_cast<double>(f.PixSize_1),
                static_cast<double>(f.PixSize_2));
  if (f.IWaveLength) std::printf("WaveLength = %g\n", static_cast<double>(f.WaveLength));
  if (f.ISampleDistance)
    std::printf("SampleDistance = %g\n", static_cast<double>(f.SampleDistance));
  if (f.IDetectorPosition)
    std::printf("DetectorPosition = %g\n", static_cast<double>(f.DetectorPosition));
}

void echoInfo(const FrameValues &f) {
  if (f.DetectorType)
    std::printf("DetectorType = %s\n", D2V_shown(f.DetectorType->c_str()).c_str());
  if (f.MachineInfo) std::printf("MachineInfo = %s\n", D2V_shown(f.MachineInfo->c_str()).c_str());
  if (f.OpticsInfo) std::printf("OpticsInfo = %s\n", D2V_shown(f.OpticsInfo->c_str()).c_str());
  if (f.StationInfo) std::printf("StationInfo = %s\n", D2V_shown(f.StationInfo->c_str()).c_str());
  if (f.ProposalInfo)
    std::printf("ProposalInfo = %s\n", D2V_shown(f.ProposalInfo->c_str()).c_str());
}

// What a DLD reader's non-zero result means, for the status report.
const char *readerFailure(int result, bool hmFile) {
  switch (result) {
    case DldNoStream:
      return "no input stream";
    case DldPositionFailed:
      return "the file cannot be positioned";
    case DldRejected:
      return "size or range rejected";
    case DldAllocationFailed:
      return "out of memory";
    case DldShortRead:
      return hmFile ? "the HM file ends before the end of the frame"
                    : "the header file ends early or a section is incomplete";
    default:
      return "unknown result";
  }
}

// Prints the reader's result and names it in the report, so that the
// error stream says why the frame failed.
void readerFailed(const std::string &frameText, const char *reader, int result, bool hmFile) {
  std::printf("%s return status = % d\n", reader, result);
  const std::string message = frameText + ": " + reader + " result " + std::to_string(result) +
                              ", " + readerFailure(result, hmFile);
  SetVexaErrorMessage(message.c_str());
}

void traceStart(const FrameValues &f) {
  if (D2V_debug_level()) std::printf("  Start = %p\n", static_cast<const void *>(f.Start.data()));
}

}  // namespace

int ImageNumberExists(int stream, long ImNum, int *pErrorValue) {
  D2V_trace("ImageNumberExists BEGIN");
  long dim[3] = {2, 0, 0};
  size_t size = 0;
  int status = Success;
  const int found =
      kvx_read_data_dimension(stream, ImNum, kPrimaryChain, dim, &size, pErrorValue, &status);
  D2V_trace("ImageNumberExists END");
  return found;
}

void Dld2Vexa(const CommandBlock *pcb, FILE *InFstream, int In, int DataLength, int Dim_1,
              int Dim_2, int Off_1, int Off_2, FILE *InHmstream, int OutStream, int Out,
              const char *InName, float Dummy, int *pErrorValue) {
  ConverterRun run;
  ConvertFrame(run, pcb, InFstream, In, DataLength, Dim_1, Dim_2, Off_1, Off_2, InHmstream,
               OutStream, Out, InName, Dummy, pErrorValue);
}

void ConvertFrame(ConverterRun &run, const CommandBlock *pcb, FILE *InFstream, int In,
                  int DataLength, int Dim_1, int Dim_2, int Off_1, int Off_2, FILE *InHmstream,
                  int OutStream, int Out, const char *InName, float Dummy, int *pErrorValue) {
  FrameValues f(run.frame);
  // The frame's values come from one state of the header file, looked at once.
  const DldHeaderReadScope headerReads;
  const bool verbose = pcb->TestBit != 0;
  *pErrorValue = EndOfFileDetected;
  const std::string frameText = "frame " + std::to_string(In) + " to image " + std::to_string(Out);
  SetVexaError("dld2vexa", "Dld2Vexa", frameText.c_str());
  D2V_trace("Dld2Vexa BEGIN");
  D2V_trace("ReadDldScalars");

  int result =
      ReadDldScalars(InFstream, &f.HmDldVersion, f.HmScaler, f.HmScalerName, f.HmScalerZero,
                     f.HmScalerCalib, &f.HmScalerDepth, &f.HmScalerI0, &f.HmScalerI1,
                     &f.HmScalerAnode, &f.HmScalerTime, &f.HmScalerI0S, &f.HmScalerI1S,
                     &f.HmScalerAnodeS, &f.HmScalerTimeS, &f.HmDeltaTime, &f.HmStartTime, In);
  if (result != 0) {
    readerFailed(frameText, "ReadDldScalars", result, false);
    return;
  }
  if (verbose) echoScalers(f);

  traceStart(f);
  const bool current = DldVersionAtLeast("2.0");
  D2V_trace(current ? "  ReadDldData" : "  ReadDldDataV1");
  // Frames lie in the HM file as the header file describes them; the image
  // takes what the dialog settled of each (see write_data_raw).
  const DldFrameGeometry stored = DldGeometry();
  result = current ? ReadDldData(InHmstream, In, stored, &f.Start)
                   : ReadDldDataV1(InHmstream, In, stored, &f.Start);
  if (result != 0) {
    readerFailed(frameText, current ? "ReadDldData" : "ReadDldDataV1", result, true);
    return;
  }

  traceStart(f);
  D2V_trace("  ReadDldExperiment");
  result = ReadDldExperiment(InFstream, &f.Title, &f.ExperimentInfo, &f.Center_1, &f.Center_2,
                             &f.ICenter, &f.PixSize_1, &f.PixSize_2, &f.IPixSize, &f.WaveLength,
                             &f.IWaveLength, &f.SampleDistance, &f.ISampleDistance,
                             &f.DetectorPosition, &f.IDetectorPosition);
  if (result != 0) {
    readerFailed(frameText, "ReadDldExperiment", result, false);
    return;
  }
  if (verbose) echoExperiment(f);

  D2V_trace("  ReadDldInfo");
  result = ReadDldInfo(InFstream, &f.DetectorType, &f.MachineInfo, &f.OpticsInfo, &f.StationInfo,
                       &f.ProposalInfo);
  if (result != 0) {
    readerFailed(frameText, "ReadDldInfo", result, false);
    return;
  }
  if (verbose) echoInfo(f);

  if (ImageNumberExists(OutStream, Out, pErrorValue)) {
    // An image that is there already is never overwritten.
    const std::string message =
        "image " + std::to_string(Out) + " exists already in the output file (or cannot be read)";
    SetVexaErrorMessage(message.c_str());
    *pErrorValue = WriteDataError;
    return;
  }
  const HeaderParts parts{DldVersionAtLeast("1.0"), DldVersionAtLeast("1.1")};
  write_data_raw(OutStream, run.numbers, f, parts, Out, InName, In, DataLength, Dim_1, Dim_2, Off_1,
                 Off_2, Dummy, pErrorValue);
  if (*pErrorValue != 0) {
    const char *name = kvx_error_name(*pErrorValue);
    const std::string message = frameText + ": " + (name != nullptr ? name : "write failed");
    SetVexaErrorMessage(message.c_str());
    return;
  }
  D2V_trace("Dld2Vexa END");
}
