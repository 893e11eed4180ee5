// Allocation faults while a header is written from its remembered order.
// The global operator new is replaced here, so this test is a program of its
// own: the replacement must not run under every other test of the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "kvxio.h"
#include "kvxpack/kvxio_header_calls.h"

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

using kvxtest::Calls;
using kvxtest::write_image;
using kvxtest::written;

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

// Opening an existing file and reading it while allocations fail at each
// point in turn: every failure is reported (no exception leaves the
// library), and a failed open leaves no file table entry in use.
TEST(KvxOpen, AllocationFaultsOnOpeningAndReadingAreReported) {
  kvxtest::TempDir dir;
  const std::string name = dir.file("existing.kvx");
  testsupport::write_file(name, written("existing.kvx", {{1, {{"Title", "t"}}}, {2, {}}}));
  for (long fault = 0;; ++fault) {
    SCOPED_TRACE(testing::Message() << "allocation " << fault << " fails");
    int error = -1;
    g_allocations_before_fault = fault;
    const int stream = kvx_open_data_file(name.c_str(), "read", &error, nullptr);
    long dim[] = {2, 0, 0};
    const bool read =
        stream >= 0 && kvx_read_data_dimension(stream, 2, 1, dim, nullptr, &error, nullptr) == 1;
    const bool faulted = g_allocations_before_fault < 0;
    g_allocations_before_fault = -1;
    if (stream < 0) {
      EXPECT_TRUE(faulted) << "the open failed without a fault";
      EXPECT_NE(error, RoutineSucceeded) << "a failed open names its error";
    } else {
      EXPECT_TRUE(read || faulted) << "the read failed without a fault";
      EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1) << "close error " << error;
    }
    const int again = kvx_open_data_file(name.c_str(), "read", &error, nullptr);
    EXPECT_EQ(again, 0) << "the lowest entry is free again";
    (void)kvx_close_data_file(again, &error, nullptr);
    if (!faulted) break;
  }
}

// Header calls whose own texts need memory (a block number or a value of
// more digits than a short string holds) while allocations fail at each
// point in turn: each reports its failure instead of throwing.
TEST(KvxWrite, AllocationFaultsInHeaderCallsAreReported) {
  struct Case {
    const char *what;
    int (*call)(int stream, int &error);
  };
  const Case cases[] = {
      {"a line of a block of a long number",
       [](int stream, int &error) {
         return kvx_write_header_line(stream, 1234567890123456L, 1, "Title", "t", &error, nullptr);
       }},
      {"a long of many digits",
       [](int stream, int &error) {
         return kvx_write_header_long(stream, 1, 1, "Count", 1234567890123456789L, &error, nullptr);
       }},
  };
  for (const Case &c : cases) {
    for (long fault = 0;; ++fault) {
      SCOPED_TRACE(testing::Message() << c.what << ", allocation " << fault << " fails");
      kvxtest::TempDir dir;
      int error = -1;
      const int stream = kvx_open_data_file(dir.file("a.kvx").c_str(), "new", &error, nullptr);
      ASSERT_GE(stream, 0) << "open error " << error;
      g_allocations_before_fault = fault;
      const int stored = c.call(stream, error);
      const bool faulted = g_allocations_before_fault < 0;
      g_allocations_before_fault = -1;
      EXPECT_TRUE(stored == 1 || faulted) << "a call failed without a fault";
      if (stored != 1) {
        EXPECT_NE(error, RoutineSucceeded) << "a failed call names its error";
      }
      (void)kvx_close_data_file(stream, &error, nullptr);
      if (!faulted) break;
    }
  }
}

}  // namespace
