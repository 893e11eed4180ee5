#include "DldWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr std::size_t kLeadingBlockBeforeV2 = 512;
constexpr std::uint64_t kMaxFramePixels = std::uint64_t{1} << 28;  // keeps tables in memory
constexpr std::size_t kMaxBins = 65535;                            // radius bins fit 16 bits
constexpr double kBinsPerPixel = 4.0;
constexpr int kRings = 5;

bool AtLeast(const std::string &version, const char *literal) {
  return std::strcmp(version.c_str(), literal) >= 0;
}

// More than 32 channels in a version "1.0" file: its writer added lines.
bool WideVersion10(const DldDataSetLayout &layout) {
  return layout.version == "1.0" && layout.lastScalar - layout.firstScalar + 1 > 32;
}

// Appends lines to the header text with little overhead: a header of
// 20,000 frames and 32 channels has some 660,000 lines.
class LineWriter {
 public:
  void Text(const std::string &line) {
    text_ += line;
    text_ += '\n';
  }
  void Number(long value) {
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.begin(), digits.end(), value);
    text_.append(std::string_view(digits.data(), static_cast<size_t>(result.ptr - digits.data())));
    text_ += '\n';
  }
  void Zeros(int count) {
    for (int i = 0; i < count; ++i) text_ += "0\n";
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string ChannelName(long channel, long index) {
  if (index < 2) return index == 0 ? "I0" : "I1";
  std::string name = "C";  // appended, not prefixed: g++ 12 -O3 misreads the insert as overlapping
  name += std::to_string(channel);
  return name;
}

void WriteScalerSection(const DldDataSetLayout &layout, LineWriter &out) {
  out.Zeros(2);
  for (long value : {layout.firstScalar, layout.lastScalar, layout.firstFrame, layout.lastFrame}) {
    out.Number(value);
  }
  out.Zeros(4);
  if (WideVersion10(layout)) out.Zeros(1);
  if (AtLeast(layout.version, "2.1")) out.Zeros(2);
  for (long c = layout.firstScalar; c <= layout.lastScalar; ++c) {
    for (long f = layout.firstFrame; f <= layout.lastFrame; ++f) {
      out.Number(100 * c + 10 * (f - layout.firstFrame));
    }
  }
  out.Number(-1);
}

void WriteCalibrationSection(const DldDataSetLayout &layout, LineWriter &out) {
  if (AtLeast(layout.version, "1.0")) {
    const long frames = std::max(0L, layout.lastFrame - layout.firstFrame + 1);
    const long channels = std::max(0L, layout.lastScalar - layout.firstScalar + 1);
    out.Number(1);  // a block no reader interprets
    out.Number(3 + frames);
    out.Text("TIMING");
    out.Text("2012-01-01 10:00:00");
    for (long f = 0; f < frames; ++f) out.Text(layout.frameTime);
    out.Number(9 + 3 * channels + (AtLeast(layout.version, "1.1") ? 4 : 0));
    out.Text("SCALERCALIB");
    out.Number(24);
    const long i0 = channels > 0 ? layout.firstScalar : 0;
    const long i1 = channels > 1 ? layout.firstScalar + 1 : 0;
    for (long value : {i0, i1, 0L, 0L, layout.firstScalar, layout.lastScalar}) out.Number(value);
    if (WideVersion10(layout)) out.Zeros(3);
    for (long k = 0; k < channels; ++k) {
      out.Text(ChannelName(layout.firstScalar + k, k));
      out.Number(0);
      out.Number(1);
    }
    if (AtLeast(layout.version, "1.1")) out.Zeros(4);
  }
  out.Number(-1);
}

void WriteGeometry(const DldDataSetLayout &layout, LineWriter &out) {
  out.Zeros(2);
  for (long value :
       {8L * layout.dataLength, long{layout.columns}, long{layout.rows}, long{layout.frames}}) {
    out.Number(value);
  }
  out.Zeros(3);
  if (AtLeast(layout.version, "1.0")) {
    out.Number(layout.xOffset);
    out.Number(layout.yOffset);
  }
  out.Zeros(1);
}

void WriteExperimentAndInfo(const DldDataSetLayout &layout, LineWriter &out) {
  if (!AtLeast(layout.version, "1.0")) return;
  out.Number(1);
  out.Number(1);
  const bool position = AtLeast(layout.version, "2.2");
  out.Number(position ? 11 : 10);
  out.Text("EXPERIMENT");
  for (const char *line :
       {"2.0", "1.5", "0.0001", "0.0001", "1e-10", "5", "test run", "gas detector test"}) {
    out.Text(line);
  }
  if (position) out.Text("5.1");
  out.Number(7);
  for (const char *line : {"INFO", "DLD", "machine", "optics", "station", "proposal"}) {
    out.Text(line);
  }
}

// splitmix64: small, fast and good enough for counting noise.
std::uint64_t NextRandom(std::uint64_t &state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double RandomUnit(std::uint64_t &state) {
  return static_cast<double>(NextRandom(state) >> 11) * 0x1.0p-53;
}

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool WriteAll(FILE *file, const void *data, std::size_t size) {
  return std::fwrite(data, 1, size, file) == size;
}

bool Finish(File file, const std::string &path, std::string *error) {
  const bool ok = std::ferror(file.get()) == 0 && std::fclose(file.release()) == 0;
  if (!ok) *error = "cannot write " + path;
  return ok;
}

}  // namespace

std::string DldLayoutProblem(const DldDataSetLayout &layout) {
  if (layout.version.empty() || layout.version.find('\n') != std::string::npos ||
      layout.version.size() > 127 ||
      (layout.version != "0.0" && std::strtol(layout.version.c_str(), nullptr, 10) == -1)) {
    return "the version must be one line of at most 127 characters that does not read as -1";
  }
  for (long number : {layout.firstScalar, layout.lastScalar, layout.firstFrame, layout.lastFrame}) {
    if (number < INT_MIN || number > INT_MAX) return "channel and frame numbers must fit an int";
  }
  const long channels = layout.lastScalar - layout.firstScalar + 1;
  if (channels < 0 || channels > kDldWriterMaxChannels) {
    return "the channel range must hold 0 to " + std::to_string(kDldWriterMaxChannels) +
           " channels";
  }
  const long frames = layout.lastFrame - layout.firstFrame + 1;
  if (frames < 0 || frames > kDldWriterMaxFrameRange) {
    return "the frame range must hold 0 to " + std::to_string(kDldWriterMaxFrameRange) + " frames";
  }
  if (layout.dataLength != 2 && layout.dataLength != 4)
    return "the data length must be 2 or 4 bytes";
  if (layout.columns < 0 || layout.rows < 0 || layout.frames < 0) {
    return "columns, rows and frames must not be negative";
  }
  if (static_cast<std::uint64_t>(layout.columns) * static_cast<std::uint64_t>(layout.rows) >
      kMaxFramePixels) {
    return "a frame may hold at most " + std::to_string(kMaxFramePixels) + " pixels";
  }
  if (layout.frameTime.find('\n') != std::string::npos) return "the frame time must be one line";
  return "";
}

std::string DldHeaderText(const DldDataSetLayout &layout) {
  LineWriter out;
  out.Text("DLD histogramming memory");
  out.Text("run 17");
  if (layout.version == "0.0") {
    out.Number(-1);
  } else {
    out.Text(layout.version);
    out.Number(-1);
  }
  WriteScalerSection(layout, out);
  WriteCalibrationSection(layout, out);
  WriteGeometry(layout, out);
  WriteExperimentAndInfo(layout, out);
  return out.Take();
}

DldPictureGenerator::DldPictureGenerator(const DldDataSetLayout &layout) : layout_(layout) {
  const auto pixels =
      static_cast<std::size_t>(layout.columns) * static_cast<std::size_t>(layout.rows);
  frameBytes_ = pixels * static_cast<std::size_t>(layout.dataLength);

  // The beam centre, the rings and their heights follow from the seed.
  std::uint64_t state = layout.seed;
  const double size = std::max(1, std::max(layout.columns, layout.rows));
  const double centreX = layout.columns * (0.4 + 0.2 * RandomUnit(state));
  const double centreY = layout.rows * (0.4 + 0.2 * RandomUnit(state));
  for (int k = 0; k < kRings; ++k) {
    ringRadius_.push_back(size * (0.08 + 0.17 * k + 0.05 * RandomUnit(state)));
    ringHeight_.push_back(400.0 + 1600.0 * RandomUnit(state));
  }
  width_ = std::max(0.7, size * 0.006);
  beamStop_ = size * 0.03;

  const double maxRadius = std::hypot(std::max(centreX, layout.columns - centreX),
                                      std::max(centreY, layout.rows - centreY));
  const double binsPerPixel =
      std::min(kBinsPerPixel, static_cast<double>(kMaxBins - 1) / std::max(1.0, maxRadius));
  radiusBin_.resize(pixels);
  std::size_t bins = 1;
  for (int y = 0; y < layout.rows; ++y) {
    for (int x = 0; x < layout.columns; ++x) {
      const double r = std::hypot(x + 0.5 - centreX, y + 0.5 - centreY);
      const auto bin = static_cast<std::uint16_t>(r * binsPerPixel);
      radiusBin_[static_cast<std::size_t>(y) * layout.columns + x] = bin;
      bins = std::max<std::size_t>(bins, bin + 1u);
    }
  }
  mean_.resize(bins);
  spread_.resize(bins);
  width_ *= binsPerPixel;
  beamStop_ *= binsPerPixel;
  for (double &radius : ringRadius_) radius *= binsPerPixel;
}

// Expected counts per radius bin in frame `index`: a falling background, the
// beam stop's shadow and Gaussian rings that breathe slowly.  The noise band
// gives a uniform noise of the variance of counting statistics.
void DldPictureGenerator::BuildProfile(int index) {
  const double frame = index;
  const double intensity = 1.0 + 0.25 * std::sin(0.21 * frame);
  const double drift = 1.0 + 0.01 * std::sin(0.13 * frame);
  const double maxCount = layout_.dataLength == 2 ? 60000.0 : 4.0e6;
  const double scale = layout_.dataLength == 2 ? 1.0 : 20.0;
  for (std::size_t bin = 0; bin < mean_.size(); ++bin) {
    const double r = static_cast<double>(bin);
    double counts = 50.0 + 300.0 * std::exp(-r / (4.0 * beamStop_ + 1.0));
    for (int k = 0; k < kRings; ++k) {
      const double d = (r - ringRadius_[k] * drift) / width_;
      counts += ringHeight_[k] * std::exp(-0.5 * d * d);
    }
    counts *= intensity * scale;
    if (r < beamStop_) counts *= 0.02;
    counts = std::min(counts, maxCount);
    mean_[bin] = static_cast<std::int32_t>(counts);
    spread_[bin] = static_cast<std::int32_t>(2.0 * std::sqrt(3.0 * counts)) + 1;
  }
}

void DldPictureGenerator::Frame(int index, unsigned char *out) {
  BuildProfile(index);
  std::uint64_t state =
      layout_.seed ^ (0xD1B54A32D192ED03ULL * (static_cast<std::uint64_t>(index) + 1));
  const std::int64_t maxValue = layout_.dataLength == 2 ? 0xFFFF : 0xFFFFFFFFLL;
  const std::size_t pixels = radiusBin_.size();
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint16_t bin = radiusBin_[i];
    const auto noise = static_cast<std::int64_t>((NextRandom(state) >> 32) * spread_[bin] >> 32);
    const std::int64_t value =
        std::clamp<std::int64_t>(mean_[bin] + noise - spread_[bin] / 2, 0, maxValue);
    if (layout_.dataLength == 2) {
      out[2 * i] = static_cast<unsigned char>(value >> 8);
      out[2 * i + 1] = static_cast<unsigned char>(value);
    } else {
      out[4 * i] = static_cast<unsigned char>(value >> 24);
      out[4 * i + 1] = static_cast<unsigned char>(value >> 16);
      out[4 * i + 2] = static_cast<unsigned char>(value >> 8);
      out[4 * i + 3] = static_cast<unsigned char>(value);
    }
  }
}

bool WriteDldDataSet(const DldDataSetLayout &layout, const std::string &headerPath,
                     const std::string &hmPath, std::string *error) {
  if (const std::string problem = DldLayoutProblem(layout); !problem.empty()) {
    *error = problem;
    return false;
  }
  File header(std::fopen(headerPath.c_str(), "wb"));
  if (!header) {
    *error = "cannot create " + headerPath;
    return false;
  }
  const std::string text = DldHeaderText(layout);
  if (!WriteAll(header.get(), text.data(), text.size())) {
    *error = "cannot write " + headerPath;
    return false;
  }
  if (!Finish(std::move(header), headerPath, error)) return false;

  File hm(std::fopen(hmPath.c_str(), "wb"));
  if (!hm) {
    *error = "cannot create " + hmPath;
    return false;
  }
  bool ok = true;
  if (!AtLeast(layout.version, "2.0")) {
    const std::array<unsigned char, kLeadingBlockBeforeV2> leading{};
    ok = WriteAll(hm.get(), leading.data(), leading.size());
  }
  DldPictureGenerator pictures(layout);
  std::vector<unsigned char> frame(pictures.FrameBytes());
  for (int index = 0; ok && index < layout.frames; ++index) {
    pictures.Frame(index, frame.data());
    ok = WriteAll(hm.get(), frame.data(), frame.size());
  }
  if (!ok) {
    *error = "cannot write " + hmPath;
    return false;
  }
  return Finish(std::move(hm), hmPath, error);
}
