// One writer per file: the writer's lock taken by every open that may
// write, the refusal of a second writer, and the wait that KVX_LOCK_WAIT
// allows.  Whole runs that race for one file are tested with the converter.
#include "kvxio_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "kvxio_test_util.h"

namespace {

using kvxtest::read_file;

// Sets KVX_LOCK_WAIT for the object's life and restores it afterwards.
class LockWait {
 public:
  explicit LockWait(const char *value) {
    if (const char *old = std::getenv(kKvxLockWaitVariable)) old_ = old;
    if (value != nullptr)
      setenv(kKvxLockWaitVariable, value, 1);
    else
      unsetenv(kKvxLockWaitVariable);
  }
  ~LockWait() {
    if (old_)
      setenv(kKvxLockWaitVariable, old_->c_str(), 1);
    else
      unsetenv(kKvxLockWaitVariable);
  }
  LockWait(const LockWait &) = delete;
  LockWait &operator=(const LockWait &) = delete;

 private:
  std::optional<std::string> old_;
};

class KvxLock : public kvxtest::LibraryTest {
 protected:
  // A file of one image, closed.
  std::string oneImageFile() {
    const std::string name = dir_.file("one.kvx");
    const uint16_t pixels[4] = {1, 2, 3, 4};
    int error = -99;
    EXPECT_TRUE(testsupport::write_kvx_file(name, {testsupport::KvxTestImage(1, {2, 2, 2}, pixels)},
                                            "new", -1, &error))
        << error;
    return name;
  }

  kvxtest::TempDir dir_;
};

TEST_F(KvxLock, SecondWriterIsRefusedAndReaderIsNot) {
  struct Case {
    const char *mode;
    int error;
  };
  const Case cases[] = {
      {"any", FileInUseByAnotherProcess},
      {"old", FileInUseByAnotherProcess},
      {"new", FileInUseByAnotherProcess},  // and the file is not emptied
      {"read", RoutineSucceeded},
  };
  LockWait noWait(nullptr);
  const std::string name = oneImageFile();
  const std::string before = read_file(name);
  int error = -99;
  const int writer = kvx_open_data_file(name.c_str(), "any", &error, nullptr);
  ASSERT_GE(writer, 0) << error;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    int status = -99;
    const int second = kvx_open_data_file(name.c_str(), c.mode, &error, &status);
    EXPECT_EQ(error, c.error) << "the open's error value";
    EXPECT_EQ(second >= 0, c.error == RoutineSucceeded) << "a stream only for a reader";
    if (second >= 0) {
      EXPECT_EQ(kvx_close_data_file(second, &error, nullptr), 1);
    }
    EXPECT_EQ(read_file(name), before) << "the file is unchanged";
  }
  ASSERT_EQ(kvx_close_data_file(writer, &error, nullptr), 1);
  const int next = kvx_open_data_file(name.c_str(), "old", &error, nullptr);
  EXPECT_GE(next, 0) << "the close releases the lock; error " << error;
}

// The lock is held here by a descriptor of the test's own; a second thread
// closes it after a while, as another process ends its run.
TEST_F(KvxLock, QueuedWriterWaitsForTheLock) {
  struct Case {
    const char *wait;  // KVX_LOCK_WAIT
    int error;
  };
  const Case cases[] = {
      {nullptr, FileInUseByAnotherProcess},
      {"0", FileInUseByAnotherProcess},
      {"30", RoutineSucceeded},
  };
  const std::string name = oneImageFile();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.wait != nullptr ? c.wait : "unset");
    LockWait wait(c.wait);
    const int holder = open(name.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(kvx_lock_for_writing(holder, 0), RoutineSucceeded);
    std::thread release([holder] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      close(holder);
    });
    int error = -99;
    const int stream = kvx_open_data_file(name.c_str(), "any", &error, nullptr);
    release.join();
    EXPECT_EQ(error, c.error);
    if (stream >= 0) {
      EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
    }
  }
}

// A descriptor that cannot be locked at all stands for a file system
// without such locks: the file is used unlocked, even while another open
// holds the lock.  A read-only descriptor takes the read lock, which the
// writer's lock excludes.
TEST_F(KvxLock, OneLockPolicyForEveryDescriptor) {
  struct Case {
    const char *what;
    int flags;
    int error;
  };
  const Case cases[] = {
      {"open for writing", O_RDWR, FileInUseByAnotherProcess},
      {"open for reading", O_RDONLY, FileInUseByAnotherProcess},
      {"that cannot be locked", O_PATH, RoutineSucceeded},
  };
  const std::string name = oneImageFile();
  const int holder = open(name.c_str(), O_RDWR);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(kvx_lock_for_writing(holder, 0), RoutineSucceeded);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = open(name.c_str(), c.flags);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kvx_lock_for_writing(fd, 0), c.error);
    close(fd);
  }
  close(holder);
}

TEST(KvxLockWaitSeconds, WholeSecondsUpToADay) {
  struct Case {
    const char *value;
    long seconds;
  };
  const Case cases[] = {
      {nullptr, 0}, {"", 0},    {"7", 7},   {"86400", 86400}, {"86401", 86400},
      {"-3", 0},    {"2.5", 0}, {"10s", 0}, {" 5", 0},        {"99999999999999999999", 86400},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value != nullptr ? c.value : "unset");
    LockWait wait(c.value);
    EXPECT_EQ(kvx_lock_wait_seconds(), c.seconds);
  }
}

}  // namespace
