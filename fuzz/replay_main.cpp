// Replays inputs through a fuzz target without the fuzzing engine, so that
// every target also runs in the ordinary builds: each argument is a file
// to feed, or a directory whose regular files are fed in name order.  Used
// by the tests to replay the seed corpus and the inputs of faults found.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

// The files an argument names; false when it names nothing readable.
bool CollectInputs(const fs::path &arg, std::vector<fs::path> *files) {
  std::error_code error;
  if (fs::is_directory(arg, error)) {
    std::vector<fs::path> found;
    for (const fs::directory_entry &entry : fs::directory_iterator(arg, error)) {
      if (entry.is_regular_file()) found.push_back(entry.path());
    }
    if (error) return false;
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
    return true;
  }
  if (!fs::is_regular_file(arg, error)) return false;
  files->push_back(arg);
  return true;
}

}  // namespace

int main(int argc, char *argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <input file or directory>...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], &files)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 2;
    }
  }
  for (const fs::path &file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    // An input that cannot be opened must not pass as an empty one.
    if (!in.is_open() || in.bad()) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
      return 2;
    }
    std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", files.size());
  // A corpus that went missing would otherwise pass without testing anything.
  if (files.empty()) {
    std::fprintf(stderr, "%s: no inputs found\n", argv[0]);
    return 2;
  }
  return 0;
}
