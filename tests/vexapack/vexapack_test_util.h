// Small helpers shared by the framework's tests.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "VexaError.h"
#include "VexaOption.h"

namespace vexapacktest {

// Empties the error record and releases its texts.
inline void ClearErrorRecord() { SetVexaError(nullptr, nullptr, nullptr); }

inline std::string Text(const IO_text &text) { return text.data(); }

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace vexapacktest
