// GetDldFrame: the DLD frame source.  Reads the DLD header file (a
// line-oriented text file written by the histogramming-memory acquisition)
// and the frames of the histogramming-memory (HM) file beside it.
//
// Line syntax of the header file: it is read in lines of at most 127
// characters, exactly as a line read with a 128-byte buffer does it; a longer
// line is read in pieces and every piece counts as a line.  The leading
// integer of a line is what strtol reads in base 10 at its start (0 when no
// digits); a section ends with the first line whose leading integer is -1; a
// counted block is a line holding its own line count N and the N - 1 lines
// after it.  Number values are scanned like "%g"; a number outside the range
// of its type counts as no number (the value keeps its default).
//
// Process-wide values: the last parse of a header file leaves its version,
// geometry and frame count in this module; the accessors below return them
// (all zero, version empty, in a fresh process).  The frame readers use that
// geometry.  One thread only.
//
// Results of every reader (see `DldResult`): 0 success, 1 no stream given,
// 2 the stream could not be positioned, 3 size or range rejected, 4 memory
// could not be allocated, 5 the file ended early (the header file inside a
// section, block or fixed line, or the HM file inside the frame).
//
// A header block whose title line is wrong ("TIMING", "SCALERCALIB",
// "EXPERIMENT", "INFO") is a broken file that cannot be reported otherwise:
// the reader prints "SCANERROR : Header version <version> (<title>)" on the
// error stream and ends the process with exit value -1.
//
// Streams are owned by the caller: open FILE streams in binary read mode.
// The section readers leave the header stream's position undefined.  In a
// DldHeaderCache (below) the header file is indexed once and the index is
// reused while the file (device, inode, size, modification and change
// time) stays the same, so reading every frame of a run costs time linear
// in the frames; so are the values that do not depend on the frame
// (calibration, experiment and info blocks), unless reading them printed a
// message.  A leading
// integer outside the range of an int reads as 0, except for the channel and
// frame ranges, which are then rejected (result 3).
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Limits that stored header files and callers rely on.
inline constexpr int kDldScalerChannels = 32;  // channels per frame in the output
inline constexpr int kDldLineSize = 128;       // line buffer: 127 characters + terminator
inline constexpr int kDldVersionSize = 128;    // DldVersion text buffer
// Largest header file that is read.  A header holds a few lines per frame
// (about 2 KiB with 32 scaler channels), so this allows some 250,000 frames;
// it stops a device or a runaway file (/dev/zero, a pipe that never ends)
// from being read until memory runs out.
inline constexpr std::size_t kDldMaxHeaderFileBytes = std::size_t{512} << 20;
inline constexpr int kDldNameLength = 9;  // characters of a channel name that count
// Name store: 32 names of at most 9 characters, each with its terminator.
inline constexpr int kDldNameStoreSize = kDldScalerChannels * (kDldNameLength + 1);

enum DldResult : int {
  DldSuccess = 0,
  DldNoStream = 1,
  DldPositionFailed = 2,
  DldRejected = 3,
  DldAllocationFailed = 4,
  DldShortRead = 5,
};

// Module values of the last successful parse (ParseScalarHeaderFile,
// GetMaxDldNumber, ReadDldType, ReadDldExperiment, ReadDldInfo).
// `DldVersion` is also updated by ReadDldScalars.  The texts are
// zero-terminated buffers of the module (kDldVersionSize and
// kDldNameStoreSize bytes) that stay valid for the whole process.
const char *DldVersion();         // "0.0" for a file without a version line
int DataLen();                    // bytes per pixel: data length in bits / 8, truncated
int Xsize();                      // columns of a frame
int Ysize();                      // rows of a frame
int NumberOfFrames();             // frames in the HM file
int XOff();                       // column offset; only version "1.0" on sets it
int YOff();                       // row offset; same rule
const char *HScalarNameBuffer();  // channel names of the last ReadDldScalars

// strcmp(DldVersion(), literal) >= 0: the header version is at least
// `literal` ("1.0", "1.1", "2.0", "2.1", "2.2") compared as text.
[[nodiscard]] bool DldVersionAtLeast(const char *literal);

// Back to the state of a fresh process: module values, and what the cache
// in use (see DldHeaderCache) holds.
void ResetDldFrameModule();

// What the readers keep of a header file between calls: its line index
// while the file is unchanged, the places of the scaler reader's lines in
// it and the values that do not depend on the frame.  Whoever reads the
// frames of one data set owns one for as long as it does (the converter:
// for its run), and it is released with it.  While one lives the readers
// use it (the newest, when several do); without one, each reader call
// keeps its own for the call and indexes the file anew.  One thread only.
class DldHeaderCache {
 public:
  DldHeaderCache();
  ~DldHeaderCache();
  DldHeaderCache(const DldHeaderCache &) = delete;
  DldHeaderCache &operator=(const DldHeaderCache &) = delete;

  struct State;

 private:
  std::unique_ptr<State> state_;
  DldHeaderCache *outer_;  // the cache in use before this one
};

const char *GetDldFrameVersion();

// The readers of one frame's values (ReadDldScalars, ReadDldExperiment,
// ReadDldInfo) each look at the header file (device, inode, size,
// modification and change time) to see whether it changed since it was
// indexed.  While an object of this class lives, the first look at a
// stream holds for the readers after it: the values of one frame come from
// one state of the file, at the cost of one look.  Scopes may nest; the
// streams read in a scope must stay open while it lives.  A scope holds
// the looks of the DldHeaderCache in use when it begins, which must outlive
// it; without one it holds nothing.
class DldHeaderReadScope {
 public:
  DldHeaderReadScope();
  ~DldHeaderReadScope();
  DldHeaderReadScope(const DldHeaderReadScope &) = delete;
  DldHeaderReadScope &operator=(const DldHeaderReadScope &) = delete;

 private:
  DldHeaderCache::State *cache_;  // the cache in use when the scope began, if any
};

// Parses the header file from its start: version, geometry and frame count.
// 0 on success (module values refreshed; the stream stands at the line after
// the geometry lines); 1 no stream; 2 cannot position at the start; 5 the
// file ends before the geometry lines are complete (module values unchanged).
[[nodiscard]] int ParseScalarHeaderFile(FILE *stream);

// Parses and stores NumberOfFrames() in *Maximum: 0; on any failure returns
// 1 and leaves *Maximum alone.
[[nodiscard]] int GetMaxDldNumber(FILE *stream, int *Maximum);

// Parses and stores Xsize, Ysize, DataLen, XOff, YOff: 0; any failure: 1
// (outputs untouched).
[[nodiscard]] int ReadDldType(FILE *stream, int *X, int *Y, int *DataLength, int *OffsetX,
                              int *OffsetY);

// Scaler values of frame `FrameNumber` (channel FirstScalar in element 0),
// channel names, zero offsets and calibration factors, scaler depth, the two
// sets of channel assignments, the acquisition start time (at most 127
// characters) and the frame's time.  Every output first gets its default
// (value 0, name "none", zero 0, factor 1, depth 24, assignments 0, time 0,
// start time empty); `*HmDldVersion` points at DldVersion().  Versions before
// "1.0" give only the scaler values.  The names point into
// HScalarNameBuffer() (or at a constant "none") and stay valid until the
// next call.  All pointers must be valid.
// Results: 1 no stream, 2 cannot rewind, 3 frame number outside the header's
// frame range or channel range beyond 32 channels (with the "BAD SIZE"
// messages on standard output; a version "1.0" header instead gets
// "Lengths adjusted" and channels 1 to 31), 5 the file ends early.
[[nodiscard]] int ReadDldScalars(FILE *stream, const char **HmDldVersion,
                                 std::array<float, kDldScalerChannels> &Scalars,
                                 std::array<const char *, kDldScalerChannels> &ScalarName,
                                 std::array<float, kDldScalerChannels> &ScalarZero,
                                 std::array<float, kDldScalerChannels> &ScalarCalib,
                                 float *ScalarDepth, int *ScalarI0, int *ScalarI1, int *ScalarAnode,
                                 int *ScalarTime, int *ScalarI0S, int *ScalarI1S, int *ScalarAnodeS,
                                 int *ScalarTimeS, float *HmDeltaTime, std::string *HmStartTime,
                                 int FrameNumber);

// Experiment values.  Defaults: texts absent, centres 0, pixel sizes 1,
// wavelength 1e-10, distance 0, detector position 0, flags 0.  From version
// "1.0" on the EXPERIMENT block sets them (flags 1); the detector position
// from version "2.2" on.  The texts are the caller's.
// Results: 1 the parse failed, 4 no memory for a text, 5 the file ends early.
[[nodiscard]] int ReadDldExperiment(FILE *stream, std::optional<std::string> *Title,
                                    std::optional<std::string> *ExperimentInfo, float *Center_1,
                                    float *Center_2, int *ICenter, float *PixSize_1,
                                    float *PixSize_2, int *IPixSize, float *WaveLength,
                                    int *IWaveLength, float *SampleDistance, int *ISampleDistance,
                                    float *DetectorPosition, int *IDetectorPosition);

// Instrument texts of the INFO block (version "1.0" on; absent before).
// Results: 1 the parse failed, 4 no memory for a text, 5 the file ends early.
[[nodiscard]] int ReadDldInfo(FILE *stream, std::optional<std::string> *DetectorType,
                              std::optional<std::string> *MachineInfo,
                              std::optional<std::string> *OpticsInfo,
                              std::optional<std::string> *StationInfo,
                              std::optional<std::string> *ProposalInfo);

// Reads frame `FrameNumber` (from 1; 1 or less reads the first frame) of the
// HM file into *Start (the stream's position afterwards is undefined), resized to exactly
// DataLen() * Xsize() * Ysize() bytes, with the geometry of the last parse.  Pixels are left as
// stored. ReadDldData is for header versions "2.0" and later (frames from byte 0), ReadDldDataV1
// for earlier ones (frames after a 512-byte leading block). Results: 1 no stream; 2 positioning
// failed, or the frame's end lies beyond the largest file offset (checked before allocating); 3 a
// geometry factor below 1 or a size beyond 64 bits (message "BAD SIZE : (Header <version>) DataLen
// * Xsize * Ysize<=0" on standard output, *Start untouched); 4 no memory; 5 fewer bytes than a
// frame (a frame that ends beyond the end of a regular file is refused before allocating,
// *Start untouched; otherwise the buffer is sized, its unread part undefined).
// A buffer that has the frame's size already, as from the frame before, is read into with one
// positioned read and no other call on the file: a frame beyond the end of the file then gives 5
// with the buffer's size kept and its content undefined.
[[nodiscard]] int ReadDldData(FILE *stream, int FrameNumber, std::vector<unsigned char> *Start);
[[nodiscard]] int ReadDldDataV1(FILE *stream, int FrameNumber, std::vector<unsigned char> *Start);

// The geometry of the frames of an HM file.
struct DldFrameGeometry {
  int dataLen = 0;  // bytes per pixel
  int xsize = 0;    // columns
  int ysize = 0;    // rows
};

// The geometry of the last parse: DataLen(), Xsize(), Ysize().
DldFrameGeometry DldGeometry();

// The frame readers for the geometry given, as above; the functions above
// read with DldGeometry().
[[nodiscard]] int ReadDldData(FILE *stream, int FrameNumber, const DldFrameGeometry &geometry,
                              std::vector<unsigned char> *Start);
[[nodiscard]] int ReadDldDataV1(FILE *stream, int FrameNumber, const DldFrameGeometry &geometry,
                                std::vector<unsigned char> *Start);
