// The DLD data set writer, checked through the frame source's readers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DldWriter.h"
#include "GetDldFrame.h"
#include "vexapack/GetDldFrameExample.h"
#include "vexapack_test_util.h"

namespace {

using vexapacktest::File;

std::string WriterTempPath(const std::string &name) {
  return ::testing::TempDir() + "dldwriter_" + std::to_string(getpid()) + "_" + name;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct DataSet {
  std::string header, hm;
};

DataSet Write(const DldDataSetLayout &layout, const std::string &name) {
  DataSet files{WriterTempPath(name + ".dld"), WriterTempPath(name + ".hm")};
  std::string error;
  EXPECT_TRUE(WriteDldDataSet(layout, files.header, files.hm, &error)) << error;
  return files;
}

struct WrittenScalers {
  const char *version = nullptr;
  std::array<float, kDldScalerChannels> values{}, zeros{}, factors{};
  std::array<const char *, kDldScalerChannels> names{};
  float depth = 0, deltaTime = 0;
  int i0 = 0, i1 = 0, anode = 0, time = 0, i0s = 0, i1s = 0, anodes = 0, times = 0;
  std::string startTime;

  int Read(FILE *stream, int frame) {
    return ReadDldScalars(stream, &version, values, names, zeros, factors, &depth, &i0, &i1, &anode,
                          &time, &i0s, &i1s, &anodes, &times, &deltaTime, &startTime, frame);
  }
};

int ReadExperiment(FILE *stream, int *flags) {
  std::optional<std::string> title, info;
  float c1, c2, p1, p2, w, d, pos;
  int f1, f2, f3, f4, f5;
  const int result = ReadDldExperiment(stream, &title, &info, &c1, &c2, &f1, &p1, &p2, &f2, &w, &f3,
                                       &d, &f4, &pos, &f5);
  *flags = f1 + f2 + f3 + f4 + f5;
  return result;
}

int ReadInfo(FILE *stream) {
  std::optional<std::string> a, b, c, d, e;
  return ReadDldInfo(stream, &a, &b, &c, &d, &e);
}

// The tool as the build placed it.
std::string DldgenPath() { return DLDGEN_BIN_PATH; }

class DldWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDldFrameModule(); }
  void TearDown() override { ResetDldFrameModule(); }
};

TEST_F(DldWriterTest, DefaultLayoutIsTheWorkedExample) {
  EXPECT_EQ(DldHeaderText(DldDataSetLayout{}), Join(kExample));
  const DataSet files = Write(DldDataSetLayout{}, "example");
  EXPECT_EQ(ReadFile(files.header), Join(kExample));
  EXPECT_EQ(ReadFile(files.hm).size(), 48u);
}

TEST_F(DldWriterTest, ReadersGetWhatTheWriterWrote) {
  struct Case {
    const char *version;
    long firstScalar, lastScalar, firstFrame, lastFrame;
    int dataLength, frames;
    int experimentFlags;
  };
  const Case cases[] = {
      {"0.0", 1, 2, 1, 3, 2, 3, 0},  {"1.0", 1, 33, 1, 2, 4, 2, 4}, {"1.1", 3, 6, 1, 3, 2, 3, 4},
      {"2.0", 1, 32, 1, 2, 4, 2, 4}, {"2.1", 5, 5, 4, 6, 2, 6, 4},  {"2.2", 1, 2, 1, 4, 4, 4, 5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.version);
    DldDataSetLayout layout;
    layout.version = c.version;
    layout.firstScalar = c.firstScalar;
    layout.lastScalar = c.lastScalar;
    layout.firstFrame = c.firstFrame;
    layout.lastFrame = c.lastFrame;
    layout.columns = 5;
    layout.rows = 7;
    layout.dataLength = c.dataLength;
    layout.frames = c.frames;
    layout.xOffset = 11;
    layout.yOffset = 12;
    const DataSet files = Write(layout, std::string("v") + c.version);
    File header(std::fopen(files.header.c_str(), "rb"));
    File hm(std::fopen(files.hm.c_str(), "rb"));
    ASSERT_TRUE(header && hm);

    int x = 0, y = 0, length = 0, xoff = 0, yoff = 0, frames = 0;
    ASSERT_EQ(ReadDldType(header.get(), &x, &y, &length, &xoff, &yoff), 0);
    ASSERT_EQ(GetMaxDldNumber(header.get(), &frames), 0);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 7);
    EXPECT_EQ(length, c.dataLength);
    EXPECT_EQ(frames, c.frames);
    const bool v10 = std::string(c.version) >= "1.0";
    EXPECT_EQ(xoff, v10 ? 11 : 0);

    const bool adjusted = c.lastScalar - c.firstScalar + 1 > 32;
    const long firstChannel = adjusted ? 1 : c.firstScalar;
    const long channels = adjusted ? 31 : c.lastScalar - c.firstScalar + 1;
    DldPictureGenerator pictures(layout);
    std::vector<unsigned char> expected(pictures.FrameBytes());
    for (int frame = c.firstFrame; frame <= c.lastFrame; ++frame) {
      SCOPED_TRACE(frame);
      WrittenScalers s;
      testing::internal::CaptureStdout();
      ASSERT_EQ(s.Read(header.get(), frame), 0);
      EXPECT_EQ(testing::internal::GetCapturedStdout().empty(), !adjusted);
      for (long k = 0; k < channels; ++k) {
        EXPECT_EQ(s.values[k], 100.0f * (firstChannel + k) + 10.0f * (frame - c.firstFrame));
      }
      EXPECT_EQ(s.values[channels], 0.0f);
      EXPECT_STREQ(s.names[0], v10 ? "I0" : "none");
      const std::string lastName = channels == 1 ? "I0"
                                   : channels == 2
                                       ? "I1"
                                       : "C" + std::to_string(firstChannel + channels - 1);
      EXPECT_EQ(s.names[channels - 1], v10 ? lastName : "none");
      EXPECT_EQ(s.deltaTime, v10 ? 0.5f : 0.0f);

      int flags = 0;
      ASSERT_EQ(ReadExperiment(header.get(), &flags), 0);
      EXPECT_EQ(flags, c.experimentFlags);
      ASSERT_EQ(ReadInfo(header.get()), 0);

      std::vector<unsigned char> data;
      ASSERT_EQ(std::string(c.version) >= "2.0" ? ReadDldData(hm.get(), frame, &data)
                                                : ReadDldDataV1(hm.get(), frame, &data),
                0);
      pictures.Frame(frame - 1, expected.data());
      EXPECT_EQ(data, expected);
    }
  }
}

TEST_F(DldWriterTest, PicturesFollowTheSeedAndChangeFromFrameToFrame) {
  DldDataSetLayout layout;
  layout.columns = 64;
  layout.rows = 48;
  layout.dataLength = 2;
  auto frame = [&layout](std::uint64_t seed, int index) {
    layout.seed = seed;
    DldPictureGenerator pictures(layout);
    std::vector<unsigned char> out(pictures.FrameBytes());
    pictures.Frame(index, out.data());
    return out;
  };
  EXPECT_EQ(frame(5, 0), frame(5, 0)) << "same seed, same bytes";
  EXPECT_NE(frame(5, 0), frame(6, 0));
  EXPECT_NE(frame(5, 0), frame(5, 1));

  // High byte first, with many distinct values and a dark beam stop.
  const std::vector<unsigned char> bytes = frame(5, 3);
  std::set<int> values;
  int darkest = 1 << 16;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const int value = bytes[i] << 8 | bytes[i + 1];
    values.insert(value);
    darkest = std::min(darkest, value);
  }
  EXPECT_GT(values.size(), 300u);
  EXPECT_LT(darkest, 100);
}

TEST_F(DldWriterTest, BadLayoutsAreRefusedBeforeWriting) {
  struct Case {
    const char *what;
    DldDataSetLayout layout;
  };
  std::vector<Case> cases(10);
  cases[8] = {"frame range too long", {}};
  cases[8].layout.lastFrame = kDldWriterMaxFrameRange + 1;
  cases[9] = {"two-line frame time", {}};
  cases[9].layout.frameTime = "0.5\n1";
  cases[7] = {"channel beyond int", {}};
  cases[7].layout.firstScalar = cases[7].layout.lastScalar = 3000000000;
  cases[0] = {"data length", {}};
  cases[0].layout.dataLength = 3;
  cases[1] = {"negative columns", {}};
  cases[1].layout.columns = -1;
  cases[2] = {"too many channels", {}};
  cases[2].layout.lastScalar = 5000;
  cases[3] = {"reversed frame range", {}};
  cases[3].layout.firstFrame = 5;
  cases[3].layout.lastFrame = 3;
  cases[4] = {"version reading as terminator", {}};
  cases[4].layout.version = "-1";
  cases[5] = {"two-line version", {}};
  cases[5].layout.version = "2.2\n1";
  cases[6] = {"huge frame", {}};
  cases[6].layout.columns = cases[6].layout.rows = 1 << 15;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(DldLayoutProblem(c.layout).empty());
    const std::string header = WriterTempPath("bad.dld");
    std::string error;
    EXPECT_FALSE(WriteDldDataSet(c.layout, header, WriterTempPath("bad.hm"), &error));
    EXPECT_EQ(error, DldLayoutProblem(c.layout));
    EXPECT_NE(access(header.c_str(), F_OK), 0) << "nothing is written";
  }
  std::string error;
  EXPECT_FALSE(WriteDldDataSet(DldDataSetLayout{}, "/nonexistent-dir/x.dld", "x.hm", &error));
  EXPECT_EQ(error, "cannot create /nonexistent-dir/x.dld");
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(WriteDldDataSet(DldDataSetLayout{}, "/dev/full", WriterTempPath("full.hm"), &error));
    EXPECT_EQ(error, "cannot write /dev/full");
    EXPECT_FALSE(WriteDldDataSet(DldDataSetLayout{}, WriterTempPath("full.dld"), "/dev/full", &error));
    EXPECT_EQ(error, "cannot write /dev/full");
  }
}

// Every frame of a long run with 32 channels reads its own values through
// the header index (its speed is measured by the benchmarks).
TEST_F(DldWriterTest, ReadingEveryFrameOfALongRun) {
  DldDataSetLayout layout;
  layout.lastScalar = 32;
  layout.lastFrame = layout.frames = 5000;
  layout.columns = layout.rows = 2;
  const DataSet files = Write(layout, "long");
  const DldHeaderCache cache;  // as a reader of a whole run holds one: the file is indexed once
  File header(std::fopen(files.header.c_str(), "rb"));
  File hm(std::fopen(files.hm.c_str(), "rb"));
  int frames = 0;
  ASSERT_EQ(GetMaxDldNumber(header.get(), &frames), 0);
  ASSERT_EQ(frames, layout.frames);
  WrittenScalers s;
  std::vector<unsigned char> data;
  int flags = 0;
  for (int frame = 1; frame <= layout.frames; ++frame) {
    ASSERT_EQ(s.Read(header.get(), frame), 0);
    ASSERT_EQ(s.values[31], 3200.0f + 10.0f * (frame - 1));
    ASSERT_EQ(ReadDldData(hm.get(), frame, &data), 0);
    ASSERT_EQ(ReadExperiment(header.get(), &flags), 0);
    ASSERT_EQ(ReadInfo(header.get()), 0);
  }
}

TEST_F(DldWriterTest, CommandLineTool) {
  const std::string tool = DldgenPath();
  if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "dldgen is not built";
  const std::string dir = WriterTempPath("cli");
  ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir " + dir).c_str()), 0);
  const std::string run = "cd " + dir + " && " + tool;
  EXPECT_EQ(std::system((run + " > out.txt").c_str()), 0);
  EXPECT_EQ(ReadFile(dir + "/example.dld"), Join(kExample));
  EXPECT_EQ(ReadFile(dir + "/example.hm").size(), 48u);

  EXPECT_EQ(std::system((run + " --help > help.txt").c_str()), 0);
  EXPECT_NE(ReadFile(dir + "/help.txt").find("--frame-range"), std::string::npos);

  EXPECT_EQ(std::system((run + " --header run.x.dld --frames 3 --columns 2 --rows 2 "
                               "--data-length 4 --version 1.1")
                            .c_str()),
            0);
  EXPECT_EQ(ReadFile(dir + "/run.x.hm").size(), 512u + 3 * 16);

  for (const char *bad :
       {" --data-length 3", " --columns x", " --frames", " --bogus 1", " --channels 1-2"}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(std::system((run + bad + " 2> err.txt").c_str()), 0);
    EXPECT_NE(ReadFile(dir + "/err.txt").find("dldgen:"), std::string::npos);
  }
}

}  // namespace
