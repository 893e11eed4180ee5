#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fuzz_support {
namespace {

std::string g_scratch;

void RemoveScratch() {
  std::error_code ignored;
  if (!g_scratch.empty()) std::filesystem::remove_all(g_scratch, ignored);
}

}  // namespace

void SilenceStdout() {
  static const bool done = [] {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) std::abort();
    close(null);
    return true;
  }();
  (void)done;
}

const std::string &ScratchDir() {
  if (g_scratch.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/dld2vexa-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("fuzz: cannot create the scratch directory");
      std::abort();
    }
    g_scratch = pattern;
    std::atexit(RemoveScratch);
  }
  return g_scratch;
}

std::string WriteScratchFile(const std::string &name, std::string_view bytes) {
  const std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::perror(("fuzz: cannot write " + path).c_str());
    std::abort();
  }
  return path;
}

std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> SplitWords(std::string_view bytes) {
  std::vector<std::string> words;
  if (bytes.empty()) return words;
  size_t start = 0;
  for (;;) {
    const size_t end = bytes.find('\0', start);
    words.emplace_back(bytes.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return words;
}

std::vector<char *> MakeArgv(std::vector<std::string> &words) {
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

void Require(bool condition, const char *promise) {
  if (condition) return;
  std::fprintf(stderr, "fuzz: broken promise: %s\n", promise);
  std::abort();
}

}  // namespace fuzz_support
