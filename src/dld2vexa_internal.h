// What the converter's source files share: its usage and version texts, the
// trace line, the owner of an input file stream and what a run keeps from
// frame to frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "GetDldFrame.h"
#include "dld2vexa.h"
#include "report_sink.h"

// Usage line (the positional arguments) and version text of the converter.
inline constexpr const char *kD2VUsage =
    "\n<i/p file> <dummy> <first> <last> <inc> <o/p file> <o/p first> <i/p hm>";
inline constexpr const char *kD2VVersion = "V4.20 2008-12-05, Ardeny";

// Prints a trace line while the converter's debug level is set.
inline void D2V_trace(const char *step) {
  if (D2V_debug_level()) std::printf("%s\n", step);
}

// A file name, a command-line word or a text of the header file as the
// converter prints it: control characters and bytes that are not UTF-8
// escaped, so that no input can drive the terminal.
inline std::string D2V_shown(const char *text) {
  return report_printable(text != nullptr ? text : "");
}

struct D2VFileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
// An input file opened by the converter, closed when it goes out of scope.
using D2VInputFile = std::unique_ptr<FILE, D2VFileCloser>;

// Opens an input file for binary reading, or gives null and the message
// that says why not in `failure`.  Only regular files are taken: a
// directory opens like a file but would pass for an empty one, a FIFO
// without a writer would hold the open forever, and neither a FIFO nor a
// device or socket can be read again from the start, as a run does.
FILE *openInput(const char *name, std::string &failure);

// The message for a header file whose frame count or geometry cannot be
// read: the file ends before them.
inline std::string unreadableHeader(const char *name) {
  return std::string(name) + ": frame count or geometry cannot be read";
}

// The header texts of the numbers of the frame before, by their place in
// the header.  From one frame to the next most numbers stay the same
// (scaler names, zeros and factors, geometry), and formatting a number cost
// more than storing it: a number is formatted only when it changed.
class NumberTexts {
 public:
  // The text kvx_write_header_float would store; null when the number
  // cannot be formatted.
  const char *Text(size_t place, float value);

 private:
  struct Entry {
    bool valid = false;
    uint32_t bits = 0;
    std::string text;
  };
  std::vector<Entry> entries_;
};

// What a run keeps from one frame to the next, owned by the run and
// released with it: the frame buffer (the frames of a run have one size,
// and a buffer that has it already is read into without being set to zero
// first: a new buffer for every frame cost a seventh of the time of
// converting large frames), the header texts of the numbers of the frame
// before, and what the DLD readers keep of the header file.
struct ConverterRun {
  std::vector<unsigned char> frame;
  NumberTexts numbers;
  DldHeaderCache header;
};

// Dld2Vexa for a frame of `run`.
void ConvertFrame(ConverterRun &run, const CommandBlock *pcb, FILE *InFstream, int In,
                  int DataLength, int Dim_1, int Dim_2, int Off_1, int Off_2, FILE *InHmstream,
                  int OutStream, int Out, const char *InName, float Dummy, int *pErrorValue);
