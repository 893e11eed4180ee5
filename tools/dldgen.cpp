// dldgen: writes a synthetic DLD data set (header file and HM file).
// Without options it writes the documented worked example.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "DldWriter.h"

namespace {

constexpr char kUsage[] =
    "usage: dldgen [options]\n"
    "Writes a synthetic DLD data set: a DLD header file and its histogramming-memory\n"
    "(HM) file with rings around a beam centre and counting noise, the same bytes\n"
    "for the same options.  Without options it writes the worked example (version\n"
    "2.2, channels 1 and 2, two frames of 4 x 3 pixels of 2 bytes) as example.dld\n"
    "and example.hm in the current directory.\n"
    "\n"
    "options:\n"
    "  --header PATH          header file (default example.dld)\n"
    "  --hm PATH              HM file (default: the header path with the extension .hm)\n"
    "  --version TEXT         header version, e.g. 0.0, 1.0, 1.1, 2.0, 2.1, 2.2\n"
    "                         (default 2.2; 0.0 writes no version line)\n"
    "  --channels FIRST:LAST  scaler channel range (default 1:2)\n"
    "  --frame-range FIRST:LAST\n"
    "                         frames of the scaler and timing sections\n"
    "                         (default 1:FRAMES)\n"
    "  --columns N            columns of a frame (default 4)\n"
    "  --rows N               rows of a frame (default 3)\n"
    "  --data-length N        bytes per pixel, 2 or 4 (default 2)\n"
    "  --frames N             frames in the HM file and the header (default 2)\n"
    "  --offsets X:Y          frame offsets of version 1.0 and later (default 0:0)\n"
    "  --frame-time TEXT      time of every frame as written (default 0.5)\n"
    "  --seed N               seed of the picture (default 1)\n"
    "  --help                 print this text\n";

template <typename Number>
bool ParseNumber(std::string_view text, Number *value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc{} && end == text.data() + text.size();
}

template <typename Number>
bool ParsePair(std::string_view text, Number *first, Number *second) {
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos && ParseNumber(text.substr(0, colon), first) &&
         ParseNumber(text.substr(colon + 1), second);
}

struct Options {
  DldDataSetLayout layout;
  std::string headerPath = "example.dld";
  std::string hmPath;
  bool frameRangeGiven = false;
};

// Applies one option with its value; false when the value does not fit.
bool Apply(std::string_view name, std::string_view value, Options &options) {
  DldDataSetLayout &layout = options.layout;
  if (name == "--header") {
    options.headerPath = value;
  } else if (name == "--hm") {
    options.hmPath = value;
  } else if (name == "--version") {
    layout.version = value;
  } else if (name == "--channels") {
    return ParsePair(value, &layout.firstScalar, &layout.lastScalar);
  } else if (name == "--frame-range") {
    options.frameRangeGiven = true;
    return ParsePair(value, &layout.firstFrame, &layout.lastFrame);
  } else if (name == "--columns") {
    return ParseNumber(value, &layout.columns);
  } else if (name == "--rows") {
    return ParseNumber(value, &layout.rows);
  } else if (name == "--data-length") {
    return ParseNumber(value, &layout.dataLength);
  } else if (name == "--frames") {
    return ParseNumber(value, &layout.frames);
  } else if (name == "--offsets") {
    return ParsePair(value, &layout.xOffset, &layout.yOffset);
  } else if (name == "--frame-time") {
    layout.frameTime = value;
  } else if (name == "--seed") {
    return ParseNumber(value, &layout.seed);
  } else {
    return false;
  }
  return true;
}

std::string DefaultHmPath(const std::string &headerPath) {
  const std::size_t slash = headerPath.rfind('/');
  const std::size_t dot = headerPath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? headerPath.substr(0, dot) : headerPath) + ".hm";
}

}  // namespace

int main(int argc, char *argv[]) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--help" || name == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc || !Apply(name, argv[i + 1], options)) {
      std::fprintf(stderr, "dldgen: bad option or value: %s%s%s\n%s", argv[i],
                   i + 1 < argc ? " " : "", i + 1 < argc ? argv[i + 1] : "", kUsage);
      return 2;
    }
    ++i;
  }
  DldDataSetLayout &layout = options.layout;
  if (!options.frameRangeGiven) {
    layout.firstFrame = 1;
    layout.lastFrame = layout.frames;
  }
  if (options.hmPath.empty()) options.hmPath = DefaultHmPath(options.headerPath);
  std::string error;
  if (!WriteDldDataSet(layout, options.headerPath, options.hmPath, &error)) {
    std::fprintf(stderr, "dldgen: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
