// Shared helpers of the fuzz targets: quiet output, one scratch directory
// per process and the ways the targets cut their input apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_support {

// Sends standard output to /dev/null for the rest of the process: the code
// under test prints traces, help texts and dialogs that would flood the
// fuzzer's log.  The error stream stays, so sanitizer reports still show.
void SilenceStdout();

// The process's scratch directory under $TMPDIR (or /tmp), created on first
// use and removed with everything in it when the process exits normally.
const std::string &ScratchDir();

// Writes `bytes` to the file `name` of the scratch directory, replacing it,
// and returns its full name.  Aborts when the file cannot be written: a
// target that silently lost its input would fuzz nothing.
std::string WriteScratchFile(const std::string &name, std::string_view bytes);

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string &path);

// The input as text (bytes after an embedded NUL are kept in the string but
// C functions see only the part before it).
inline std::string_view AsBytes(const uint8_t *data, size_t size) {
  return {reinterpret_cast<const char *>(data), size};
}

// The input cut at every NUL byte into words, as a program's argument vector
// arrives; an empty input gives no words.
std::vector<std::string> SplitWords(std::string_view bytes);

// A null-terminated argv over `words` (which must outlive it): the pointers
// refer into the strings, so the code under test may modify the words in
// place as it may modify a real argv.
std::vector<char *> MakeArgv(std::vector<std::string> &words);

// Stops the run with a message when a promise of the code under test is
// broken; the fuzzing engine records the input like a crash.
void Require(bool condition, const char *promise);

}  // namespace fuzz_support
