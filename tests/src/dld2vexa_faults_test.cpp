// Fault injection on the whole program: the built dld2vexa converts data
// sets written by dldgen while a write fails, a permission is missing, an
// input is short or changes, or the output file is foreign or damaged.
// Every case must end with a message on the error stream that names the
// problem, a non-zero exit status, and every block that the output file
// held before the run byte for byte unchanged.
//
// Cases kept in dld2vexa_test.cpp: a missing HM file, a foreign output
// file, an HM file one byte short, header files cut at every line and
// foreign header contents.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/KvxHeaderReader.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// One frame of 64 x 64 pixels of 2 bytes fills 8192 bytes; with the
// 8192-byte header a block is 16384 bytes long.
constexpr long kBlockSize = 16384;
constexpr long kHeaderSize = 8192;
constexpr long kFrameBytes = 8192;

using testsupport::finish_program;
using testsupport::kNobody;
using testsupport::Output;
using testsupport::read_file;
using testsupport::ReadKvxBlocks;
using testsupport::run_program;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::start_program;
using testsupport::write_file;

// Why the permission cases cannot run here, or nothing when they can: as
// root they need an unprivileged account that reaches the test directory.
std::optional<std::string> unprivilegedRunUnavailable(const fs::path &dir) {
  if (geteuid() != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) _exit(testsupport::drop_privileges() && chdir(dir.c_str()) == 0 ? 0 : 1);
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child) return "cannot start a child process";
  if (testsupport::exit_of(raw) != 0)
    return "running as root, and the unprivileged user " + std::to_string(kNobody) +
           " cannot be taken on or cannot reach " + dir.string();
  return std::nullopt;
}

class ConverterFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty()) << "no scratch folder";
    // A world-writable directory of its own with a copy of the program, so
    // that an unprivileged user can run it even when the build tree is
    // private.
    fs::permissions(dir_, fs::perms::all);
    bin_ = (dir_ / "dld2vexa").string();
    fs::copy_file(DLD2VEXA_BIN_PATH, bin_);
    fs::permissions(bin_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_ / "locked", fs::perms::all, ignored);
  }

  // A data set of `frames` frames of 64 x 64 pixels as gasdet001 and
  // gasdet001hm, with a header of `version`.
  void makeDataSet(int frames, const char *version = "2.2") {
    const RunResult made = run_program(
        dir_,
        {DLDGEN_BIN_PATH, "--header", "gasdet001", "--hm", "gasdet001hm", "--columns", "64",
         "--rows", "64", "--frames", std::to_string(frames), "--version", version},
        {});
    ASSERT_EQ(made.exit, 0) << made.err;
  }

  // Converts frames first..last into images from `image` on of `output`.
  RunResult convert(int first, int last, int image, const std::string &output,
                    const RunOptions &options = {}) {
    return run_program(dir_,
                       {bin_, "gasdet001", "0", std::to_string(first), std::to_string(last), "1",
                        output, std::to_string(image)},
                       options);
  }

  // An output file of `images` images (1, 2, ...) made by a clean run.
  std::string existingOutput(const std::string &name, int images) {
    const RunResult made = convert(1, images, 1, name);
    EXPECT_EQ(made.exit, 0) << made.out << made.err;
    return read_file(dir_ / name);
  }

  std::string bin_;
  testsupport::ScratchDir scratch_{"d2v-faults"};
  fs::path dir_ = scratch_.path();
};

// The file still begins with the blocks that it held before the run.
void expectBlocksKept(const std::string &before, const std::string &after) {
  ASSERT_GE(after.size(), before.size()) << "the file lost bytes";
  EXPECT_TRUE(after.compare(0, before.size(), before) == 0) << "earlier blocks were changed";
}

// Everything behind the earlier blocks is whole blocks written in this run.
void expectOnlyWholeBlocksAfter(const std::string &before, const std::string &after) {
  std::string error;
  ReadKvxBlocks(after.substr(before.size()), &error);
  EXPECT_EQ(error, "") << "no torn block is left behind";
}

TEST_F(ConverterFaultTest, WriteFailingInsideABlockKeepsEarlierBlocks) {
  struct Case {
    const char *name;
    int existingImages;  // images in the output file before the run
    long limitBehind;    // file size limit, in bytes behind those images
    long wholeBlocks;    // blocks of this run that fit under the limit
  };
  const Case cases[] = {
      {"new file, inside the first header", 0, 4000, 0},
      {"new file, inside the first data", 0, kHeaderSize + 100, 0},
      {"new file, inside the second block", 0, kBlockSize + kHeaderSize + 2000, 1},
      {"append, inside the header", 2, 4000, 0},
      {"append, inside the data", 2, kHeaderSize + kFrameBytes / 2, 0},
  };
  makeDataSet(4);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "out.kvx");
    const std::string before =
        c.existingImages > 0 ? existingOutput("out.kvx", c.existingImages) : std::string();
    const int first = c.existingImages + 1;
    RunOptions limited;
    limited.fileSizeLimit = static_cast<rlim_t>(before.size() + c.limitBehind);
    const RunResult run = convert(first, 4, first, "out.kvx", limited);
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("frame " + std::to_string(first + c.wholeBlocks) + " to image"),
              std::string::npos)
        << "the report names the frame whose write failed\n"
        << run.err;
    const std::string after = read_file(dir_ / "out.kvx");
    expectBlocksKept(before, after);
    // The failed block is taken back; blocks written before it in this run
    // may follow the earlier ones.
    EXPECT_EQ(after.size(), before.size() + c.wholeBlocks * kBlockSize);
    expectOnlyWholeBlocksAfter(before, after);

    const RunResult again = convert(first + c.wholeBlocks, 4, first + c.wholeBlocks, "out.kvx");
    EXPECT_EQ(again.exit, 0) << "the file takes further images\n" << again.err;
  }
}

TEST_F(ConverterFaultTest, MissingPermissionsAreReportedAndChangeNothing) {
  if (auto why = unprivilegedRunUnavailable(dir_)) GTEST_SKIP() << *why;
  struct Case {
    const char *name;
    const char *lockedFile;  // made unreadable and unwritable
    const char *output;      // output file argument
    int exit;
    const char *report;
  };
  const Case cases[] = {
      {"unreadable header file", "gasdet001", "out.kvx", 25,
       "ROUTINE  : user_io\n%DIR%/gasdet001: Permission denied\n"},
      {"unreadable HM file", "gasdet001hm", "out.kvx", 25,
       "ROUTINE  : main\n%DIR%/gasdet001hm: Permission denied\n"},
      {"output directory without write permission", "", "locked/out.kvx", 25,
       "%DIR%/locked/out.kvx: CouldNotOpenFile\n"},
      {"output file without write permission", "out.kvx", "out.kvx", 25,
       "%DIR%/out.kvx: CouldNotOpenFile\n"},
  };
  makeDataSet(3);
  fs::create_directory(dir_ / "locked");
  // Mode 0555: nobody, the owner included, may create files in it.
  fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                       fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
  RunOptions unprivileged;
  unprivileged.unprivileged = true;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "out.kvx");
    const std::string before = existingOutput("out.kvx", 1);
    fs::permissions(dir_ / "out.kvx", fs::perms::all);  // writable for the unprivileged run
    const fs::path locked = dir_ / c.lockedFile;
    const bool lock = c.lockedFile[0] != '\0';
    if (lock) fs::permissions(locked, fs::perms::none);
    const RunResult run = convert(2, 3, 2, c.output, unprivileged);
    if (lock)
      fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
    std::string report = c.report;
    report.replace(report.find("%DIR%"), 5, dir_.string());
    EXPECT_NE(run.err.find(report), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir_ / "out.kvx"), before);
    EXPECT_FALSE(fs::exists(dir_ / "locked/out.kvx"));
  }
}

// A FIFO without a writer would hold the open forever: the time limit
// turns such a hang into a failed case.
TEST_F(ConverterFaultTest, InputThatIsNotARegularFileIsRefused) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    const char *report;
  };
  const std::vector<std::string> hmFileArgs = {"gasdet001", "0", "1", "1", "1",
                                               "out.kvx",   "=", "=", "=", "="};
  auto withHmFile = [&](const char *hm) {
    std::vector<std::string> args = hmFileArgs;
    args.emplace_back(hm);
    return args;
  };
  const Case cases[] = {
      {"directory as header file",
       {"input.dir", "="},
       "ROUTINE  : user_io\n%DIR%/input.dir: Is a directory\n"},
      {"directory as HM file", withHmFile("input.dir"),
       "ROUTINE  : main\n%DIR%/input.dir: Is a directory\n"},
      {"FIFO as header file",
       {"input.fifo", "="},
       "ROUTINE  : user_io\n%DIR%/input.fifo: not a regular file (a FIFO)\n"},
      {"FIFO as HM file", withHmFile("input.fifo"),
       "ROUTINE  : main\n%DIR%/input.fifo: not a regular file (a FIFO)\n"},
      {"device as HM file", withHmFile("/dev/null"),
       "ROUTINE  : main\n/dev/null: not a regular file (a character device)\n"},
  };
  makeDataSet(1);
  fs::create_directory(dir_ / "input.dir");
  ASSERT_EQ(mkfifo((dir_ / "input.fifo").c_str(), 0600), 0);
  RunOptions limited;
  limited.timeLimit = 30;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {bin_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = run_program(dir_, args, limited);
    EXPECT_EQ(run.exit, 25) << run.out << run.err;
    std::string report = c.report;
    if (const auto at = report.find("%DIR%"); at != std::string::npos)
      report.replace(at, 5, dir_.string());
    EXPECT_NE(run.err.find(report), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.kvx")) << "no output file is made";
  }
}

TEST_F(ConverterFaultTest, ShortHmFileEndsTheRunAfterTheWholeFrames) {
  struct Case {
    const char *name;
    const char *version;  // before 2.0 the frames follow a leading block of 512 bytes
    long hmBytes;         // what is left of the HM file of three frames
    int wholeFrames;      // frames that the file still holds
  };
  const Case cases[] = {
      {"empty", "2.2", 0, 0},
      {"inside the first frame", "2.2", kFrameBytes / 2, 0},
      {"at a frame boundary", "2.2", kFrameBytes, 1},
      {"inside the third frame", "2.2", 2 * kFrameBytes + 1, 2},
      {"inside the leading block", "1.1", 100, 0},
      {"at the end of the leading block", "1.1", 512, 0},
      {"behind the leading block, at a frame boundary", "1.1", 512 + kFrameBytes, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    makeDataSet(3, c.version);
    const std::string hm = read_file(dir_ / "gasdet001hm");
    fs::remove(dir_ / "out.kvx");
    const std::string before = existingOutput("out.kvx", 1);
    write_file(dir_ / "gasdet001hm", hm.substr(0, c.hmBytes));
    const RunResult run = convert(1, 3, 11, "out.kvx");
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    const std::string reader = c.version < std::string("2.0") ? "ReadDldDataV1" : "ReadDldData";
    const std::string failed = "frame " + std::to_string(c.wholeFrames + 1) + " to image " +
                               std::to_string(c.wholeFrames + 11) + ": " + reader +
                               " result 5, the HM file ends before the end of the frame\n";
    EXPECT_NE(run.err.find(failed), std::string::npos) << run.err;
    const std::string after = read_file(dir_ / "out.kvx");
    expectBlocksKept(before, after);
    EXPECT_EQ(after.size(), before.size() + c.wholeFrames * kBlockSize);
    expectOnlyWholeBlocksAfter(before, after);
  }
}

TEST_F(ConverterFaultTest, TruncatedHeaderFileIsNamedInTheReport) {
  struct Case {
    const char *name;
    const char *cutBefore;  // the header file ends before this text
    int exit;
    const char *report;
  };
  const Case cases[] = {
      {"inside the scaler section", "I1", 41,
       "ROUTINE  : user_io\n%DIR%/gasdet001: frame count or geometry cannot be read\n"},
      {"inside the experiment block", "EXPERIMENT", 255, ": ReadDldExperiment result "},
      {"inside the info block", "INFO", 255, ": ReadDldInfo result "},
  };
  makeDataSet(2);
  const std::string header = read_file(dir_ / "gasdet001");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir_ / "gasdet001", header);
    fs::remove(dir_ / "out.kvx");
    const std::string before = existingOutput("out.kvx", 1);
    const auto cut = header.find(c.cutBefore);
    ASSERT_NE(cut, std::string::npos);
    write_file(dir_ / "gasdet001", header.substr(0, cut));
    const RunResult run = convert(2, 2, 2, "out.kvx");
    EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
    std::string report = c.report;
    if (const auto at = report.find("%DIR%"); at != std::string::npos)
      report.replace(at, 5, dir_.string());
    EXPECT_NE(run.err.find(report), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir_ / "out.kvx"), before);
  }
}

TEST_F(ConverterFaultTest, HeaderWithFewerFrameSectionsStopsAtTheFirstMissingFrame) {
  struct Case {
    const char *frameRange;  // frames that the scaler and timing sections describe
    int wholeFrames;
  };
  const Case cases[] = {{"1:1", 1}, {"1:2", 2}, {"2:3", 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.frameRange);
    makeDataSet(1);
    fs::remove(dir_ / "out.kvx");
    const std::string before = existingOutput("out.kvx", 1);
    // Geometry and HM file of three frames, frame sections of fewer.
    const RunResult made =
        run_program(dir_,
                    {DLDGEN_BIN_PATH, "--header", "gasdet001", "--hm", "gasdet001hm", "--columns",
                     "64", "--rows", "64", "--frames", "3", "--frame-range", c.frameRange},
                    {});
    ASSERT_EQ(made.exit, 0) << made.err;
    const RunResult run = convert(1, 3, 11, "out.kvx");
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    const std::string failed = "frame " + std::to_string(c.wholeFrames + 1) + " to image " +
                               std::to_string(c.wholeFrames + 11) + ": ReadDldScalars result ";
    EXPECT_NE(run.err.find(failed), std::string::npos) << run.err;
    const std::string after = read_file(dir_ / "out.kvx");
    expectBlocksKept(before, after);
    EXPECT_EQ(after.size(), before.size() + c.wholeFrames * kBlockSize);
    expectOnlyWholeBlocksAfter(before, after);
  }
}

// Runs the converter in prompt mode and answers the first prompt only;
// once the dialog has read the header file and asks for the dummy,
// `change` runs, then `answers` go to the remaining prompts.
RunResult convertWhileChanging(const fs::path &dir, const std::string &bin,
                               const std::function<void()> &change, const std::string &answers) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const int err = open((dir / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (err < 0 || dup2(toChild[0], 0) < 0 || dup2(fromChild[1], 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    close(toChild[1]);
    close(fromChild[0]);
    testsupport::exec_in_child(dir, {bin}, {});
  }
  close(toChild[0]);
  close(fromChild[1]);
  RunResult result;
  auto answer = [&](const std::string &text) {
    return write(toChild[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
  };
  bool changed = false;
  if (answer("gasdet001\n")) {
    char chunk[4096];
    pollfd wait{fromChild[0], POLLIN, 0};
    while (poll(&wait, 1, 10000) > 0) {
      const ssize_t n = read(fromChild[0], chunk, sizeof chunk);
      if (n <= 0) break;
      result.out.append(chunk, static_cast<size_t>(n));
      if (!changed && result.out.find("output dummy") != std::string::npos) {
        change();
        changed = true;
        (void)answer(answers);
        close(toChild[1]);
        toChild[1] = -1;
      }
    }
  }
  if (toChild[1] >= 0) close(toChild[1]);
  close(fromChild[0]);
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child) result.exit = testsupport::exit_of(raw);
  result.err = read_file(dir / ".stderr");
  if (!changed) result.exit = -1000;  // the dialog never asked for the dummy
  return result;
}

TEST_F(ConverterFaultTest, HeaderFileChangingDuringTheRunIsRefused) {
  struct Case {
    const char *name;
    std::vector<std::string> rewrite;  // dldgen options of the new data set
    const char *report;
  };
  const Case cases[] = {
      {"smaller frames", {"--columns", "32"}, "frame 1 to image 5: DataBufferTooSmall\n"},
      {"data length 4 instead of 2",
       {"--data-length", "4", "--columns", "16"},
       "frame 1 to image 5: DataBufferTooSmall\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    makeDataSet(1);
    fs::remove(dir_ / "gasdet001.kvx");
    const std::string before = existingOutput("gasdet001.kvx", 1);
    makeDataSet(3);  // the dialog sees three frames of 64 x 64 pixels
    const RunResult run = convertWhileChanging(
        dir_, bin_,
        [&] {
          std::vector<std::string> args = {DLDGEN_BIN_PATH, "--header", "gasdet001", "--hm",
                                           "gasdet001hm",   "--frames", "3"};
          args.insert(args.end(), c.rewrite.begin(), c.rewrite.end());
          EXPECT_EQ(run_program(dir_, args, {}).exit, 0);
        },
        // Defaults but for the first output image, 5, behind the image there.
        "\n\n\n\n\n5\n\n\n\n\n");
    ASSERT_NE(run.exit, -1000) << "the dialog asks for the dummy\n" << run.out;
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir_ / "gasdet001.kvx"), before);
  }
}

TEST_F(ConverterFaultTest, ForeignOrDamagedOutputFileIsLeftAlone) {
  makeDataSet(3);
  const std::string good = existingOutput("good.kvx", 2);
  ASSERT_EQ(good.size(), 2U * kBlockSize);
  struct Case {
    const char *name;
    std::string bytes;
    const char *report;
  };
  const Case cases[] = {
      {"text", "plain text, no images\n", "This file is not a KVX file"},
      {"zero bytes", std::string(16, '\0'), "This file is not a KVX file"},
      {"header start without entries", "{\r\nnothing", "Error reading header values"},
      {"last block cut inside its data", good.substr(0, good.size() - 100),
       "Binary section beyond the end of the file"},
      {"last block cut inside its header", good.substr(0, kBlockSize + 4000),
       "Header end marker not found"},
      {"last block cut after its header start", good.substr(0, kBlockSize + 3),
       "Error reading header values"},
      {"garbage after the last block", good + "garbage\n", "Expecting EOF or header start"},
      {"zero bytes after the last block", good + std::string(512, '\0'),
       "Expecting EOF or header start"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir_ / "out.kvx", c.bytes);
    const RunResult run = convert(3, 3, 3, "out.kvx");
    EXPECT_EQ(run.exit, 25) << run.out << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Status = 25 -- FileOpeningError"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir_ / "out.kvx"), c.bytes) << "the whole file is unchanged";
  }
}

TEST_F(ConverterFaultTest, OutputFileThatCannotBeMadeIsReported) {
  struct Case {
    const char *name;
    const char *output;
    int exit;
    const char *report;
  };
  const Case cases[] = {
      {"a directory", "dir.kvx", 25, "dir.kvx: CouldNotOpenFile\n"},
      {"in a directory that does not exist", "missing/out.kvx", 42,
       "ROUTINE  : user_io\nmissing/out.kvx\nStatus = 42 -- FileNameError\n"},
      {"a symbolic link to nowhere", "dangling.kvx", 25, "dangling.kvx: CouldNotOpenFile\n"},
  };
  makeDataSet(1);
  fs::create_directory(dir_ / "dir.kvx");
  fs::create_symlink(dir_ / "target.kvx", dir_ / "dangling.kvx");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = convert(1, 1, 1, c.output);
    EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "target.kvx")) << "a new file is never made through a link";
}

// Converts frames 1..`frames` with the standard output on a pipe of one
// page that the test leaves unread: once the pipe is full, the converter
// waits as it begins a frame, `whileHeld` runs with the bytes that the pipe
// holds, and `signal` (0 for none) reaches the converter there.  Then the
// pipe is drained.  `ignored` is set to be ignored before the program runs,
// as nohup and background jobs do.
RunResult convertAndSignal(const fs::path &dir, const std::string &bin, int frames, int signal,
                           int ignored, const std::function<void(int)> &whileHeld = {}) {
  int out[2];
  // Shrinking a pipe is always allowed; a pipe that stays large would take
  // the whole output, and the run would end before the signal.
  if (pipe(out) != 0 || fcntl(out[1], F_SETPIPE_SZ, 4096) < 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int err = open((dir / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(out[0]);
    // Started in the background, the tests themselves may ignore SIGINT.
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) std::signal(stop, SIG_DFL);
    if (ignored != 0) std::signal(ignored, SIG_IGN);
    testsupport::exec_in_child(
        dir, {bin, "gasdet001", "0", "1", std::to_string(frames), "1", "out.kvx", "1"}, {});
  }
  close(out[1]);
  RunResult result;
  // A line is written whole or not at all, so the full pipe may lack the
  // bytes of part of a line; the program then waits within one frame.
  constexpr int kFull = 4096 - 64;
  int queued = 0;
  for (int wait = 0; wait < 1000 && ioctl(out[0], FIONREAD, &queued) == 0 && queued < kFull; ++wait)
    usleep(10000);
  usleep(200000);
  if (whileHeld && ioctl(out[0], FIONREAD, &queued) == 0) whileHeld(queued);
  if (signal != 0 && child > 0) kill(child, signal);
  char chunk[4096];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
    result.out.append(chunk, static_cast<size_t>(n));
  close(out[0]);
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child) result.exit = testsupport::exit_of(raw);
  result.err = read_file(dir / ".stderr");
  return result;
}

size_t countOf(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A stop signal ends the run between two frames: the output file holds the
// frames converted so far as whole images, and the next run continues it.
TEST_F(ConverterFaultTest, StopSignalEndsTheRunBetweenFrames) {
  constexpr int kFrames = 250;  // about twice the progress lines that a one-page pipe holds
  struct Case {
    const char *name;
    int signal;
    int ignored;  // ignored before the run: it must stay so
  };
  const Case cases[] = {
      {"Ctrl-C", SIGINT, 0},
      {"kill", SIGTERM, 0},
      {"hang-up", SIGHUP, 0},
      {"hang-up under nohup", SIGHUP, SIGHUP},
  };
  makeDataSet(kFrames);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "out.kvx");
    const RunResult run = convertAndSignal(dir_, bin_, kFrames, c.signal, c.ignored);
    const std::string file = read_file(dir_ / "out.kvx");
    std::string error;
    const size_t images = ReadKvxBlocks(file, &error).size();
    EXPECT_EQ(error, "") << "only whole images";
    EXPECT_EQ(file.size(), images * kBlockSize);
    if (c.ignored != 0) {
      EXPECT_EQ(run.exit, 0) << run.err;
      EXPECT_EQ(images, static_cast<size_t>(kFrames)) << "an ignored signal changes nothing";
      continue;
    }
    EXPECT_EQ(run.exit, 1) << run.err;
    const size_t converted = countOf(run.out, " Converting frame");
    EXPECT_EQ(images, converted) << "every frame begun is finished, and no other";
    ASSERT_LT(images, static_cast<size_t>(kFrames)) << "the run stopped early";
    const std::string next = std::to_string(images + 1);
    EXPECT_NE(run.err.find("stopped by signal " + std::to_string(c.signal) + " (" +
                           strsignal(c.signal) + ") before frame " + next + "; "),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("to continue, run again with first frame " + next + ", last frame " +
                           std::to_string(kFrames) + ", first output image " + next + "\n"),
              std::string::npos)
        << "the report gives the arguments that continue the run\n"
        << run.err;
    EXPECT_NE(run.err.find("Status = 1 -- Abort"), std::string::npos) << run.err;

    const int first = static_cast<int>(images) + 1;
    const RunResult rest = convert(first, kFrames, first, "out.kvx");
    EXPECT_EQ(rest.exit, 0) << "the file takes the remaining frames\n" << rest.err;
    EXPECT_EQ(read_file(dir_ / "out.kvx").size(), static_cast<size_t>(kFrames) * kBlockSize);
  }
}

TEST_F(ConverterFaultTest, ClosedStandardDescriptorsNeverReachTheOutputFile) {
  struct Case {
    const char *name;
    std::string existing;  // the output file before the run
    int image;             // the output image number of frame 1
    int exit;
  };
  makeDataSet(1);
  // A block without a block id (numbered 1): opening the file prints a warning.
  const std::string unnamed =
      "{\r\nDim_1 = 1 ;\r\nDim_2 = 1 ;\r\nDataType = UnsignedShort ;\r\n}\nab";
  const Case cases[] = {
      {"failing: image 1 is there already", existingOutput("made.kvx", 1), 1, 255},
      {"succeeding after a warning", unnamed, 2, 0},
  };
  for (const Case &c : cases) {
    for (int closedSet = 1; closedSet < 8; ++closedSet) {
      RunOptions options;
      std::string closedNames;
      for (int fd = 0; fd <= 2; ++fd) {
        if ((closedSet & (1 << fd)) == 0) continue;
        options.closed.push_back(fd);
        closedNames += " " + std::to_string(fd);
      }
      SCOPED_TRACE(std::string(c.name) + ", closed:" + closedNames);
      write_file(dir_ / "out.kvx", c.existing);
      const RunResult run = convert(1, 1, c.image, "out.kvx", options);
      EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
      const std::string after = read_file(dir_ / "out.kvx");
      expectBlocksKept(c.existing, after);
      if (c.exit != 0) {
        EXPECT_EQ(after, c.existing) << "a failed run leaves the file as it was";
      }
      for (const char *report : {"Converting frame", "WARNING", "Status ="})
        EXPECT_EQ(after.find(report), std::string::npos) << report << " written into the file";
    }
  }
}

TEST_F(ConverterFaultTest, FailedStandardOutputFailsTheRunAfterItsEnd) {
  struct Case {
    const char *name;
    Output output;
    int existingImages;  // image 1 there already makes the run fail
    int exit;
    const char *report;
  };
  const Case cases[] = {
      {"/dev/full", Output::DevFull, 0, 37,
       "ROUTINE  : main\nstandard output: No space left on device\nStatus = 37"},
      {"closed pipe, SIGPIPE ignored", Output::ClosedPipe, 0, 37,
       "ROUTINE  : main\nstandard output: Broken pipe\nStatus = 37"},
      {"/dev/full on a failing run", Output::DevFull, 1, 255,
       "\ndld2vexa: standard output: No space left on device\n"},
  };
  makeDataSet(2);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "out.kvx");
    const std::string before = c.existingImages > 0 ? existingOutput("out.kvx", 1) : "";
    RunOptions options;
    options.output = c.output;
    const RunResult run = convert(1, 2, 1, "out.kvx", options);
    EXPECT_EQ(run.exit, c.exit) << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
    const std::string after = read_file(dir_ / "out.kvx");
    if (c.exit == 255) {
      EXPECT_EQ(after, before) << "the failed run changed nothing";
    } else {
      std::string error;
      EXPECT_EQ(ReadKvxBlocks(after, &error).size(), 2U) << "every image is converted " << error;
    }
  }
}

// The block of `image` with the HeaderID sequence number it gets as the
// `sequence`-th block of a file, from a file that holds it as block `was`.
std::string asSequence(std::string block, int was, int sequence) {
  char from[32], to[32];
  std::snprintf(from, sizeof from, "HeaderID = EH:%06d:", was);
  std::snprintf(to, sizeof to, "HeaderID = EH:%06d:", sequence);
  const auto at = block.find(from);
  if (at != std::string::npos) block.replace(at, std::strlen(from), to);
  return block;
}

// The image number of a converted block, from its block id.
int imageOf(const std::string &block) {
  const std::string key = "KVX_DataBlockID = ";
  const auto at = block.find(key);
  return at == std::string::npos ? -1 : std::atoi(block.c_str() + at + key.size());
}

// Runs that start together on disjoint frame ranges of one output file:
// each run converts all its images or fails before writing any, and the
// file holds exactly the blocks of the runs that succeeded, each as the
// same run makes it alone.
TEST_F(ConverterFaultTest, ParallelRunsOnOneFileConvertAllOrNothing) {
  constexpr int kRuns = 8, kImagesPerRun = 2, kTrials = testsupport::kUnderSanitizers ? 5 : 20;
  makeDataSet(kRuns * kImagesPerRun);
  // Block n of run r as that run writes it into a new file, as block n + 1.
  std::vector<std::string> alone(kRuns * kImagesPerRun + 1);
  for (int r = 0; r < kRuns; ++r) {
    const int first = r * kImagesPerRun + 1;
    fs::remove(dir_ / "alone.kvx");
    ASSERT_EQ(convert(first, first + kImagesPerRun - 1, first, "alone.kvx").exit, 0);
    const std::string bytes = read_file(dir_ / "alone.kvx");
    ASSERT_EQ(bytes.size(), static_cast<size_t>(kImagesPerRun * kBlockSize));
    for (int n = 0; n < kImagesPerRun; ++n)
      alone[first + n] = bytes.substr(n * kBlockSize, kBlockSize);
  }
  int succeeded = 0, refused = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    fs::remove(dir_ / "out.kvx");
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    RunOptions together;
    together.startGate = gate;
    together.timeLimit = 60;
    std::vector<pid_t> runs;
    for (int r = 0; r < kRuns; ++r) {
      const int first = r * kImagesPerRun + 1;
      runs.push_back(start_program(
          dir_,
          {bin_, "gasdet001", "0", std::to_string(first), std::to_string(first + kImagesPerRun - 1),
           "1", "out.kvx", std::to_string(first)},
          together, std::to_string(r)));
    }
    close(gate[0]);
    close(gate[1]);
    std::vector<bool> converted(kRuns + 1);
    for (int r = 0; r < kRuns; ++r) {
      const RunResult run = finish_program(dir_, runs[r], std::to_string(r));
      converted[r] = run.exit == 0;
      if (run.exit == 0) {
        ++succeeded;
        continue;
      }
      ++refused;
      EXPECT_EQ(run.exit, 25) << run.err;
      EXPECT_NE(run.err.find("out.kvx: FileInUseByAnotherProcess"), std::string::npos) << run.err;
      EXPECT_EQ(run.out.find("Converting frame"), std::string::npos) << "refused before frame 1";
    }
    const std::string file = read_file(dir_ / "out.kvx");
    ASSERT_EQ(file.size() % kBlockSize, 0U) << "whole blocks only";
    std::vector<int> held(kRuns * kImagesPerRun + 1);
    for (size_t at = 0; at < file.size(); at += kBlockSize) {
      const std::string block = file.substr(at, kBlockSize);
      const int image = imageOf(block);
      ASSERT_TRUE(image >= 1 && image <= kRuns * kImagesPerRun) << "block at " << at;
      ++held[image];
      const int sequence = static_cast<int>(at / kBlockSize) + 1;
      EXPECT_TRUE(block == asSequence(alone[image], (image - 1) % kImagesPerRun + 1, sequence))
          << "image " << image << " differs from the same conversion alone";
    }
    for (int image = 1; image <= kRuns * kImagesPerRun; ++image)
      EXPECT_EQ(held[image], converted[(image - 1) / kImagesPerRun] ? 1 : 0) << "image " << image;
  }
  RecordProperty("runs_converted", succeeded);
  RecordProperty("runs_refused", refused);
}

// A run held between two frames by a reader that does not take its
// standard output (run A) keeps the file to itself: a second run is
// refused at once, or waits for A with KVX_LOCK_WAIT.  While A is held, its
// progress lines have all arrived.
TEST_F(ConverterFaultTest, RunHeldBetweenFramesKeepsTheFileToItself) {
  constexpr int kFrames = 300;  // far more output than the pipe and the stream buffer hold
  struct Case {
    const char *name;
    const char *lockWait;
    int exit;  // of the second run
  };
  const Case cases[] = {{"refused", nullptr, 25}, {"queued", "60", 0}};
  makeDataSet(kFrames + 2);
  const std::vector<std::string> second = {bin_,
                                           "gasdet001",
                                           "0",
                                           std::to_string(kFrames + 1),
                                           std::to_string(kFrames + 2),
                                           "1",
                                           "out.kvx",
                                           std::to_string(kFrames + 1)};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "out.kvx");
    RunOptions options;
    options.lockWait = c.lockWait;
    options.timeLimit = 120;
    pid_t queued = -1;
    size_t heldImages = 0, heldOutput = 0;
    std::string heldFile;
    const RunResult first = convertAndSignal(dir_, bin_, kFrames, 0, 0, [&](int pipeBytes) {
      heldOutput = static_cast<size_t>(pipeBytes);
      heldFile = read_file(dir_ / "out.kvx");
      heldImages = heldFile.size() / kBlockSize;
      queued = start_program(dir_, second, options, "B");
      // The second run waits for the lock or is refused, without writing.
      usleep(300000);
      EXPECT_EQ(read_file(dir_ / "out.kvx"), heldFile) << "the held run's file is untouched";
    });
    const RunResult run = finish_program(dir_, queued, "B");
    EXPECT_EQ(first.exit, 0) << first.err;
    EXPECT_EQ(run.exit, c.exit) << run.err;
    if (c.exit != 0) {
      EXPECT_NE(run.err.find("FileInUseByAnotherProcess"), std::string::npos) << run.err;
    }
    // The pipe held the first `queued` bytes of A's output: every frame
    // begun has its line there.
    const size_t arrived = countOf(first.out.substr(0, heldOutput), " Converting frame");
    EXPECT_GE(heldImages + 1, arrived) << "lines arrived for frames not begun";
    EXPECT_LE(heldImages, arrived) << "frames converted whose lines had not arrived";
    const std::string file = read_file(dir_ / "out.kvx");
    std::string error;
    const auto blocks = ReadKvxBlocks(file, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(blocks.size(), static_cast<size_t>(c.exit == 0 ? kFrames + 2 : kFrames));
  }
}

}  // namespace
