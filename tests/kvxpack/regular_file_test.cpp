#include "regular_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kvxio.h"
#include "kvxio_internal.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ScratchDir;

bool closes_on_exec(int fd) { return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

// A socket bound to `name`, closed with the object; the name stays.
class BoundSocket {
 public:
  explicit BoundSocket(const std::string &name) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.c_str(), sizeof address.sun_path - 1);
    bound_ = bind(fd_.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  }
  bool bound() const { return bound_; }

 private:
  FileDescriptor fd_;
  bool bound_ = false;
};

// Every kind of file is told apart without waiting on it, also the ones
// that cannot be opened at all.
TEST(OpenRegularFile, KeepsOnlyRegularFilesAndNamesTheOtherKinds) {
  ScratchDir dir;
  testsupport::write_file(dir.file("plain"), "data");
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  const BoundSocket socket(dir.file("socket"));
  ASSERT_TRUE(socket.bound());
  struct Case {
    std::string name;
    int error;         // 0: opened
    const char *kind;  // what `kind` says afterwards
  };
  const Case cases[] = {
      {dir.file("plain"), 0, "untouched"},         {dir.path().string(), EISDIR, "untouched"},
      {dir.file("missing"), ENOENT, "untouched"},  {dir.file("fifo"), EINVAL, "a FIFO"},
      {"/dev/null", EINVAL, "a character device"}, {dir.file("socket"), ENXIO, "a socket"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const char *kind = "untouched";
    errno = 0;
    const FileDescriptor fd(open_regular_file(c.name.c_str(), O_RDONLY, &kind));
    EXPECT_EQ(fd.valid() ? 0 : errno, c.error) << std::strerror(errno);
    EXPECT_STREQ(kind, c.kind);
    if (!fd.valid()) continue;
    EXPECT_TRUE(closes_on_exec(fd.get())) << "a started program would inherit the file";
    EXPECT_EQ(fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0) << "left in non-blocking mode";
  }
}

TEST(OpenAnyFile, OpensEveryKindClosedOnExec) {
  const FileDescriptor fd(open_any_file("/dev/null", O_WRONLY));
  ASSERT_TRUE(fd.valid()) << std::strerror(errno);
  EXPECT_TRUE(closes_on_exec(fd.get()));
}

TEST(FileDescriptor, ClosesWhatItHoldsAndNotWhatItGaveUp) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  { const FileDescriptor reader(pipe_ends[0]); }
  EXPECT_EQ(fcntl(pipe_ends[0], F_GETFD), -1) << "closed with the object";
  FileDescriptor writer(pipe_ends[1]);
  FileDescriptor moved(std::move(writer));
  EXPECT_FALSE(writer.valid());
  const int kept = moved.release();
  EXPECT_EQ(kept, pipe_ends[1]);
  EXPECT_NE(fcntl(kept, F_GETFD), -1) << "given up, not closed";
  close(kept);
}

// A program that the caller starts while a data file is open must not
// inherit the file, nor the writer's lock that goes with it.
TEST(OpenRegularFile, LibraryStreamsCloseOnExec) {
  ScratchDir dir;
  const std::string name = dir.file("a.kvx");
  for (const char *mode : {"new", "any", "old", "read"}) {
    SCOPED_TRACE(mode);
    int error = RoutineSucceeded;
    const int stream = kvx_open_data_file(name.c_str(), mode, &error, nullptr);
    ASSERT_GE(stream, 0) << "error " << error;
    if (std::string(mode) == "new") {
      const uint16_t pixels[4] = {1, 2, 3, 4};
      const long dims[] = {2, 2, 2};
      ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dims, pixels, Unsigned16, 0, HighByteFirst, 1,
                                   &error, nullptr),
                1);
    }
    EXPECT_TRUE(closes_on_exec(fileno(kvxio::file_entry(stream)->Channel.get())));
    EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  }
}

// Reading a FIFO that no one writes to used to wait for ever: the type
// test and the "read" open opened it as if it were a file.
TEST(OpenRegularFile, LibraryRefusesAFifoAtOnce) {
  ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int error = RoutineSucceeded;
  EXPECT_EQ(data_file_type(fifo.c_str(), &error, nullptr), InValidDFType);
  for (const char *mode : {"read", "old"}) {
    SCOPED_TRACE(mode);
    error = RoutineSucceeded;
    EXPECT_EQ(kvx_open_data_file(fifo.c_str(), mode, &error, nullptr), -1);
    EXPECT_EQ(error, CouldNotOpenFile);
  }
}

TEST(OpenDataDescriptor, ReadsAKvxFileAndLeavesTheDescriptorToTheCaller) {
  ScratchDir dir;
  const std::string kvx = dir.file("a.kvx"), other = dir.file("other");
  int error = RoutineSucceeded;
  const int writer = kvx_open_data_file(kvx.c_str(), "new", &error, nullptr);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(kvx_close_data_file(writer, &error, nullptr), 1);
  testsupport::write_file(other, "neither a header nor a data set\n");

  const FileDescriptor fd(open_regular_file(kvx.c_str(), O_RDONLY));
  ASSERT_TRUE(fd.valid());
  EXPECT_EQ(data_descriptor_type(fd.get(), nullptr, nullptr), KvxType);
  const int stream = kvx_open_data_descriptor(fd.get(), kvx.c_str(), &error, nullptr);
  ASSERT_GE(stream, 0) << "error " << error;
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  EXPECT_NE(fcntl(fd.get(), F_GETFD), -1) << "the caller's descriptor is still open";

  struct Case {
    const char *what;
    int fd;
    int error;
  };
  const FileDescriptor not_kvx(open_regular_file(other.c_str(), O_RDONLY));
  const FileDescriptor device(open_any_file("/dev/zero", O_RDONLY));
  const Case refused[] = {
      {"not a KVX file", not_kvx.get(), ErrorReadingGeneralBlock},
      {"a device", device.get(), CouldNotOpenFile},
      {"no descriptor", -1, CouldNotOpenFile},
  };
  for (const Case &c : refused) {
    SCOPED_TRACE(c.what);
    error = RoutineSucceeded;
    EXPECT_EQ(kvx_open_data_descriptor(c.fd, "x", &error, nullptr), -1);
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
