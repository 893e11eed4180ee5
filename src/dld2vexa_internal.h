// What the converter's source files share: its usage and version texts, the
// trace line and the owner of an input file stream.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "dld2vexa.h"

// Usage line (the positional arguments) and version text of the converter.
inline constexpr const char *kD2VUsage =
    "\n<i/p file> <dummy> <first> <last> <inc> <o/p file> <o/p first> <i/p hm>";
inline constexpr const char *kD2VVersion = "V4.20 2008-12-05, Ardeny";

// Prints a trace line while the converter's debug level is set.
inline void D2V_trace(const char *step) {
  if (D2V_debug_level()) std::printf("%s\n", step);
}

struct D2VFileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
// An input file opened by the converter, closed when it goes out of scope.
using D2VInputFile = std::unique_ptr<FILE, D2VFileCloser>;

// Opens an input file for binary reading.  A directory opens like a file
// but fails at the first read, where it would pass for an empty file; it is
// refused here with EISDIR.
inline FILE *openInput(const char *name) {
  FILE *file = std::fopen(name, "rb");
  struct stat info {};
  if (file != nullptr && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

// The message for an input file that cannot be opened: its name and the
// system's reason, taken right after the failed open.
inline std::string openFailure(const char *name) {
  return std::string(name) + ": " + std::strerror(errno);
}

// The message for a header file whose frame count or geometry cannot be
// read: the file ends before them.
inline std::string unreadableHeader(const char *name) {
  return std::string(name) + ": frame count or geometry cannot be read";
}
