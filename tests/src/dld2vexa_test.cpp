// End-to-end tests: the built dld2vexa converts data sets written by the
// project's DLD writer; output bytes, both streams and exit statuses are
// checked.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DldWriter.h"
#include "VexaError.h"
#include "VexaOption.h"
#include "kvxio.h"
#include "support/KvxHeaderReader.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using testsupport::KvxTestBlock;
using testsupport::read_file;
using testsupport::ReadKvxBlocks;
using testsupport::RunResult;
using testsupport::write_file;

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no scratch folder"; }

  // Writes header file `name` and its HM file under the default HM name.
  void writeDataSet(const DldDataSetLayout &layout, const std::string &name = "gasdet001") {
    std::string error;
    ASSERT_TRUE(
        WriteDldDataSet(layout, (dir_ / name).string(), (dir_ / (name + "hm")).string(), &error))
        << error;
  }

  RunResult convert(const std::vector<std::string> &args, const std::string &input = "") {
    std::vector<std::string> command{bin_};
    command.insert(command.end(), args.begin(), args.end());
    testsupport::RunOptions options;
    options.input = input;
    return testsupport::run_program(dir_, command, options);
  }

  std::vector<KvxTestBlock> blocks(const std::string &file = "gasdet001.kvx") {
    std::string error;
    auto result = ReadKvxBlocks(read_file(dir_ / file), &error);
    EXPECT_EQ(error, "") << "the output file has a sound block layout";
    return result;
  }

  // Bytes of frame `frame` (from 1) as the HM file holds them.
  std::string hmFrame(const DldDataSetLayout &layout, int frame) {
    const std::string hm = read_file(dir_ / "gasdet001hm");
    const size_t size = static_cast<size_t>(layout.columns) * layout.rows * layout.dataLength;
    const size_t lead = layout.version < std::string("2.0") ? 512 : 0;
    return hm.substr(lead + (frame - 1) * size, size);
  }

  std::string bin_ = DLD2VEXA_BIN_PATH;
  testsupport::ScratchDir scratch_{"d2v"};
  fs::path dir_ = scratch_.path();
};

DldDataSetLayout frames(int count, const std::string &version = "2.2") {
  DldDataSetLayout layout;
  layout.version = version;
  layout.frames = count;
  layout.lastFrame = count;
  return layout;
}

TEST_F(ConverterTest, WorkedExampleConvertsBothFrames) {
  const DldDataSetLayout layout;
  writeDataSet(layout);
  const RunResult run = convert({"gasdet001", "="});
  ASSERT_EQ(run.exit, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find(" Converting frame  1 to image  1\n Converting frame  2 to image  2\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Output file       : " + (dir_ / "gasdet001.kvx").string() + "\n"),
            std::string::npos)
      << "the default output name is the stem plus .kvx in the working directory";

  const auto out = blocks();
  ASSERT_EQ(out.size(), 2U);
  EXPECT_EQ(out[0].position, 0U);
  EXPECT_EQ(out[1].position, 8192U + 512U) << "8192-byte header, 24 data bytes padded to 512";
  const KvxTestBlock &second = out[1];
  const std::string headerName = (dir_ / "gasdet001").string();
  const std::pair<const char *, std::string> expected[] = {
      {"KVX_DataBlockID", "2.Image.Psd"},
      {"HMFrame", "2"},
      {"HS32C01", "110"},
      {"HS32C02", "210"},
      {"HS32C03", "0"},
      {"HS32N01", "I0"},
      {"HS32N02", "I1"},
      {"HS32N03", "none"},
      {"HS32F03", "1"},
      {"HS32Len", "32"},
      {"HMDeltaTime", "0.5"},
      {"Dummy", "-1"},
      {"Dim_1", "4"},
      {"Dim_2", "3"},
      {"DataType", "UnsignedShort"},
      {"ByteOrder", "HighByteFirst"},
      {"Title", "test run"},
      {"WaveLength", "1e-10"},
      {"DetectorPosition", "5.1"},
      {"DetectorName", "DLD"},
      {"VexaDataVersion", "2.0"},
      {"HMFile", headerName},
  };
  for (const auto &[key, value] : expected) {
    SCOPED_TRACE(key);
    EXPECT_EQ(second.value(key).value_or("(absent)"), value);
  }
  EXPECT_FALSE(second.value("ProposalInfo")) << "the proposal is read but not written";
  EXPECT_EQ(second.data.substr(0, 24), hmFrame(layout, 2)) << "pixels are copied unchanged";
  EXPECT_EQ(second.data.substr(24), std::string(512 - 24, ' ')) << "binary padding is spaces";
}

std::vector<std::string> fullKeyOrder() {
  std::vector<std::string> keys = {"KVX_DataBlockID",
                                   "KVX_BinarySize",
                                   "KVX_HeaderSize",
                                   "ByteOrder",
                                   "DataType",
                                   "Dim_1",
                                   "Dim_2",
                                   "Title",
                                   "Dummy",
                                   "Offset_1",
                                   "Offset_2",
                                   "Center_1",
                                   "Center_2",
                                   "PSize_1",
                                   "PSize_2",
                                   "SampleDistance",
                                   "WaveLength",
                                   "DetectorName",
                                   "DetectorPosition",
                                   "ExperimentInfo",
                                   "MachineInfo",
                                   "OpticsInfo",
                                   "StationInfo"};
  auto channels = [&keys](const char *kind) {
    for (int n = 1; n <= 32; ++n) {
      char key[16];
      std::snprintf(key, sizeof key, "HS32%s%02d", kind, n);
      keys.emplace_back(key);
    }
  };
  channels("C");
  keys.emplace_back("HS32Depth");
  channels("F");
  keys.emplace_back("HS32Len");
  channels("N");
  channels("Z");
  for (const char *key : {"HeaderID", "HMDeltaTime", "HMFile", "HMFrame", "HMStartTime", "HSAnode",
                          "HSAnodeS", "HSI0", "HSI0S", "HSI1", "HSI1S", "HSTime", "HSTimeS",
                          "Compression", "Image", "Size", "VexaDataVersion"})
    keys.emplace_back(key);
  return keys;
}

TEST_F(ConverterTest, HeaderKeysStandInTheOutputKeyOrder) {
  writeDataSet(DldDataSetLayout{});
  ASSERT_EQ(convert({"gasdet001", "="}).exit, 0);
  const auto out = blocks();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0].keys(), fullKeyOrder());
}

TEST_F(ConverterTest, EveryHeaderVersionConverts) {
  struct Case {
    const char *version;
    bool named, depth, experiment, position;
  };
  const Case cases[] = {
      {"0.0", false, false, false, false}, {"1.0", true, false, true, false},
      {"1.1", true, true, true, false},    {"2.0", true, true, true, false},
      {"2.1", true, true, true, false},    {"2.2", true, true, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.version);
    const DldDataSetLayout layout = frames(2, c.version);
    writeDataSet(layout);
    fs::remove(dir_ / "gasdet001.kvx");
    const RunResult run = convert({"gasdet001", "="});
    ASSERT_EQ(run.exit, 0) << run.out << run.err;
    const auto out = blocks();
    ASSERT_EQ(out.size(), 2U);
    const KvxTestBlock &b = out[1];
    EXPECT_EQ(b.value("HS32N01").has_value(), c.named);
    EXPECT_EQ(b.value("HSI0").has_value(), c.named);
    EXPECT_EQ(b.value("HS32Depth").has_value(), c.depth);
    EXPECT_EQ(b.value("HSTimeS").has_value(), c.depth);
    EXPECT_EQ(b.value("Title").has_value(), c.experiment);
    EXPECT_EQ(b.value("HMStartTime").has_value(), c.experiment);
    EXPECT_EQ(b.value("DetectorPosition").has_value(), c.position);
    EXPECT_EQ(b.value("HS32C02").value_or(""), "210");
    EXPECT_EQ(b.data.substr(0, 24), hmFrame(layout, 2));
  }
}

TEST_F(ConverterTest, FrameLoopArithmetic) {
  struct Case {
    const char *first, *last, *inc;
    std::vector<int> frames;
  };
  const Case cases[] = {
      {"1", "10", "3", {1, 4, 7, 10}},
      {"10", "1", "-3", {10, 7, 4, 1}},
      {"1", "10", "-1", {1}},
      {"2", "9", "3", {2, 5, 8}},
      {"3", "7", "0", {3}},
  };
  writeDataSet(frames(10));
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.first) + " " + c.last + " " + c.inc);
    fs::remove(dir_ / "gasdet001.kvx");
    const RunResult run = convert({"gasdet001", "0", c.first, c.last, c.inc});
    ASSERT_EQ(run.exit, 0) << run.out << run.err;
    std::string expected;
    for (int frame : c.frames)
      expected += " Converting frame  " + std::to_string(frame) + " to image  " +
                  std::to_string(frame) + "\n";
    const auto from = run.out.find(" Converting");
    ASSERT_NE(from, std::string::npos);
    EXPECT_EQ(run.out.substr(from, expected.size()), expected);
    EXPECT_EQ(blocks().size(), c.frames.size());
  }
}

TEST_F(ConverterTest, OutputNumbersAdvanceByTheIncrementAlsoOverMissingFrames) {
  writeDataSet(frames(3));
  const RunResult run = convert({"gasdet001", "0", "0", "4", "1", "out.kvx", "5"});
  ASSERT_EQ(run.exit, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(" Input frame  0 does not exist.\n Converting frame  1 to image  6\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(" Converting frame  3 to image  8\n Input frame  4 does not exist.\n"),
            std::string::npos)
      << run.out;
  const auto out = blocks("out.kvx");
  ASSERT_EQ(out.size(), 3U);
  EXPECT_EQ(out[2].value("KVX_DataBlockID").value_or(""), "8.Image.Psd");
}

TEST_F(ConverterTest, AppendsToAnExistingFileAndNeverOverwritesAnImage) {
  writeDataSet(frames(2));
  ASSERT_EQ(convert({"gasdet001", "="}).exit, 0);
  const std::string before = read_file(dir_ / "gasdet001.kvx");

  const RunResult again = convert({"gasdet001", "="});
  EXPECT_EQ(again.exit, 255) << "converting the same frames twice fails";
  EXPECT_NE(again.err.find("Status = -1 -- Failed: Routine failed"), std::string::npos)
      << again.err;
  EXPECT_EQ(read_file(dir_ / "gasdet001.kvx"), before) << "the existing file is unchanged";

  const RunResult appended = convert({"gasdet001", "0", "1", "2", "1", "=", "3"});
  ASSERT_EQ(appended.exit, 0) << appended.out << appended.err;
  const std::string after = read_file(dir_ / "gasdet001.kvx");
  EXPECT_EQ(after.substr(0, before.size()), before) << "earlier images stay as they were";
  const auto out = blocks();
  ASSERT_EQ(out.size(), 4U);
  EXPECT_EQ(out[3].value("KVX_DataBlockID").value_or(""), "4.Image.Psd");
  EXPECT_EQ(out[3].value("HMFrame").value_or(""), "2");
}

TEST_F(ConverterTest, FailingFramesEndTheRunWithFailed) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    const char *message;
  };
  // Arguments: header, dummy, first, last, inc, output, first output,
  // data length, columns, rows.
  const Case cases[] = {
      {"data length 1", {"gasdet001", "0", "1", "1", "1", "=", "=", "1"}, ""},
      {"zero columns", {"gasdet001", "0", "1", "1", "1", "=", "=", "=", "0"}, ""},
      {"more pixels than the frame",
       {"gasdet001", "0", "1", "1", "1", "=", "=", "=", "4", "4"},
       "smaller than"},
  };
  writeDataSet(frames(2));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "gasdet001.kvx");
    const RunResult run = convert(c.args);
    EXPECT_EQ(run.exit, 255) << run.out << run.err;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_TRUE(blocks().empty()) << "no header without its data reaches the file";
  }
}

TEST_F(ConverterTest, ShortHmFileFailsTheFrame) {
  const DldDataSetLayout layout = frames(2);
  writeDataSet(layout);
  const std::string hm = read_file(dir_ / "gasdet001hm");
  write_file(dir_ / "gasdet001hm", hm.substr(0, hm.size() - 1));
  const RunResult run = convert({"gasdet001", "="});
  EXPECT_EQ(run.exit, 255);
  EXPECT_NE(run.out.find(" Converting frame  2 to image  2\nReadDldData return status =  5\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(blocks().size(), 1U) << "the frame before the failure stays whole";
}

TEST_F(ConverterTest, WrongBlockTitleStopsWithScanError) {
  writeDataSet(frames(2));
  std::string header = read_file(dir_ / "gasdet001");
  const auto at = header.find("TIMING");
  ASSERT_NE(at, std::string::npos);
  header.replace(at, 6, "TIMINX");
  write_file(dir_ / "gasdet001", header);
  const RunResult run = convert({"gasdet001", "="});
  EXPECT_EQ(run.exit, 255);
  EXPECT_NE((run.out + run.err).find("SCANERROR"), std::string::npos) << run.out << run.err;
}

TEST_F(ConverterTest, DialogWithoutArgumentsPromptsForEverything) {
  writeDataSet(frames(2));
  const RunResult run = convert({}, "gasdet001\n\n\n\n\n\n\n\n\n\n\n");
  ASSERT_EQ(run.exit, 0) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("Usage: dld2vexa \n<i/p file>", 0), 0U) << run.out;
  EXPECT_NE(run.out.find("\n   dld2vexa V4.20 2008-12-05, Ardeny\n\n"), std::string::npos);
  EXPECT_NE(run.out.find("Input file name [gasdet001] : "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Last image [2] : "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Number of columns [4] : "), std::string::npos) << run.out;
  EXPECT_EQ(blocks().size(), 2U);
}

TEST_F(ConverterTest, PositionalArgumentRules) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    int exit;
    const char *expected;
  };
  const Case cases[] = {
      {"three arguments end the frame list",
       {"gasdet001", "0", "3"},
       0,
       "last image         : 3\n"},
      {"a trailing = keeps the frame count",
       {"gasdet001", "0", "3", "="},
       0,
       "last image         : 5\n"},
      {"dummy of letters", {"gasdet001", "abc"}, 3, ""},
      {"int out of range", {"gasdet001", "0", "99999999999"}, 3, ""},
      {"float out of range", {"gasdet001", "1e60"}, 3, ""},
      {"too many arguments",
       {"gasdet001", "0", "1", "1", "1", "=", "=", "=", "=", "=", "=", "extra"},
       40,
       "dld2vexa : Too many arguments\nUsage: dld2vexa"},
      {"image number out of range", {"gasdet001", "0", "1", "5", "1", "=", "2147483647"}, 38, ""},
  };
  writeDataSet(frames(5));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "gasdet001.kvx");
    const RunResult run = convert(c.args);
    EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
    EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
  }
  EXPECT_FALSE(fs::exists(dir_ / "gasdet001.kvx")) << "an out-of-range image number writes nothing";
}

TEST_F(ConverterTest, OverlongNamesAreRefused) {
  writeDataSet(frames(1));
  const RunResult run = convert({"gasdet001", "=", "=", "=", "=", std::string(300, 'x')});
  EXPECT_EQ(run.exit, 42) << run.out << run.err;
}

TEST_F(ConverterTest, ReportNamesTheFailingStep) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    int exit;
    const char *report;
  };
  const Case cases[] = {
      {"dummy of letters",
       {"gasdet001", "abc"},
       3,
       "\nMODULE   : dld2vexa\nROUTINE  : user_io\nabc\nStatus = 3 -- ScanError: Input "
       "conversion error\n"},
      {"missing header file", {"missing", "="}, 25, "Status = 25 -- FileOpeningError\n"},
      {"missing HM file",
       {"gasdet001", "0", "1", "1", "1", "=", "=", "=", "=", "=", "nohm"},
       25,
       "ROUTINE  : main\n"},
      {"output file that is not KVX",
       {"gasdet001", "0", "1", "1", "1", "notes.txt"},
       25,
       "ROUTINE  : kvx_open_data_file\n"},
      {"unknown option", {"-foo"}, 6, "-foo ... \nStatus = 6 -- NoOption: Unknown option\n"},
      {"help", {"-h"}, 40, "\nStatus = 40 -- StoppedAfterHelp\n"},
  };
  writeDataSet(frames(1));
  write_file(dir_ / "notes.txt", "a text file, not images\n");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = convert(c.args);
    EXPECT_EQ(run.exit, c.exit) << run.out << run.err;
    EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
  }
  EXPECT_EQ(read_file(dir_ / "notes.txt"), "a text file, not images\n")
      << "a foreign output file is left as it was";
}

TEST_F(ConverterTest, HelpAndVersionAsLongOptions) {
  const RunResult full = convert({"+h"});
  const RunResult help = convert({"--help"});
  EXPECT_EQ(help.exit, 0);
  EXPECT_EQ(help.out, full.out) << "the full help, as +h prints it";
  EXPECT_EQ(help.err, "") << "no status report";
  const RunResult version = convert({"--version"});
  EXPECT_EQ(version.exit, 0);
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(version.out.rfind("dld2vexa " DLD2VEXA_VERSION "\n", 0), 0u) << version.out;
  for (const char *module : {VexaErrorVersion(), VexaOptionVersion(), kvxio_version()})
    EXPECT_NE(version.out.find(std::string(module) + "\n"), std::string::npos) << module;
  const RunResult later = convert({"-p", "--help"});
  EXPECT_EQ(later.exit, NoOption) << "only as the first word";
}

// A converter run whose inputs hold bytes that would drive a terminal:
// escape sequences, a bell, a carriage return, bytes that are not UTF-8 and
// U+009B.  What it prints quotes them escaped.
TEST_F(ConverterTest, BytesOfHostileInputsNeverReachTheTerminal) {
  const std::string hostile = "\x1b[2J\x1b[5m\x07\r\xff\xc2\x9b";
  writeDataSet(frames(1));
  std::string header = read_file(dir_ / "gasdet001");
  for (const std::string line : {"2.2\n", "test run\n", "DLD\n", "I0\n"}) {
    const size_t at = header.find("\n" + line);
    ASSERT_NE(at, std::string::npos) << line;
    header.insert(at + line.size(), hostile);
  }
  write_file(dir_ / "gasdet001", header);
  std::string broken = header;
  broken.replace(broken.find("TIMING"), 6, "TIMINX");
  write_file(dir_ / "broken", broken);
  fs::copy_file(dir_ / "gasdet001hm", dir_ / "brokenhm");
  const std::vector<std::vector<std::string>> runs = {
      {"+test", "gasdet001", "=", "=", "=", "=", "out" + hostile + ".kvx"},
      {"broken", "="},
      {"-x" + hostile},
      {"gasdet001", "x" + hostile},
      {"+p", "in" + hostile},
  };
  for (const auto &args : runs) {
    SCOPED_TRACE(args.front());
    const RunResult run = convert(args);
    for (const char c : std::string("\x1b\x07\r\xff\x9b")) {
      EXPECT_EQ(run.out.find(c), std::string::npos) << int(c) << " on standard output";
      EXPECT_EQ(run.err.find(c), std::string::npos) << int(c) << " on the error stream";
    }
    EXPECT_NE((run.out + run.err).find("\\x1b[2J\\x1b[5m\\x07\\r\\xff\\xc2\\x9b"),
              std::string::npos)
        << "quoted escaped:\n"
        << run.out << run.err;
  }
}

// Damaged inputs end the run with a status, never with a crash, a sanitizer
// report or a hang; an existing output file keeps its bytes.
bool endedCleanly(const RunResult &run) {
  const bool status = run.exit >= 0 && (run.exit < 128 || run.exit == 255);
  return status && run.err.find("Sanitizer") == std::string::npos &&
         run.err.find("runtime error") == std::string::npos;
}

// Where a cut header file is tried: at the start, after each of the first
// lines, around each block title, after every eighth line and before the
// last line feed.  The header reader itself is tried at every line in its
// own tests; here it is the whole program that must end cleanly.
std::vector<size_t> cutsToTry(const std::string &header) {
  std::vector<size_t> lineStarts{0};
  for (size_t at = header.find('\n'); at + 1 < header.size(); at = header.find('\n', at + 1))
    lineStarts.push_back(at + 1);
  const auto isTitle = [&](size_t line) {
    if (line >= lineStarts.size()) return false;
    const size_t from = lineStarts[line];
    const std::string text = header.substr(from, header.find('\n', from) - from);
    return !text.empty() &&
           text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
  };
  std::vector<size_t> cuts{0};
  for (size_t line = 1; line < lineStarts.size(); ++line) {
    if (line < 4 || line % 8 == 0 || isTitle(line) || isTitle(line + 1) || isTitle(line - 1))
      cuts.push_back(lineStarts[line] - 1);
  }
  cuts.push_back(header.size() - 1);
  return cuts;
}

TEST_F(ConverterTest, TruncatedHeaderFilesNeverCrash) {
  writeDataSet(frames(2));
  ASSERT_EQ(convert({"gasdet001", "0", "1", "1", "1", "kept.kvx"}).exit, 0);
  const std::string kept = read_file(dir_ / "kept.kvx");
  const std::string header = read_file(dir_ / "gasdet001");
  for (const size_t cut : cutsToTry(header)) {
    SCOPED_TRACE(cut);
    write_file(dir_ / "gasdet001", header.substr(0, cut));
    const RunResult run = convert({"gasdet001", "0", "1", "2", "1", "kept.kvx", "2"});
    EXPECT_TRUE(endedCleanly(run)) << run.exit << run.err;
    // Only the last line may lose its line feed and still be read whole.
    if (cut + 1 < header.size()) {
      EXPECT_NE(run.exit, 0) << "a cut header cannot convert both frames";
    }
    const std::string after = read_file(dir_ / "kept.kvx");
    EXPECT_EQ(after.substr(0, kept.size()), kept) << "earlier images are never changed";
  }
}

TEST_F(ConverterTest, ForeignInputsNeverCrash) {
  std::string noise(4096, '\0');
  unsigned state = 12345;
  for (char &c : noise) c = static_cast<char>((state = state * 1103515245U + 12345U) >> 24);
  struct Case {
    const char *name;
    std::string header;
  };
  const Case cases[] = {
      {"random bytes", noise},
      {"empty", ""},
      {"huge geometry",
       "a\nb\n-1\n-1\n-1\n0\n0\n32\n2147483647\n2147483647\n2147483647\n0\n0\n0\n0\n"},
      {"negative geometry", "a\nb\n-1\n-1\n-1\n0\n0\n16\n-4\n-3\n2\n0\n0\n0\n0\n"},
  };
  writeDataSet(frames(2));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir_ / "gasdet001", c.header);
    const RunResult run = convert({"gasdet001", "="});
    EXPECT_TRUE(endedCleanly(run)) << run.exit << run.err;
    EXPECT_NE(run.exit, 0) << run.out;
  }
}

}  // namespace
