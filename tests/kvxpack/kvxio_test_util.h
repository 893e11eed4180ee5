// Helpers of the data file library tests: the library's state around a
// test, running as an unprivileged user and a small header reader.
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
#include "support/TestSupport.h"

namespace kvxtest {

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

// Undoes the value encoding of a stored value text: quotes, escapes and
// line continuations.
inline std::string decode_value(std::string text) {
  size_t first = text.find_first_not_of(" \t\r\n\f\v");
  text = first == std::string::npos ? "" : text.substr(first);
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') continue;
    if (c != '\\' || i + 1 == text.size()) {
      out.push_back(c);
      continue;
    }
    char e = text[++i];
    switch (e) {
      case ':':
        out.push_back(';');
        break;
      case ')':
        out.push_back('}');
        break;
      case '(':
        out.push_back('{');
        break;
      case 'l':
        out.push_back('\n');
        break;
      case 's':
        out.push_back(' ');
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        break;
      case '\n':
        break;
      default:
        out.push_back(e);
    }
  }
  size_t last = out.find_last_not_of(" \t\r\n\f\v");
  out.erase(last == std::string::npos ? 0 : last + 1);
  if (!out.empty() && out.back() == '"') out.pop_back();
  return out;
}

// The entries of the header that starts at `start` in `file` as key ->
// stored value text, and the header's end position in `end`.
inline std::map<std::string, std::string> header_entries(const std::string &file, size_t start,
                                                         size_t *end = nullptr) {
  std::map<std::string, std::string> entries;
  size_t stop = file.find("\r\n}\n", start);
  if (end != nullptr) *end = stop == std::string::npos ? stop : stop + 4;
  std::string header = file.substr(start, stop - start);
  size_t pos = 3;  // after "{" CR LF
  while (pos < header.size()) {
    size_t eq = header.find(" = ", pos);
    size_t semi = header.find(" ;\r\n", pos);
    if (eq == std::string::npos || semi == std::string::npos || eq > semi) break;
    entries[header.substr(pos, eq - pos)] = header.substr(eq + 3, semi - eq - 3);
    pos = semi + 4;
  }
  return entries;
}

// The keys of a header in the order they are written.
inline std::vector<std::string> header_keys(const std::string &file, size_t start) {
  std::vector<std::string> keys;
  size_t stop = file.find("\r\n}\n", start);
  size_t pos = start + 3;
  while (pos < stop) {
    size_t eq = file.find(" = ", pos);
    size_t semi = file.find(" ;\r\n", pos);
    if (eq == std::string::npos || semi == std::string::npos || eq > semi || semi > stop) break;
    keys.push_back(file.substr(pos, eq - pos));
    pos = semi + 4;
  }
  return keys;
}

}  // namespace kvxtest
