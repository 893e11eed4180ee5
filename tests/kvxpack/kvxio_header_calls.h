// Images written by a list of header calls, for the tests of headers that
// are written from their log of calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kvxio.h"
#include "kvxio_test_util.h"

namespace kvxtest {

using Calls = std::vector<std::pair<std::string, std::string>>;

// A call "=width" sets the line width to the value; every other call
// writes a header line.
inline void write_image(int stream, long number, const Calls &calls) {
  for (const auto &[key, value] : calls) {
    if (key == "=width") {
      kvx_set_max_line_width(std::stol(value));
      continue;
    }
    int error = -1;
    ASSERT_EQ(kvx_write_header_line(stream, number, 1, key.c_str(), value.c_str(), &error, nullptr),
              1)
        << key << " error " << error;
  }
  const std::vector<uint16_t> data(16, static_cast<uint16_t>(number));
  int error = -1;
  ASSERT_TRUE(testsupport::write_kvx_image(
      stream, testsupport::KvxTestImage(number, {2, 4, 4}, data.data()), &error))
      << "data error " << error;
}

// The file written by `writes`: {image number, calls} in turn.
inline std::string written(const std::string &name,
                           const std::vector<std::pair<long, Calls>> &writes) {
  kvxtest::TempDir dir;
  int error = -1;
  const int stream = kvx_open_data_file(dir.file(name).c_str(), "new", &error, nullptr);
  EXPECT_GE(stream, 0) << "open error " << error;
  for (const auto &[number, calls] : writes) write_image(stream, number, calls);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1) << "close error " << error;
  kvx_reset_settings();
  return kvxtest::read_file(dir.file(name));
}

}  // namespace kvxtest
