// DldWriter: writes synthetic DLD data sets (a DLD header file and its
// histogramming-memory file) for tests, the demo and the benchmarks.
//
// The header follows the layout that the acquisition writes for the chosen
// header version: scaler section, calibration section with the TIMING and
// SCALERCALIB blocks (from "1.0"), geometry lines, EXPERIMENT and INFO blocks
// (from "1.0").  Scaler channel c counts 100 * c + 10 * (f - FirstFrame) in
// frame f; the channels are named "I0", "I1", then "C<channel>".
//
// The frames show rings around a beam centre behind a beam stop, on a
// falling background, with counting noise; the rings drift and the intensity
// changes from frame to frame.  Everything follows from the seed: the same
// layout always gives the same bytes.  Pixels are unsigned integers of
// `dataLength` bytes, high byte first; frames of versions before "2.0" come
// after a 512-byte leading block of zeros.
//
// The default layout is the documented worked example: version
// "2.2", channels 1 and 2, two frames of 4 x 3 pixels of 2 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DldDataSetLayout {
  std::string version = "2.2";  // "0.0": the file has no version line
  long firstScalar = 1;         // scaler channel range
  long lastScalar = 2;
  long firstFrame = 1;  // frame range of the scaler and TIMING sections
  long lastFrame = 2;
  int columns = 4;
  int rows = 3;
  int dataLength = 2;  // bytes per pixel: 2 or 4
  int frames = 2;      // frames in the HM file and in the header's frame count
  int xOffset = 0;
  int yOffset = 0;
  std::string frameTime = "0.5";  // time of every frame, as written
  std::uint64_t seed = 1;
};

// Limits of the writer, against layouts that would make absurd files.
inline constexpr long kDldWriterMaxChannels = 1024;
inline constexpr long kDldWriterMaxFrameRange = 100'000'000;

// An empty text when the layout can be written, else the reason.
std::string DldLayoutProblem(const DldDataSetLayout &layout);

// The whole header file.  The layout must be valid.
std::string DldHeaderText(const DldDataSetLayout &layout);

// Pictures of one data set, frame by frame.
class DldPictureGenerator {
 public:
  explicit DldPictureGenerator(const DldDataSetLayout &layout);  // a valid layout

  std::size_t FrameBytes() const { return frameBytes_; }
  // Frame `index` (from 0) as stored in the HM file; `out` holds FrameBytes().
  void Frame(int index, unsigned char *out);

 private:
  void BuildProfile(int index);

  DldDataSetLayout layout_;
  std::size_t frameBytes_ = 0;
  std::vector<std::uint16_t> radiusBin_;  // per pixel: distance from the centre in bins
  std::vector<std::int32_t> mean_;        // per bin: expected counts in this frame
  std::vector<std::int32_t> spread_;      // per bin: width of the noise band
  std::vector<double> ringRadius_;
  std::vector<double> ringHeight_;
  double width_ = 1.0;
  double beamStop_ = 0.0;
};

// Writes both files.  On failure returns false with the reason in *error;
// a file may then be incomplete.
[[nodiscard]] bool WriteDldDataSet(const DldDataSetLayout &layout, const std::string &headerPath,
                                   const std::string &hmPath, std::string *error);
