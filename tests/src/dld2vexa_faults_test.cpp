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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "KvxTestReader.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

// The unprivileged account that permission cases run under when the tests
// run as root, who ignores file permissions.
constexpr uid_t kNobody = 65534;

// One frame of 64 x 64 pixels of 2 bytes fills 8192 bytes; with the
// 8192-byte header a block is 16384 bytes long.
constexpr long kBlockSize = 16384;
constexpr long kHeaderSize = 8192;
constexpr long kFrameBytes = 8192;

struct RunResult {
  int exit = -1;  // exit status, or minus the signal that ended the program
  std::string out, err;
};

struct RunOptions {
  rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes; SIGXFSZ is ignored with a limit
  bool unprivileged = false;             // as kNobody when running as root
};

using testfiles::readFile;
using testfiles::writeFile;

// In a forked child: gives up root for the unprivileged account.  False
// when that is refused.
bool dropPrivileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// In a forked child: applies the options and runs `args` in `dir`; never
// returns.  Exit 126 means the child could not be set up.
[[noreturn]] void execInChild(const fs::path &dir, const std::vector<std::string> &args,
                              const RunOptions &options) {
  if (options.fileSizeLimit != RLIM_INFINITY) {
    std::signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across exec
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.unprivileged && !dropPrivileges()) _exit(126);
  if (chdir(dir.c_str()) != 0) _exit(126);
  std::vector<char *> argv;
  for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(126);
}

int exitOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw); }

// Runs a program with stdin from `input` and both streams captured.
RunResult runProgram(const fs::path &dir, const std::vector<std::string> &args,
                     const RunOptions &options, const std::string &input = "") {
  writeFile(dir / ".stdin", input);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open((dir / ".stdin").c_str(), O_RDONLY);
    const int out = open((dir / ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = open((dir / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    execInChild(dir, args, options);
  }
  RunResult result;
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child) return result;
  result.exit = exitOf(raw);
  result.out = readFile(dir / ".stdout");
  result.err = readFile(dir / ".stderr");
  return result;
}

// Why the permission cases cannot run here, or nothing when they can: as
// root they need an unprivileged account that reaches the test directory.
std::optional<std::string> unprivilegedRunUnavailable(const fs::path &dir) {
  if (geteuid() != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) _exit(dropPrivileges() && chdir(dir.c_str()) == 0 ? 0 : 1);
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child) return "cannot start a child process";
  if (exitOf(raw) != 0)
    return "running as root, and the unprivileged user " + std::to_string(kNobody) +
           " cannot be taken on or cannot reach " + dir.string();
  return std::nullopt;
}

class ConverterFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "d2v-faults-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
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
    fs::remove_all(dir_);
  }

  // A data set of `frames` frames of 64 x 64 pixels as gasdet001 and
  // gasdet001hm, with a header of `version`.
  void makeDataSet(int frames, const char *version = "2.2") {
    const RunResult made =
        runProgram(dir_,
                   {DLDGEN_BIN_PATH, "--header", "gasdet001", "--hm", "gasdet001hm", "--columns",
                    "64", "--rows", "64", "--frames", std::to_string(frames), "--version", version},
                   {});
    ASSERT_EQ(made.exit, 0) << made.err;
  }

  // Converts frames first..last into images from `image` on of `output`.
  RunResult convert(int first, int last, int image, const std::string &output,
                    const RunOptions &options = {}) {
    return runProgram(dir_,
                      {bin_, "gasdet001", "0", std::to_string(first), std::to_string(last), "1",
                       output, std::to_string(image)},
                      options);
  }

  // An output file of `images` images (1, 2, ...) made by a clean run.
  std::string existingOutput(const std::string &name, int images) {
    const RunResult made = convert(1, images, 1, name);
    EXPECT_EQ(made.exit, 0) << made.out << made.err;
    return readFile(dir_ / name);
  }

  std::string bin_;
  fs::path dir_;
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
    const std::string after = readFile(dir_ / "out.kvx");
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
    EXPECT_EQ(readFile(dir_ / "out.kvx"), before);
    EXPECT_FALSE(fs::exists(dir_ / "locked/out.kvx"));
  }
}

TEST_F(ConverterFaultTest, DirectoryAsInputFileIsRefused) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    const char *report;
  };
  const Case cases[] = {
      {"header file", {"input.dir", "="}, "ROUTINE  : user_io\n%DIR%/input.dir: Is a directory\n"},
      {"HM file",
       {"gasdet001", "0", "1", "1", "1", "out.kvx", "=", "=", "=", "=", "input.dir"},
       "ROUTINE  : main\n%DIR%/input.dir: Is a directory\n"},
  };
  makeDataSet(1);
  fs::create_directory(dir_ / "input.dir");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {bin_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = runProgram(dir_, args, {});
    EXPECT_EQ(run.exit, 25) << run.out << run.err;
    std::string report = c.report;
    report.replace(report.find("%DIR%"), 5, dir_.string());
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
    const std::string hm = readFile(dir_ / "gasdet001hm");
    fs::remove(dir_ / "out.kvx");
    const std::string before = existingOutput("out.kvx", 1);
    writeFile(dir_ / "gasdet001hm", hm.substr(0, c.hmBytes));
    const RunResult run = convert(1, 3, 11, "out.kvx");
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    const std::string reader = c.version < std::string("2.0") ? "ReadDldDataV1" : "ReadDldData";
    const std::string failed = "frame " + std::to_string(c.wholeFrames + 1) + " to image " +
                               std::to_string(c.wholeFrames + 11) + ": " + reader +
                               " result 5, the HM file ends before the end of the frame\n";
    EXPECT_NE(run.err.find(failed), std::string::npos) << run.err;
    const std::string after = readFile(dir_ / "out.kvx");
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
  const std::string header = readFile(dir_ / "gasdet001");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir_ / "gasdet001", header);
    fs::remove(dir_ / "out.kvx");
    const std::string before = existingOutput("out.kvx", 1);
    const auto cut = header.find(c.cutBefore);
    ASSERT_NE(cut, std::string::npos);
    writeFile(dir_ / "gasdet001", header.substr(0, cut));
    const RunResult run = convert(2, 2, 2, "out.kvx");
    EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
    std::string report = c.report;
    if (const auto at = report.find("%DIR%"); at != std::string::npos)
      report.replace(at, 5, dir_.string());
    EXPECT_NE(run.err.find(report), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir_ / "out.kvx"), before);
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
        runProgram(dir_,
                   {DLDGEN_BIN_PATH, "--header", "gasdet001", "--hm", "gasdet001hm", "--columns",
                    "64", "--rows", "64", "--frames", "3", "--frame-range", c.frameRange},
                   {});
    ASSERT_EQ(made.exit, 0) << made.err;
    const RunResult run = convert(1, 3, 11, "out.kvx");
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    const std::string failed = "frame " + std::to_string(c.wholeFrames + 1) + " to image " +
                               std::to_string(c.wholeFrames + 11) + ": ReadDldScalars result ";
    EXPECT_NE(run.err.find(failed), std::string::npos) << run.err;
    const std::string after = readFile(dir_ / "out.kvx");
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
    execInChild(dir, {bin}, {});
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
  if (child > 0 && waitpid(child, &raw, 0) == child) result.exit = exitOf(raw);
  result.err = readFile(dir / ".stderr");
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
          EXPECT_EQ(runProgram(dir_, args, {}).exit, 0);
        },
        // Defaults but for the first output image, 5, behind the image there.
        "\n\n\n\n\n5\n\n\n\n\n");
    ASSERT_NE(run.exit, -1000) << "the dialog asks for the dummy\n" << run.out;
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir_ / "gasdet001.kvx"), before);
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
    writeFile(dir_ / "out.kvx", c.bytes);
    const RunResult run = convert(3, 3, 3, "out.kvx");
    EXPECT_EQ(run.exit, 25) << run.out << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Status = 25 -- FileOpeningError"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir_ / "out.kvx"), c.bytes) << "the whole file is unchanged";
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
// waits inside a frame, and `signal` (0 for none) reaches it there.  Then the
// pipe is drained.  `ignored` is set to be ignored before the program runs,
// as nohup and background jobs do.
RunResult convertAndSignal(const fs::path &dir, const std::string &bin, int frames, int signal,
                           int ignored) {
  int out[2];
  // Shrinking a pipe is always allowed; a pipe that stays large would take
  // the whole output, and the run would end before the signal.
  if (pipe(out) != 0 || fcntl(out[1], F_SETPIPE_SZ, 4096) < 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int err = open((dir / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    close(out[0]);
    // Started in the background, the tests themselves may ignore SIGINT.
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) std::signal(stop, SIG_DFL);
    if (ignored != 0) std::signal(ignored, SIG_IGN);
    execInChild(dir, {bin, "gasdet001", "0", "1", std::to_string(frames), "1", "out.kvx", "1"}, {});
  }
  close(out[1]);
  RunResult result;
  int queued = 0;
  for (int wait = 0; wait < 1000 && ioctl(out[0], FIONREAD, &queued) == 0 && queued < 4096; ++wait)
    usleep(10000);
  if (signal != 0 && child > 0) kill(child, signal);
  char chunk[4096];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
    result.out.append(chunk, static_cast<size_t>(n));
  close(out[0]);
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child) result.exit = exitOf(raw);
  result.err = readFile(dir / ".stderr");
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
  constexpr int kFrames = 600;  // far more output than the pipe and the stream buffer hold
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
    const std::string file = readFile(dir_ / "out.kvx");
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
    EXPECT_NE(run.err.find("Status = 1 -- Abort"), std::string::npos) << run.err;

    const int first = static_cast<int>(images) + 1;
    const RunResult rest = convert(first, kFrames, first, "out.kvx");
    EXPECT_EQ(rest.exit, 0) << "the file takes the remaining frames\n" << rest.err;
    EXPECT_EQ(readFile(dir_ / "out.kvx").size(), static_cast<size_t>(kFrames) * kBlockSize);
  }
}

}  // namespace
