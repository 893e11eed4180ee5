// Helpers of the kvxinfo tests: the built programs run in a scratch folder,
// KVX files written by the converter or by the library, and PNG
// files read back.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DldWriter.h"
#include "kvxinfo_problem.h"
#include "kvxio.h"
#include "support/KvxImageWriter.h"
#include "support/TestSupport.h"

namespace kvxinfotest {

namespace fs = std::filesystem;

using Outcome = testsupport::RunResult;

// Blocks of the converter's 8 x 4 images of 2 bytes (convert(n, 8, 4, 2)):
// 8192 header bytes and 512 binary bytes.
inline constexpr size_t Block = 8704;
using testsupport::read_file;
using testsupport::write_file;

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
  void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no scratch folder"; }

  fs::path path(const std::string &name) const { return dir_ / name; }

  // Runs `program` with `args` in the scratch folder.
  Outcome run_program(const std::string &program, const std::vector<std::string> &args) const {
    std::vector<std::string> command{program};
    command.insert(command.end(), args.begin(), args.end());
    return testsupport::run_program(dir_, command);
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

  testsupport::ScratchDir scratch_{"kvxinfo"};
  fs::path dir_ = scratch_.path();
};

// Replaces the first `from` by `to` (of the same length) in a file.
inline void patch(const fs::path &file, const std::string &from, const std::string &to) {
  ASSERT_EQ(from.size(), to.size());
  std::string bytes = read_file(file);
  const size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  bytes.replace(at, from.size(), to);
  write_file(file, bytes);
}

// Writes one image with the library: `dims` = {n, sizes...}, data as given.
// `value_offset` is added to them for their true values.  The library's
// settings are reset afterwards.
inline bool write_image(const std::string &file, long number, const std::vector<long> &dims,
                        const void *data, int type, int byte_order,
                        const testsupport::KvxEntries &keys = {}, int compression = 0,
                        long value_offset = 0) {
  const bool ok = testsupport::write_kvx_file(file,
                                              {testsupport::KvxTestImage(number, dims, data)
                                                   .as(type, byte_order)
                                                   .offset(value_offset)
                                                   .with(keys)},
                                              "any", compression);
  kvx_reset_settings();
  return ok;
}

}  // namespace kvxinfotest
