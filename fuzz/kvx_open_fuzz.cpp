// Opening arbitrary file contents as a KVX file: in mode "read" with a look
// at the first images, and in mode "any" followed by the dimension query
// and the append of a small image, as the converter does with an existing
// output file.  Promises checked: a failed open leaves the file as it was,
// an open and an append never change a byte that the file held (general
// blocks and a final line end aside), and an appended image reads back.
#include <array>
#include <cctype>
#include <cstdint>
#include <string>

#include "bslio.h"
#include "fuzz_support.h"
#include "kvxio.h"

using fuzz_support::Require;

namespace {

constexpr long kColumns = 4;
constexpr long kRows = 3;
// Far above what the seeds hold, so that the append usually finds it free.
constexpr long kAppendedImage = 1000000;

void QueryImages(int stream) {
  for (long image : {1L, 2L, kAppendedImage}) {
    std::array<long, 3> dim = {2, 0, 0};
    size_t bytes = 0;
    int error = 0, status = 0;
    (void)kvx_read_data_dimension(stream, image, 1, dim.data(), &bytes, &error, &status);
    (void)kvx_read_data_dimension(stream, image, 1, nullptr, nullptr, nullptr, nullptr);
  }
}

void OpenForReading(const std::string &path) {
  int error = 0, status = 0;
  const int stream = kvx_open_data_file(path.c_str(), "read", &error, &status);
  Require((stream >= 0) == (error == RoutineSucceeded), "a stream exactly when the open succeeds");
  if (stream < 0) return;
  QueryImages(stream);
  Require(kvx_close_data_file(stream, &error, &status) == 1, "a file read is closed");
}

bool AppendImage(int stream) {
  std::array<long, 3> dim = {2, 0, 0};
  int error = 0, status = 0;
  if (kvx_read_data_dimension(stream, kAppendedImage, 1, dim.data(), nullptr, &error, &status))
    return false;
  std::array<uint16_t, kColumns * kRows> pixels{};
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 1000);
  const std::array<long, 3> size = {2, kColumns, kRows};
  return kvx_write_header_long(stream, kAppendedImage, 1, "Frame", 7, &error, &status) == 1 &&
         kvx_write_header_line(stream, kAppendedImage, 1, "Title", "appended", &error, &status) ==
             1 &&
         kvx_write_data_raw(stream, kAppendedImage, 1, size.data(), pixels.data(), Unsigned16, 0,
                            HighByteFirst, 1, &error, &status) == 1;
}

// The appended image is found again with its dimensions.
void CheckAppended(const std::string &path) {
  int error = 0, status = 0;
  const int stream = kvx_open_data_file(path.c_str(), "read", &error, &status);
  Require(stream >= 0, "a file just appended to opens for reading");
  std::array<long, 3> dim = {2, 0, 0};
  size_t bytes = 0;
  Require(kvx_read_data_dimension(stream, kAppendedImage, 1, dim.data(), &bytes, &error, &status) ==
                  1 &&
              error == RoutineSucceeded,
          "the appended image is found");
  Require(dim[1] == kColumns && dim[2] == kRows && bytes == kColumns * kRows * 2,
          "the appended image keeps its dimensions");
  Require(kvx_close_data_file(stream, &error, &status) == 1, "a file read is closed");
}

// A general block counts the blocks of its file and is rewritten with every
// new block; any other existing byte must stay as it was.  Looked for
// generously (any case, anywhere) so that no file with one is missed.
bool MayHoldGeneralBlock(std::string_view bytes) {
  std::string lower(bytes);
  for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("general") != std::string::npos ||
         lower.find("datablocks") != std::string::npos;
}

// A line end (CR, LF or CR LF) at the very end of a file is read as the end
// of the file, not as the start of a block: the next block is written from
// there, over that line end.  A file of nothing else counts as empty.
size_t BytesKeptByAnAppend(std::string_view bytes) {
  for (std::string_view line_end : {"\r\n", "\n", "\r"}) {
    if (bytes.size() >= line_end.size() &&
        bytes.substr(bytes.size() - line_end.size()) == line_end)
      return bytes.size() - line_end.size();
  }
  return bytes.size();
}

void OpenForAppending(const std::string &path, std::string_view original) {
  int error = 0, status = 0;
  const int stream = kvx_open_data_file(path.c_str(), "any", &error, &status);
  if (stream < 0) {
    Require(fuzz_support::ReadWholeFile(path) == original, "a failed open leaves the file alone");
    return;
  }
  QueryImages(stream);
  const bool appended = AppendImage(stream);
  const bool closed = kvx_close_data_file(stream, &error, &status) == 1;
  if (!closed) kvx_close_data_file(stream, nullptr, nullptr);
  if (closed && !MayHoldGeneralBlock(original)) {
    const size_t kept = BytesKeptByAnAppend(original);
    Require(fuzz_support::ReadWholeFile(path).compare(0, kept, original, 0, kept) == 0,
            "appending leaves every existing byte as it was");
  }
  if (appended && closed) CheckAppended(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::SilenceStdout();
  kvx_reset_settings();
  bsl_reset_table();
  const std::string_view bytes = fuzz_support::AsBytes(data, size);
  OpenForReading(fuzz_support::WriteScratchFile("input.kvx", bytes));
  OpenForAppending(fuzz_support::WriteScratchFile("output.kvx", bytes), bytes);
  return 0;
}
