// What a hostile or unusual file system cannot make kvxinfo do: read files
// that a KVX file names outside its own directory, hang on a pipe, replace
// a symbolic link or a device with a picture, or end with success when its
// output was lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

#include "kvxinfo_png.h"
#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

// A 4 x 2 image of bytes kept in the separate binary file `binary`.
std::string external_block(const std::string &binary) {
  const std::string text =
      "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\nKVX_BinaryFileName = " +
      binary +
      " ;\r\nKVX_BinaryFilePosition = 0 ;\r\nKVX_BinaryFileSize = 8 ;\r\nDim_1 = 4 ;\r\n"
      "Dim_2 = 2 ;\r\nDataType = UnsignedByte ;";
  return text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n";
}

TEST_F(KvxinfoTest, SeparateBinaryFilesStayNextToTheirKvxFile) {
  fs::create_directory(path("run"));
  write_file(path("run/data.bin"), std::string("\0\1\2\3\4\5\6\7", 8));
  write_file(path("secret.txt"), "secret!!");
  write_file(path("run/da"), "12345678");
  fs::create_symlink("data.bin", path("run/inside"));
  fs::create_symlink("../secret.txt", path("run/outside"));
  ASSERT_EQ(mkfifo(path("run/pipe").c_str(), 0600), 0);
  const std::string outside =
      " lies outside the directory of the KVX file (--outside-binaries "
      "reads it)\n";
  struct Case {
    std::string name;  // as the header gives it
    bool allow;        // --outside-binaries
    std::string err;   // "" for a picture
  };
  const Case cases[] = {
      {"data.bin", false, ""},
      {"inside", false, ""},
      {path("secret.txt").string(), false, "\"" + path("secret.txt").string() + "\"" + outside},
      {"../secret.txt", false, "\"run/../secret.txt\"" + outside},
      {"outside", false, "\"run/outside\"" + outside},
      {"pipe", false, "\"run/pipe\" is not a regular file\n"},
      {"../secret.txt", true, ""},
      {"pipe", true, "\"run/pipe\" is not a regular file\n"},
      {"data.bin/", true, "\"run/data.bin/\" is not a regular file\n"},
      // The system would open "run/da".
      {std::string("da\0ta.bin", 9), true,
       "\"run/da\\x00ta.bin\" holds a zero byte: refused as an unsafe name\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name + (c.allow ? " allowed" : ""));
    write_file(path("run/x.kvx"), external_block(c.name));
    std::vector<std::string> args;
    if (c.allow) args.emplace_back("--outside-binaries");
    for (const char *word : {"--png", "out.png", "run/x.kvx", "1"}) args.emplace_back(word);
    const Outcome run = kvxinfo(args);
    EXPECT_EQ(run.exit, c.err.empty() ? 0 : 1);
    EXPECT_EQ(run.err,
              c.err.empty() ? "" : "kvxinfo: run/x.kvx: image 1: the binary file " + c.err);
    EXPECT_EQ(fs::exists(path("out.png")), c.err.empty()) << "a picture only of allowed data";
    fs::remove(path("out.png"));
  }
}

TEST_F(KvxinfoTest, APictureNeverReplacesALinkOrADevice) {
  const std::vector<uint8_t> bytes(8, 7);
  ASSERT_TRUE(
      write_image(path("i.kvx").string(), 1, {2, 4, 2}, bytes.data(), Unsigned8, LowByteFirst));
  fs::create_symlink("target.png", path("link.png"));
  fs::create_symlink("/proc/self/fd/1", path("stdout"));
  write_file(path("private.png"), "old");
  ASSERT_EQ(chmod(path("private.png").c_str(), 0600), 0);
  const std::string refused =
      "; the picture does not replace it (\"--png -\" writes to the "
      "standard output)\n";
  struct Case {
    std::string out, err;
  };
  const Case cases[] = {
      {"link.png", "kvxinfo: link.png: is a symbolic link" + refused},
      {"stdout", "kvxinfo: stdout: is a symbolic link" + refused},
      {"/dev/null", "kvxinfo: /dev/null: is not a regular file" + refused},
      {"private.png", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.out);
    const Outcome run = kvxinfo({"--png", c.out, "i.kvx", "1"});
    EXPECT_EQ(run.exit, c.err.empty() ? 0 : 1);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_TRUE(fs::is_symlink(path("link.png")) && !fs::exists(path("target.png")));
  EXPECT_TRUE(fs::is_symlink(path("stdout")));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(read_png(path("private.png")).ok);
  EXPECT_EQ(fs::status(path("private.png")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write)
      << "the picture keeps the permission bits of the file it replaces";

  const Outcome piped = kvxinfo({"--png", "-", "i.kvx", "1"});
  EXPECT_EQ(piped.exit, 0) << piped.err;
  EXPECT_EQ(piped.out.substr(0, 4), "\x89PNG") << "\"-\" is the standard output";
}

TEST_F(KvxinfoTest, LostStandardOutputIsAFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const std::vector<uint8_t> bytes(8, 7);
  ASSERT_TRUE(
      write_image(path("i.kvx").string(), 1, {2, 4, 2}, bytes.data(), Unsigned8, LowByteFirst));
  const std::vector<std::vector<std::string>> commands = {
      {"i.kvx"}, {"-k", "i.kvx", "1"}, {"--png", "-", "i.kvx", "1"}};
  for (const auto &args : commands) {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> command = {KVXINFO_BIN_PATH};
    command.insert(command.end(), args.begin(), args.end());
    testsupport::RunOptions options;
    options.output = testsupport::Output::DevFull;
    const Outcome disk = testsupport::run_program(dir_, command, options);
    EXPECT_EQ(disk.exit, 1);
    EXPECT_EQ(disk.err, "kvxinfo: standard output: No space left on device\n");
    options.output = testsupport::Output::ClosedPipe;
    const Outcome pipe = testsupport::run_program(dir_, command, options);
    EXPECT_EQ(pipe.exit, 1);
    EXPECT_EQ(pipe.err, "kvxinfo: standard output: Broken pipe\n");
  }
}

}  // namespace

namespace {

using namespace kvxinfotest;

// A stop signal while a picture is written ends the program as it would,
// but removes the temporary file first; an ignored signal stays ignored.
TEST_F(KvxinfoTest, AStopSignalRemovesTheTemporaryPicture) {
  for (const bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGTERM ignored" : "SIGTERM");
    const fs::path temporary = path("out.png.tmp");
    const pid_t child = fork();
    if (child == 0) {
      std::signal(SIGTERM, ignored ? SIG_IGN : SIG_DFL);
      write_file(temporary, "half a picture");
      const KvxinfoRemoveOnStop guard(temporary.string());
      std::raise(SIGTERM);
      _exit(0);
    }
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    if (ignored) {
      EXPECT_TRUE(WIFEXITED(raw) && fs::exists(temporary)) << "the run went on";
    } else {
      EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM);
      EXPECT_FALSE(fs::exists(temporary));
    }
    fs::remove(temporary);
  }
}

// A stop signal at any moment of a picture's write, its creation included,
// leaves no temporary file behind.
TEST_F(KvxinfoTest, NoMomentOfAPictureLeavesItsTemporaryBehind) {
  const std::vector<unsigned char> grey(16, 128);
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    const pid_t child = fork();
    if (child == 0) {
      for (KvxinfoProblem problem;;)
        (void)kvxinfo_write_png(path("p.png").string(), 4, 4, grey, problem);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    kill(child, SIGTERM);
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    for (const auto &entry : fs::directory_iterator(dir_))
      ASSERT_FALSE(entry.path().filename().string().starts_with("p.png."))
          << "trial " << trial << " left " << entry.path();
  }
}

}  // namespace
