// The DLD header readers and the frame readers on arbitrary header bytes,
// with a small HM file beside the header.
//
// A header with a wrong block title ends the process on purpose (there is
// no result code for it).  That exit is turned into an exception while the
// readers run, so the fuzzer keeps going and still sees every other
// failure; the target is linked with the exit call wrapped.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GetDldFrame.h"
#include "fuzz_support.h"

using fuzz_support::Require;

namespace {

struct ScanErrorExit {
  int code;
};

bool g_readersRunning = false;

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Two frames of 64 x 32 pixels of 4 bytes fit; larger geometries read short.
const std::string &HmPath() {
  static const std::string path = [] {
    std::string bytes(2 * 64 * 32 * 4 + 512, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    return fuzz_support::WriteScratchFile("frames.hm", bytes);
  }();
  return path;
}

// The HM file is a regular file: a frame that does not fit into it must be
// refused before its buffer is allocated, which leaves the buffer alone.
void ReadFrames(FILE *hm, int frame) {
  const std::vector<unsigned char> untouched = {1, 2, 3};
  for (int v1 = 0; v1 < 2; ++v1) {
    std::vector<unsigned char> buffer = untouched;
    const int result = v1 ? ReadDldDataV1(hm, frame, &buffer) : ReadDldData(hm, frame, &buffer);
    Require(result >= DldSuccess && result <= DldShortRead, "frame result within 0..5");
    if (result == DldSuccess) {
      Require(buffer.size() == static_cast<uint64_t>(DataLen()) * Xsize() * Ysize(),
              "a frame read holds DataLen * Xsize * Ysize bytes");
    } else {
      Require(buffer == untouched, "a frame that cannot be read allocates nothing");
    }
  }
}

void ReadSections(FILE *header, FILE *hm) {
  int maximum = -1;
  const int parsed = GetMaxDldNumber(header, &maximum);
  int x = 0, y = 0, length = 0, offX = 0, offY = 0;
  (void)ReadDldType(header, &x, &y, &length, &offX, &offY);

  const char *version = nullptr;
  std::array<float, kDldScalerChannels> scalars{}, zero{}, calib{};
  std::array<const char *, kDldScalerChannels> names{};
  float depth = 0, delta = 0;
  int i0 = 0, i1 = 0, anode = 0, time = 0, i0s = 0, i1s = 0, anodes = 0, times = 0;
  std::string start;
  for (int frame : {1, parsed == 0 ? maximum : 2}) {
    const int result =
        ReadDldScalars(header, &version, scalars, names, zero, calib, &depth, &i0, &i1, &anode,
                       &time, &i0s, &i1s, &anodes, &times, &delta, &start, frame);
    Require(result >= DldSuccess && result <= DldShortRead, "scaler result within 0..5");
    Require(start.size() <= 127, "the start time holds at most 127 characters");
  }

  std::optional<std::string> title, info, detector, machine, optics, station, proposal;
  float c1 = 0, c2 = 0, p1 = 0, p2 = 0, wave = 0, dist = 0, pos = 0;
  int ic = 0, ip = 0, iw = 0, id = 0, ipos = 0;
  (void)ReadDldExperiment(header, &title, &info, &c1, &c2, &ic, &p1, &p2, &ip, &wave, &iw, &dist,
                          &id, &pos, &ipos);
  (void)ReadDldInfo(header, &detector, &machine, &optics, &station, &proposal);

  ReadFrames(hm, 1);
  ReadFrames(hm, 2);
  if (parsed == 0) ReadFrames(hm, maximum);
}

}  // namespace

extern "C" [[noreturn]] void __real_exit(int code);
extern "C" [[noreturn]] void __wrap_exit(int code) {
  if (g_readersRunning) throw ScanErrorExit{code};
  __real_exit(code);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::SilenceStdout();
  ResetDldFrameModule();
  const std::string headerPath =
      fuzz_support::WriteScratchFile("header.dld", fuzz_support::AsBytes(data, size));
  File header(std::fopen(headerPath.c_str(), "rb"));
  File hm(std::fopen(HmPath().c_str(), "rb"));
  Require(header != nullptr && hm != nullptr, "the scratch files open");
  g_readersRunning = true;
  try {
    ReadSections(header.get(), hm.get());
  } catch (const ScanErrorExit &exit) {
    Require(exit.code == -1, "a broken title ends with exit value -1");
  }
  g_readersRunning = false;
  return 0;
}
