// The BSL header reader on arbitrary header bytes.  The binary files that a
// header names are never read, so they need not exist.
#include <cstdint>
#include <string>

#include "bslio.h"
#include "fuzz_support.h"

using fuzz_support::Require;

namespace {

// Memories and frames worth looking at: the ends of each range.
constexpr long kMemoriesLooked = 4;

void DescribeFrames(int stream, long memory) {
  long first = 0, last = 0;
  if (bsl_frame_range(stream, memory, &first, &last) != 0) return;
  Require(first <= last, "a frame range is ordered");
  for (long frame : {first, last, last + 1}) {
    const BslDataSpec *desc = read_bsl_data_spec(stream, memory, frame);
    if (desc == nullptr) continue;
    Require(desc->Dim.size() == 3 && desc->Dim[0] == 2 && desc->Dim[1] >= 1 && desc->Dim[2] >= 1,
            "a frame has two sizes of at least 1");
    Require(desc->BinaryFileLen ==
                static_cast<uint64_t>(desc->Dim[1]) * static_cast<uint64_t>(desc->Dim[2]) * 4,
            "a frame holds W * H floats");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::SilenceStdout();
  bsl_reset_table();
  const std::string path =
      fuzz_support::WriteScratchFile("header.bsl", fuzz_support::AsBytes(data, size));
  const int stream = open_bsl_file(path.c_str(), "read");
  if (stream < 0) return 0;
  const char *title = nullptr;
  const char *subtitle = nullptr;
  read_bsl_file_headers(stream, &title, &subtitle);
  Require(title != nullptr && subtitle != nullptr, "an open header has both title lines");
  long minMemory = 0, maxMemory = 0;
  if (bsl_memory_range(stream, &minMemory, &maxMemory) == 0) {
    Require(minMemory <= maxMemory, "a memory range is ordered");
    for (long memory = minMemory; memory <= maxMemory && memory < minMemory + kMemoriesLooked;
         ++memory) {
      DescribeFrames(stream, memory);
    }
  }
  print_bsl_filetable(stdout, 3, 1);
  close_bsl_file(stream);
  return 0;
}
