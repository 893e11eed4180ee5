// Helpers of the kvxinfo tests: a scratch folder, running the built
// programs, KVX files written by the converter or by the library, and PNG
// files read back.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DldWriter.h"
#include "kvxio.h"

namespace kvxinfotest {

namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::string out, err;
};

inline std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string quote(const std::string &word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A grey-scale PNG read back with libpng.
struct Png {
  bool ok = false;
  unsigned width = 0, height = 0;
  std::vector<unsigned char> grey;
};

inline Png read_png(const fs::path &path) {
  Png png;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return png;
  image.format = PNG_FORMAT_GRAY;
  png.grey.resize(PNG_IMAGE_SIZE(image));
  png.ok = png_image_finish_read(&image, nullptr, png.grey.data(), 0, nullptr) != 0;
  png.width = image.width;
  png.height = image.height;
  png_image_free(&image);
  return png;
}

// A scratch folder with the programs to run in it.
class KvxinfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvxinfo-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path path(const std::string &name) const { return dir_ / name; }

  // Runs `program` with `args` in the scratch folder.
  Outcome run_program(const std::string &program, const std::vector<std::string> &args) const {
    std::string command = "cd " + quote(dir_.string()) + " && " + quote(program);
    for (const auto &arg : args) command += " " + quote(arg);
    command += " </dev/null >.stdout 2>.stderr";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.exit = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = read_file(dir_ / ".stdout");
    run.err = read_file(dir_ / ".stderr");
    return run;
  }

  Outcome kvxinfo(const std::vector<std::string> &args) const {
    return run_program(KVXINFO_BIN_PATH, args);
  }

  // Converts a data set of `frames` frames of `columns` x `rows` pixels of
  // `length` bytes into "gasdet001.kvx"; returns the HM file's bytes.
  std::string convert(int frames, int columns, int rows, int length) {
    DldDataSetLayout layout;
    layout.frames = frames;
    layout.lastFrame = frames;
    layout.columns = columns;
    layout.rows = rows;
    layout.dataLength = length;
    std::string error;
    EXPECT_TRUE(
        WriteDldDataSet(layout, path("gasdet001").string(), path("gasdet001hm").string(), &error))
        << error;
    const Outcome run = run_program(DLD2VEXA_BIN_PATH, {"gasdet001", "="});
    EXPECT_EQ(run.exit, 0) << run.out << run.err;
    return read_file(path("gasdet001hm"));
  }

  fs::path dir_;
};

// Writes one image with the library: `dims` = {n, sizes...}, data as given.
inline bool write_image(const std::string &file, long number, const std::vector<long> &dims,
                        const void *data, int type, int byte_order,
                        const std::vector<std::pair<std::string, std::string>> &keys = {},
                        int compression = 0) {
  kvx_set_datacompression(compression);
  int error = 0;
  const int stream = kvx_open_data_file(file.c_str(), "any", &error, nullptr);
  bool ok = stream >= 0;
  for (const auto &[key, value] : keys)
    ok = ok &&
         kvx_write_header_line(stream, number, 1, key.c_str(), value.c_str(), &error, nullptr) == 1;
  ok = ok && kvx_write_data_raw(stream, number, 1, dims.data(), data, type, 0, byte_order, 1,
                                &error, nullptr) == 1;
  if (stream >= 0) ok = kvx_close_data_file(stream, &error, nullptr) == 1 && ok;
  kvx_reset_settings();
  return ok;
}

}  // namespace kvxinfotest
