// Headers written from a remembered output order must be the bytes the
// symbol list gives.  The first image of a file is always written from its
// symbol list; an image that follows one of the same header calls is
// written from the remembered order.  Each row writes its image both ways
// and compares the two blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "kvxio.h"
#include "kvxio_test_util.h"

namespace {

using Calls = std::vector<std::pair<std::string, std::string>>;

// A call "=width" sets the line width to the value; every other call
// writes a header line.
void write_image(int stream, long number, const Calls &calls) {
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
  const long dim[] = {2, 4, 4};
  const std::vector<uint16_t> data(16, static_cast<uint16_t>(number));
  int error = -1;
  ASSERT_EQ(kvx_write_data_raw(stream, number, 1, dim, data.data(), Unsigned16, 0,
                               HighByteFirst, 1, &error, nullptr),
            1)
      << "data error " << error;
}

// The file written by `writes`: {image number, calls} in turn.
std::string written(const std::string &name, const std::vector<std::pair<long, Calls>> &writes) {
  kvxtest::TempDir dir;
  int error = -1;
  const int stream = kvx_open_data_file(dir.file(name).c_str(), "new", &error, nullptr);
  EXPECT_GE(stream, 0) << "open error " << error;
  for (const auto &[number, calls] : writes) write_image(stream, number, calls);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1) << "close error " << error;
  kvx_reset_settings();
  return kvxtest::read_file(dir.file(name));
}

// The "HeaderID" of a block counts the blocks of its file.
std::string without_header_id(std::string block) {
  const size_t at = block.find("HeaderID = EH:");
  if (at != std::string::npos) block.replace(at + 14, 6, "######");
  return block;
}

TEST(KvxDraft, RememberedOrderGivesTheBytesOfTheSymbolList) {
  const Calls plain = {{"Title", "run 7"}, {"HS32C01", "12"}, {"Dummy", "-1"},
                       {"Center_1", "5.5"}, {"HMFrame", "3"},  {"Offset_1", "0"}};
  const Calls long_value = {{"Title", std::string(300, 'x')}, {"HMFrame", "3"}};
  const Calls wide = {
      {"=width", "0"}, {"Title", "a b c"}, {"=width", "20"}, {"Info", "d e f g h i j k l m n"}};
  struct Row {
    const char *name;
    Calls before;  // the image before, which leaves its order remembered
    Calls image;
  };
  const std::vector<Row> rows = {
      {"same calls", plain, plain},
      {"other calls", plain, {{"HMFrame", "3"}, {"Title", "x"}}},
      {"quoted values", {{"A", " lead"}, {"B", ""}}, {{"A", "trail "}, {"B", "\"q\""}}},
      {"key written twice", {{"Title", "a"}, {"Title", "b"}}, {{"Title", "a"}, {"Title", "b"}}},
      {"keys equal but for case", {{"Title", "a"}, {"TITLE", "b"}}, {{"Title", "a"}, {"TITLE", "b"}}},
      {"value of several pieces", long_value, long_value},
      {"escaped value", {{"Title", "a;b"}}, {{"Title", "a;b"}}},
      {"continuation key first", {{"T~1", "b"}, {"T", "a"}}, {{"T~1", "b"}, {"T", "a"}}},
      {"format key", {{"KVX_Extra", "1"}, {"Z", "2"}}, {{"KVX_Extra", "1"}, {"Z", "2"}}},
      {"line width set within the header", wide, wide},
      {"key that the library removes", {{"DataValueOffset", "7"}}, {{"DataValueOffset", "7"}}},
  };
  for (size_t n = 0; n < rows.size(); ++n) {
    const Row &row = rows[n];
    SCOPED_TRACE(testing::Message() << "row " << n << ": " << row.name);
    const std::string alone = written("alone.kvx", {{2, row.image}});
    const std::string after = written("after.kvx", {{1, row.before}, {2, row.image}});
    ASSERT_GT(after.size(), alone.size());
    EXPECT_EQ(without_header_id(after.substr(after.size() - alone.size())),
              without_header_id(alone));
  }
}

}  // namespace

// Allocation faults: the n-th allocation from the moment of arming fails.
namespace {
long g_allocations_before_fault = -1;  // -1: not armed
}  // namespace

void *operator new(size_t size) {
  if (g_allocations_before_fault == 0) {
    g_allocations_before_fault = -1;
    throw std::bad_alloc();
  }
  if (g_allocations_before_fault > 0) --g_allocations_before_fault;
  if (void *memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void *operator new(size_t size, const std::nothrow_t &) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
// The replaced operator new takes its memory from malloc, so delete gives
// it back with free (GCC cannot see that the two are a pair).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, size_t) noexcept { std::free(memory); }
void operator delete(void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace {

// A header written from the remembered order while allocations fail at
// each point in turn: every call reports its failure, and an image whose
// calls all succeeded is the image written without faults.
TEST(KvxDraft, AllocationFaultsAreReportedAndLeaveWholeImages) {
  // The second image's longer title needs more memory in the header's log.
  const Calls first = {{"Title", "short"}, {"HS32C01", "12"}, {"Center_1", "5.5"}};
  const Calls calls = {{"Title", "a long title that is kept outside the string itself"},
                       {"HS32C01", "12"},
                       {"Center_1", "5.5"}};
  const std::string reference = written("reference.kvx", {{1, first}, {2, calls}});
  for (long fault = 0;; ++fault) {
    SCOPED_TRACE(testing::Message() << "allocation " << fault << " fails");
    kvxtest::TempDir dir;
    const std::string name = dir.file("faults.kvx");
    int error = -1;
    const int stream = kvx_open_data_file(name.c_str(), "new", &error, nullptr);
    ASSERT_GE(stream, 0) << "open error " << error;
    write_image(stream, 1, first);
    const long dim[] = {2, 4, 4};
    const std::vector<uint16_t> data(16, 2);
    g_allocations_before_fault = fault;
    bool failed = false;
    for (const auto &[key, value] : calls)
      failed = failed || kvx_write_header_line(stream, 2, 1, key.c_str(), value.c_str(), &error,
                                               nullptr) != 1;
    failed = failed || kvx_write_data_raw(stream, 2, 1, dim, data.data(), Unsigned16, 0,
                                          HighByteFirst, 1, &error, nullptr) != 1;
    const bool faulted = g_allocations_before_fault < 0;
    g_allocations_before_fault = -1;
    (void)kvx_close_data_file(stream, &error, nullptr);
    EXPECT_TRUE(faulted || !failed) << "a call failed without a fault";
    if (!failed) {
      EXPECT_EQ(kvxtest::read_file(name), reference) << "an image written whole";
    }
    if (!faulted) break;
  }
}

}  // namespace
