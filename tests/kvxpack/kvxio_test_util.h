// Helpers of the data file library tests: the library's state around a
// test, running as an unprivileged user, and the tests' header reader.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kvxio.h"
#include "kvxio_internal.h"
#include "support/KvxHeaderReader.h"
#include "support/KvxImageWriter.h"
#include "support/TestSupport.h"

namespace kvxtest {

// A hand-made header of `size` bytes: "{" CR LF, the entries, spaces,
// CR LF "}" LF.
inline std::string padded_header(const std::string &entries, size_t size) {
  const std::string text = "{\r\n" + entries;
  return text + std::string(size - text.size() - 4, ' ') + "\r\n}\n";
}

// A test of the library's process-wide state: settings reset before and
// after, and every stream of the file table closed after, so that no test
// leaks an open file into the next.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { kvx_reset_settings(); }
  void TearDown() override {
    for (int stream = 0; stream < kvxio::MaxFiles; ++stream)
      (void)kvx_close_data_file(stream, nullptr, nullptr);
    kvx_reset_settings();
  }
};

using TempDir = testsupport::ScratchDir;
using testsupport::read_file;

// Runs `body` in a forked child that file permissions bind: run as root,
// who ignores them, the child first becomes the unprivileged user 65534,
// which must be able to reach the files involved.  Returns what `body`
// returns (0 to 254), or nothing when that user cannot be taken on.
inline std::optional<int> run_unprivileged(const std::function<int()> &body) {
  constexpr int kCannotDrop = 255;
  const pid_t child = fork();
  if (child == 0) {
    if (!testsupport::drop_privileges()) _exit(kCannotDrop);
    _exit(body());
  }
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child || !WIFEXITED(raw) ||
      WEXITSTATUS(raw) == kCannotDrop)
    return std::nullopt;
  return WEXITSTATUS(raw);
}

using testsupport::decode_value;
using testsupport::header_entries;
using testsupport::header_keys;

}  // namespace kvxtest
