#include "GetDldFrame.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "vexapack/GetDldFrameExample.h"
#include "vexapack_test_util.h"

namespace {

using vexapacktest::File;

std::string TempPath(const std::string &name) {
  return ::testing::TempDir() + "dldframe_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

File Open(const std::string &path) { return File(std::fopen(path.c_str(), "rb")); }

File OpenText(const std::string &bytes, const std::string &name = "header") {
  const std::string path = TempPath(name);
  WriteFile(path, bytes);
  return Open(path);
}

// A header of any version (text "0.0" means no version line), with the
// scaler value 100 * channel + frame and the time 0.25 * frame.
struct HeaderLayout {
  std::string version = "2.2";
  long firstScalar = 1;
  long lastScalar = 2;
  long firstFrame = 1;
  long lastFrame = 2;
  Lines names = {"I0", "I1"};
  std::string bits = "16", columns = "4", rows = "3", frames = "2";
  std::string xoff = "5", yoff = "6";
  std::string center1 = "2.0";
};

bool AtLeast(const std::string &version, const char *literal) {
  return std::strcmp(version.c_str(), literal) >= 0;
}

Lines BuildHeader(const HeaderLayout &layout) {
  const std::string &v = layout.version;
  const bool wide = layout.lastScalar - layout.firstScalar + 1 > kDldScalerChannels;
  Lines lines = {"DLD header", "run"};
  if (v == "0.0") {
    lines.push_back("-1");
  } else {
    lines.insert(lines.end(), {v, "-1"});
  }
  lines.insert(lines.end(), {"0", "0", std::to_string(layout.firstScalar),
                             std::to_string(layout.lastScalar), std::to_string(layout.firstFrame),
                             std::to_string(layout.lastFrame), "0", "0", "0", "0"});
  if (v == "1.0" && wide) lines.push_back("0");
  if (AtLeast(v, "2.1")) lines.insert(lines.end(), {"0", "0"});
  for (long c = layout.firstScalar; c <= layout.lastScalar && c - layout.firstScalar < 40; ++c) {
    for (long f = layout.firstFrame; f <= layout.lastFrame; ++f) {
      lines.push_back(std::to_string(100 * c + f));
    }
  }
  lines.push_back("-1");
  if (AtLeast(v, "1.0")) {
    const long frames = layout.lastFrame - layout.firstFrame + 1;
    lines.insert(lines.end(), {"1", std::to_string(3 + frames), "TIMING", "2012-01-01 10:00:00"});
    for (long f = layout.firstFrame; f <= layout.lastFrame; ++f) {
      lines.push_back(std::to_string(0.25 * static_cast<double>(f)));
    }
    lines.insert(lines.end(),
                 {"0", "SCALERCALIB", "20", "1", "2", "3", "4", std::to_string(layout.firstScalar),
                  std::to_string(layout.lastScalar)});
    if (v == "1.0" && wide) lines.insert(lines.end(), {"0", "0", "0"});
    for (std::size_t k = 0; k < layout.names.size(); ++k) {
      lines.insert(lines.end(), {layout.names[k], std::to_string(k), std::to_string(k + 2)});
    }
    if (AtLeast(v, "1.1")) lines.insert(lines.end(), {"5", "6", "7", "8"});
  }
  lines.push_back("-1");
  lines.insert(lines.end(),
               {"0", "0", layout.bits, layout.columns, layout.rows, layout.frames, "0", "0", "0"});
  if (AtLeast(v, "1.0")) lines.insert(lines.end(), {layout.xoff, layout.yoff});
  lines.push_back("0");
  if (AtLeast(v, "1.0")) {
    lines.insert(lines.end(),
                 {"1", "1", AtLeast(v, "2.2") ? "11" : "10", "EXPERIMENT", layout.center1, "1.5",
                  "0.0001", "0.0002", "1.5e-10", "5", "title", "experiment info"});
    if (AtLeast(v, "2.2")) lines.push_back("5.1");
    lines.insert(lines.end(), {"7", "INFO", "DLD", "machine", "optics", "station", "proposal"});
  }
  return lines;
}

struct Scalers {
  const char *version = nullptr;
  std::array<float, kDldScalerChannels> values{};
  std::array<const char *, kDldScalerChannels> names{};
  std::array<float, kDldScalerChannels> zeros{};
  std::array<float, kDldScalerChannels> factors{};
  float depth = -1;
  int i0 = -1, i1 = -1, anode = -1, time = -1, i0s = -1, i1s = -1, anodes = -1, times = -1;
  float deltaTime = -1;
  std::string startTime = "stale";

  int Read(FILE *stream, int frame) {
    return ReadDldScalars(stream, &version, values, names, zeros, factors, &depth, &i0, &i1, &anode,
                          &time, &i0s, &i1s, &anodes, &times, &deltaTime, &startTime, frame);
  }
};

struct Experiment {
  std::optional<std::string> title, info;
  float center1 = -1, center2 = -1, pix1 = -1, pix2 = -1, waveLength = -1, distance = -1,
        position = -1;
  int iCenter = -1, iPix = -1, iWaveLength = -1, iDistance = -1, iPosition = -1;

  int Read(FILE *stream) {
    return ReadDldExperiment(stream, &title, &info, &center1, &center2, &iCenter, &pix1, &pix2,
                             &iPix, &waveLength, &iWaveLength, &distance, &iDistance, &position,
                             &iPosition);
  }
};

struct Info {
  std::optional<std::string> detector, machine, optics, station, proposal;
  int Read(FILE *stream) {
    return ReadDldInfo(stream, &detector, &machine, &optics, &station, &proposal);
  }
};

class GetDldFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDldFrameModule(); }
  void TearDown() override { ResetDldFrameModule(); }

  // Kept for the test, as a run keeps one for its frames.
  DldHeaderCache cache_;
};

TEST_F(GetDldFrameTest, WorkedExampleReadsAsDocumented) {
  File header = OpenText(Join(kExample));
  ASSERT_TRUE(header);
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
  EXPECT_STREQ(DldVersion(), "2.2");
  EXPECT_EQ(DataLen(), 2);
  EXPECT_EQ(Xsize(), 4);
  EXPECT_EQ(Ysize(), 3);
  EXPECT_EQ(NumberOfFrames(), 2);
  EXPECT_EQ(XOff(), 0);
  EXPECT_EQ(YOff(), 0);
  long afterGeometry = 0;
  for (std::size_t i = 0; i < 59; ++i) afterGeometry += static_cast<long>(kExample[i].size()) + 1;
  EXPECT_EQ(ftello(header.get()), afterGeometry) << "the stream stands after the geometry lines";

  Scalers s;
  ASSERT_EQ(s.Read(header.get(), 2), 0);
  EXPECT_STREQ(s.version, "2.2");
  EXPECT_EQ(s.values[0], 110.0f);
  EXPECT_EQ(s.values[1], 210.0f);
  EXPECT_EQ(s.values[2], 0.0f);
  EXPECT_STREQ(s.names[0], "I0");
  EXPECT_STREQ(s.names[1], "I1");
  EXPECT_STREQ(s.names[2], "none");
  EXPECT_EQ(s.names[1], HScalarNameBuffer() + 3) << "names are packed in the module's store";
  EXPECT_EQ(s.startTime, "2012-01-01 10:00:00");
  EXPECT_EQ(s.deltaTime, 0.5f);
  EXPECT_EQ(s.depth, 24.0f);
  EXPECT_EQ(s.i0, 1);
  EXPECT_EQ(s.i1, 2);
  EXPECT_EQ(s.anode, 0);
  EXPECT_EQ(s.factors[1], 1.0f);

  Experiment e;
  ASSERT_EQ(e.Read(header.get()), 0);
  EXPECT_EQ(e.title, "test run");
  EXPECT_EQ(e.info, "gas detector test");
  EXPECT_EQ(e.center1, 2.0f);
  EXPECT_EQ(e.center2, 1.5f);
  EXPECT_EQ(e.pix1, 0.0001f);
  EXPECT_EQ(e.waveLength, 1e-10f);
  EXPECT_EQ(e.distance, 5.0f);
  EXPECT_EQ(e.position, 5.1f);
  EXPECT_EQ(e.iCenter + e.iPix + e.iWaveLength + e.iDistance + e.iPosition, 5);

  Info info;
  ASSERT_EQ(info.Read(header.get()), 0);
  EXPECT_EQ(info.detector, "DLD");
  EXPECT_EQ(info.machine, "machine");
  EXPECT_EQ(info.optics, "optics");
  EXPECT_EQ(info.station, "station");
  EXPECT_EQ(info.proposal, "proposal");

  // Frames at bytes 0 and 24 of the HM file.
  std::string hm(48, '\0');
  for (std::size_t i = 0; i < hm.size(); ++i) hm[i] = static_cast<char>(i);
  WriteFile(TempPath("example.hm"), hm);
  File data = Open(TempPath("example.hm"));
  std::vector<unsigned char> frame;
  ASSERT_EQ(ReadDldData(data.get(), 2, &frame), 0);
  ASSERT_EQ(frame.size(), 24u);
  EXPECT_EQ(frame.front(), 24);
  EXPECT_EQ(frame.back(), 47);
  ASSERT_EQ(ReadDldData(data.get(), 1, &frame), 0);
  EXPECT_EQ(frame.front(), 0);
}

TEST_F(GetDldFrameTest, EveryVersionYieldsItsValues) {
  struct Case {
    const char *version;
    bool timing;     // "1.0": timing, calibration, offsets, experiment, info
    bool secondSet;  // "1.1": second channel set
    bool position;   // "2.2": detector position
  };
  const Case cases[] = {{"0.0", false, false, false}, {"0.5", false, false, false},
                        {"1.0", true, false, false},  {"1.1", true, true, false},
                        {"2.0", true, true, false},   {"2.1", true, true, false},
                        {"2.2", true, true, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.version);
    ResetDldFrameModule();
    HeaderLayout layout;
    layout.version = c.version;
    File header = OpenText(Join(BuildHeader(layout)));
    ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
    EXPECT_STREQ(DldVersion(), c.version);
    EXPECT_EQ(XOff(), c.timing ? 5 : 0) << "offsets only from 1.0";
    EXPECT_EQ(YOff(), c.timing ? 6 : 0);

    Scalers s;
    ASSERT_EQ(s.Read(header.get(), 2), 0);
    EXPECT_EQ(s.values[0], 102.0f) << "channel 1, frame 2";
    EXPECT_EQ(s.values[1], 202.0f);
    EXPECT_STREQ(s.names[0], c.timing ? "I0" : "none");
    EXPECT_EQ(s.zeros[1], c.timing ? 1.0f : 0.0f);
    EXPECT_EQ(s.factors[1], c.timing ? 3.0f : 1.0f);
    EXPECT_EQ(s.deltaTime, c.timing ? 0.5f : 0.0f);
    EXPECT_EQ(s.startTime, c.timing ? "2012-01-01 10:00:00" : "");
    EXPECT_EQ(s.depth, c.timing ? 20.0f : 24.0f);
    EXPECT_EQ(s.time, c.timing ? 4 : 0);
    EXPECT_EQ(s.i0s, c.secondSet ? 5 : 0);
    EXPECT_EQ(s.times, c.secondSet ? 8 : 0);

    Experiment e;
    ASSERT_EQ(e.Read(header.get()), 0);
    EXPECT_EQ(e.iCenter, c.timing ? 1 : 0);
    EXPECT_EQ(e.title.has_value(), c.timing);
    EXPECT_EQ(e.pix2, c.timing ? 0.0002f : 1.0f);
    EXPECT_EQ(e.waveLength, c.timing ? 1.5e-10f : 1e-10f);
    EXPECT_EQ(e.iPosition, c.position ? 1 : 0);
    EXPECT_EQ(e.position, c.position ? 5.1f : 0.0f);

    Info info;
    ASSERT_EQ(info.Read(header.get()), 0);
    EXPECT_EQ(info.proposal.has_value(), c.timing);
  }
}

TEST_F(GetDldFrameTest, VersionLineFollowedByCarriageReturnIsAbove10) {
  HeaderLayout layout;
  layout.version = "1.0\r";
  layout.lastScalar = 33;
  File header = OpenText(Join(BuildHeader(layout)));
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
  EXPECT_TRUE(DldVersionAtLeast("1.0"));
  EXPECT_EQ(XOff(), 5);
  Scalers s;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(s.Read(header.get(), 1), 3) << "not exactly 1.0: more than 32 channels are rejected";
  EXPECT_EQ(::testing::internal::GetCapturedStdout().find("Lengths adjusted"), std::string::npos);
}

TEST_F(GetDldFrameTest, DataLengthInBitsIsTruncatedToBytes) {
  const std::pair<const char *, int> cases[] = {{"16", 2}, {"32", 4}, {"12", 1},
                                                {"7", 0},  {"x", 0},  {"99999999999", 0}};
  for (const auto &[bits, bytes] : cases) {
    SCOPED_TRACE(bits);
    HeaderLayout layout;
    layout.bits = bits;
    File header = OpenText(Join(BuildHeader(layout)));
    int x = 0, y = 0, length = -1, xoff = 0, yoff = 0;
    ASSERT_EQ(ReadDldType(header.get(), &x, &y, &length, &xoff, &yoff), 0);
    EXPECT_EQ(length, bytes);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 3);
    EXPECT_EQ(xoff, 5);
    EXPECT_EQ(yoff, 6);
  }
}

TEST_F(GetDldFrameTest, OffsetsOfOlderVersionsKeepTheirPreviousValues) {
  HeaderLayout newer;
  File first = OpenText(Join(BuildHeader(newer)), "newer");
  ASSERT_EQ(ParseScalarHeaderFile(first.get()), 0);
  HeaderLayout older;
  older.version = "0.0";
  File second = OpenText(Join(BuildHeader(older)), "older");
  ASSERT_EQ(ParseScalarHeaderFile(second.get()), 0);
  EXPECT_STREQ(DldVersion(), "0.0");
  EXPECT_EQ(XOff(), 5);
  EXPECT_EQ(YOff(), 6);
}

TEST_F(GetDldFrameTest, FrameCountQuery) {
  HeaderLayout layout;
  layout.frames = "0";
  File header = OpenText(Join(BuildHeader(layout)));
  int maximum = -1;
  ASSERT_EQ(GetMaxDldNumber(header.get(), &maximum), 0);
  EXPECT_EQ(maximum, 0);

  maximum = 42;
  File truncated = OpenText("a\nb\n1.0\n-1\n", "truncated");
  EXPECT_EQ(GetMaxDldNumber(truncated.get(), &maximum), 1);
  EXPECT_EQ(maximum, 42) << "a failed query leaves the output alone";
  int x = 7, y = 7, length = 7, xoff = 7, yoff = 7;
  EXPECT_EQ(ReadDldType(truncated.get(), &x, &y, &length, &xoff, &yoff), 1);
  EXPECT_EQ(x + y + length + xoff + yoff, 35);
}

TEST_F(GetDldFrameTest, DevicesAreNoHeaderFiles) {
  // A device never ends its reads; taking it for a header would read until
  // memory runs out.
  for (const char *device : {"/dev/zero", "/dev/full"}) {
    SCOPED_TRACE(device);
    File stream(std::fopen(device, "r"));
    ASSERT_NE(stream.get(), nullptr);
    int maximum = 42;
    EXPECT_EQ(GetMaxDldNumber(stream.get(), &maximum), 1);
    EXPECT_EQ(maximum, 42) << "a failed query leaves the output alone";
  }
}

TEST_F(GetDldFrameTest, NoStream) {
  Scalers s;
  Experiment e;
  Info info;
  int maximum = 0, x = 0;
  std::vector<unsigned char> frame;
  EXPECT_EQ(ParseScalarHeaderFile(nullptr), 1);
  EXPECT_EQ(GetMaxDldNumber(nullptr, &maximum), 1);
  EXPECT_EQ(ReadDldType(nullptr, &x, &x, &x, &x, &x), 1);
  EXPECT_EQ(s.Read(nullptr, 1), 1);
  EXPECT_STREQ(s.names[31], "none") << "defaults are set before the stream is looked at";
  EXPECT_EQ(s.depth, 24.0f);
  EXPECT_EQ(s.startTime, "");
  EXPECT_EQ(e.Read(nullptr), 1);
  EXPECT_EQ(e.waveLength, 1e-10f);
  EXPECT_EQ(info.Read(nullptr), 1);
  EXPECT_EQ(ReadDldData(nullptr, 1, &frame), 1);
  EXPECT_EQ(ReadDldDataV1(nullptr, 1, &frame), 1);
}

TEST_F(GetDldFrameTest, StreamsThatCannotBeRewound) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(write(pipeEnds[1], "x\n", 2), 2);
  close(pipeEnds[1]);
  File stream(fdopen(pipeEnds[0], "rb"));
  Scalers s;
  std::vector<unsigned char> frame;
  EXPECT_EQ(ParseScalarHeaderFile(stream.get()), 2);
  EXPECT_EQ(s.Read(stream.get(), 1), 2);
  EXPECT_EQ(ReadDldData(stream.get(), 1, &frame), 2);
}

TEST_F(GetDldFrameTest, FrameOutsideTheHeaderRangeIsRejected) {
  struct Case {
    long firstFrame, lastFrame;
    int frame;
    const char *message;
  };
  const Case cases[] = {
      {1, 5, 7, "BAD SIZE : (Header 2.2) FrameNumber 7 out of range (1 .. 5)\n"},
      {3, 5, 2, "BAD SIZE : (Header 2.2) FrameNumber 2 out of range (3 .. 5)\n"},
      {-3000000000, 5, 1,
       "BAD SIZE : (Header 2.2) FrameNumber 1 out of range (-3000000000 .. 5)\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    Lines lines = BuildHeader(HeaderLayout{});
    lines[8] = std::to_string(c.firstFrame);
    lines[9] = std::to_string(c.lastFrame);
    File header = OpenText(Join(lines));
    Scalers s;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(s.Read(header.get(), c.frame), 3);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
  }
}

TEST_F(GetDldFrameTest, ChannelRanges) {
  struct Case {
    const char *version;
    long first, last;
    int result;
    int channelsRead;  // elements that hold a value from the file
    const char *output;
  };
  const Case cases[] = {
      {"1.1", 1, 33, 3, 0,
       "BAD SIZE : (Header 1.1)\nLastScalar 33 and FirstScalar 1 out of range (1..32)\n"},
      {"1.0", 1, 33, 0, 31,
       "BAD SIZE : (Header 1.0)\nLastScalar 33 and FirstScalar 1 out of range (1..32)\n"
       "Lengths adjusted, scaler 32 lost (Header 1.0)\n"
       "BAD SIZE : (Header 1.0)\nLastScalar 33 and FirstScalar 1 out of range (1..32)\n"
       "Lengths adjusted, scaler 32 lost (Header 1.0)\n"},
      {"2.2", -2147483647, 2147483647, 3, 0,
       "BAD SIZE : (Header 2.2)\n"
       "LastScalar 2147483647 and FirstScalar -2147483647 out of range (1..32)\n"},
      {"2.2", 99999999999, 100000000000, 3, 0,
       "BAD SIZE : (Header 2.2)\n"
       "LastScalar 100000000000 and FirstScalar 99999999999 out of range (1..32)\n"},
      {"2.2", 1, 32, 0, 32, ""},
      {"2.2", 3, 6, 0, 4, ""},
      {"2.2", 5, 4, 0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + std::to_string(c.first) + ".." +
                 std::to_string(c.last));
    HeaderLayout layout;
    layout.version = c.version;
    layout.firstScalar = c.first;
    layout.lastScalar = c.last;
    layout.names.clear();
    const long named = c.last - c.first + 1 > 32 ? (c.version == std::string("1.0") ? 31 : 0)
                                                 : std::max(0L, c.last - c.first + 1);
    for (long k = 0; k < named; ++k) layout.names.push_back("N" + std::to_string(k));
    File header = OpenText(Join(BuildHeader(layout)));
    Scalers s;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(s.Read(header.get(), 1), c.result);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
    if (c.result != 0) continue;
    const long base = c.channelsRead == 31 ? 1 : c.first;  // "1.0" reads channels 1 to 31
    for (int k = 0; k < kDldScalerChannels; ++k) {
      SCOPED_TRACE(k);
      if (k < c.channelsRead) {
        EXPECT_EQ(s.values[k], static_cast<float>(100 * (base + k) + 1));
        EXPECT_EQ(s.names[k], "N" + std::to_string(k));
        EXPECT_EQ(s.factors[k], static_cast<float>(k + 2));
      } else {
        EXPECT_EQ(s.values[k], 0.0f);
        EXPECT_STREQ(s.names[k], "none");
        EXPECT_EQ(s.zeros[k], 0.0f);
        EXPECT_EQ(s.factors[k], 1.0f);
      }
    }
  }
}

TEST_F(GetDldFrameTest, LongNamesKeepNineCharactersAndStayPacked) {
  HeaderLayout layout;
  layout.names = {"ABCDEFGHIJKL", "short"};
  File header = OpenText(Join(BuildHeader(layout)));
  Scalers s;
  ASSERT_EQ(s.Read(header.get(), 1), 0);
  EXPECT_STREQ(s.names[0], "ABCDEFGHI");
  EXPECT_EQ(s.names[0], HScalarNameBuffer());
  EXPECT_EQ(s.names[1], HScalarNameBuffer() + 10);
  EXPECT_STREQ(s.names[1], "short");
}

TEST_F(GetDldFrameTest, LongLinesAreReadInPiecesOf127Characters) {
  struct Case {
    std::string extra;  // a line inserted into the version section
    const char *version;
  };
  const Case cases[] = {
      {std::string(200, 'x'), "2.2"},
      // The piece after 127 characters is a line of its own: here a terminator.
      {std::string(127, '7') + "-1", "2.2"},
  };
  for (const Case &c : cases) {
    Lines lines = kExample;
    lines.insert(lines.begin() + 3, c.extra);
    if (c.extra.size() == 129) lines.erase(lines.begin() + 4);  // its own piece ends the section
    File header = OpenText(Join(lines));
    ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
    EXPECT_EQ(Xsize(), 4);
    EXPECT_EQ(NumberOfFrames(), 2);
    Scalers s;
    ASSERT_EQ(s.Read(header.get(), 2), 0);
    EXPECT_EQ(s.values[1], 210.0f);
  }
  // A 200-character version line is cut at 127 characters.
  Lines lines = kExample;
  lines[2] = "2.2" + std::string(197, 'v');
  File header = OpenText(Join(lines), "longversion");
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
  EXPECT_EQ(std::strlen(DldVersion()), 127u);
  EXPECT_EQ(NumberOfFrames(), 2);
}

TEST_F(GetDldFrameTest, TimingBlockCountLineSkipsExtraLines) {
  Lines lines = kExample;
  lines[22] = "8";  // three lines more than read
  lines.insert(lines.begin() + 27, {"extra", "extra", "extra"});
  lines[25] = "0.25";
  File header = OpenText(Join(lines));
  for (int frame : {1, 2}) {
    SCOPED_TRACE(frame);
    Scalers s;
    ASSERT_EQ(s.Read(header.get(), frame), 0);
    EXPECT_EQ(s.deltaTime, frame == 1 ? 0.25f : 0.5f);
    EXPECT_STREQ(s.names[1], "I1");
  }
}

TEST_F(GetDldFrameTest, NumbersOutsideTheirTypeKeepTheDefault) {
  Lines lines = kExample;
  lines[63] = "1e50";         // Center_1
  lines[64] = "-1e999";       // Center_2
  lines[30] = "99999999999";  // ScalarI0
  lines[17] = "1e40";         // scaler channel 1, frame 2
  File header = OpenText(Join(lines));
  Experiment e;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(e.Read(header.get()), 0);
  EXPECT_EQ(e.center1, 0.0f);
  EXPECT_EQ(e.center2, 0.0f);
  EXPECT_EQ(e.iCenter, 1) << "the flag is set even when the scan fails";
  Scalers s;
  ASSERT_EQ(s.Read(header.get(), 2), 0);
  EXPECT_EQ(s.values[0], 0.0f);
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find("value 1e40 is beyond the range of a float; 0 is kept\n"),
            std::string::npos)
      << "a scaler that does not fit is not dropped silently: " << warnings;
  EXPECT_NE(warnings.find("value -1e999 is beyond"), std::string::npos) << warnings;
  EXPECT_EQ(s.i0, 0);
  EXPECT_EQ(s.i1, 2);
}

// Numbers read as strtof and strtol read them, bit for bit, whatever their
// form: the common short ones take a quicker way than the rest.
TEST_F(GetDldFrameTest, NumbersReadAsTheLibraryReadsThem) {
  const char *floats[] = {"110",       "16777216",     "16777217",  "16777219",
                          "0.1",       "0.16777215",   "1677721.7", "99999999",
                          "123456789", "-0",           "-0.0",      "+5",
                          " \t7",      "0x1A",         "0X1p4",     "1e3",
                          "12.5E-1",   "3.4028235e38", "1.",        ".5",
                          "inf",       "nan",          "",          "5abc",
                          "1,5",       "0.3333333",    "9.999999",  "00000000000000000001"};
  for (const char *text : floats) {
    SCOPED_TRACE(std::string("scaler ") + text);
    Lines lines = kExample;
    lines[17] = text;  // channel 1, frame 2
    File header = OpenText(Join(lines));
    Scalers s;
    ASSERT_EQ(s.Read(header.get(), 2), 0);
    char *end = nullptr;
    const float expected = std::strtof(text, &end);
    const float value = end == text ? 0.0f : expected;
    EXPECT_EQ(std::memcmp(&s.values[0], &value, sizeof value), 0)
        << s.values[0] << " instead of " << value;
  }
  const char *integers[] = {"  -12",
                            "+7",
                            "0x10",
                            "12abc",
                            "-2147483648",
                            "2147483648",
                            "999999999999999999",
                            "-9223372036854775809",
                            "",
                            "- 3"};
  for (const char *text : integers) {
    SCOPED_TRACE(std::string("assignment ") + text);
    Lines lines = kExample;
    lines[30] = text;  // ScalarI0
    File header = OpenText(Join(lines));
    Scalers s;
    ASSERT_EQ(s.Read(header.get(), 2), 0);
    const long expected = std::strtol(text, nullptr, 10);
    EXPECT_EQ(s.i0, expected < INT_MIN || expected > INT_MAX ? 0 : expected);
  }
}

TEST_F(GetDldFrameTest, WrongBlockTitlesEndTheProcess) {
  struct Case {
    std::size_t line;
    const char *text;
    const char *message;
  };
  const Case cases[] = {
      {23, "TIMING ", "SCANERROR : Header version 2\\.2 \\(TIMING\\)"},
      {28, "scalercalib", "SCANERROR : Header version 2\\.2 \\(SCALERCALIB\\)"},
      {62, "EXPERIMENT ", "SCANERROR : Header version 2\\.2 \\(EXPERIMENT\\)"},
      {73, "INF", "SCANERROR : Header version 2\\.2 \\(INFO\\)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Lines lines = kExample;
    lines[c.line] = c.text;
    File header = OpenText(Join(lines));
    EXPECT_EXIT(
        {
          Scalers s;
          Experiment e;
          Info info;
          (void)s.Read(header.get(), 1);
          (void)e.Read(header.get());
          (void)info.Read(header.get());
        },
        ::testing::ExitedWithCode(255), c.message);
  }
}

TEST_F(GetDldFrameTest, TruncatedHeadersFailAtEveryLine) {
  // Lines each reader needs of the example: the parse 59, the scalers of
  // frame 2 46, the experiment 72, the info 79.
  for (std::size_t kept = 0; kept < kExample.size(); ++kept) {
    SCOPED_TRACE(kept);
    const Lines lines(kExample.begin(), kExample.begin() + static_cast<long>(kept));
    for (bool cutLastFeed : {false, true}) {
      std::string text = Join(lines);
      if (cutLastFeed && !text.empty() && kept != 24 && kept != 29 && kept != 63 && kept != 74) {
        text.pop_back();  // a last line without its line feed (titles excepted)
      }
      File header = OpenText(text);
      Scalers s;
      Experiment e;
      Info info;
      const int parsed = ParseScalarHeaderFile(header.get());
      EXPECT_EQ(parsed, kept >= 59 ? 0 : 5);
      EXPECT_EQ(s.Read(header.get(), 2), kept >= 46 ? 0 : 5);
      EXPECT_EQ(e.Read(header.get()), kept >= 72 ? 0 : (kept >= 59 ? 5 : 1));
      EXPECT_EQ(info.Read(header.get()), kept >= 79 ? 0 : (kept >= 59 ? 5 : 1));
    }
  }
}

TEST_F(GetDldFrameTest, IndexFollowsChangesOfTheFile) {
  const std::string path = TempPath("changing");
  WriteFile(path, Join(kExample));
  File header = Open(path);
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
  EXPECT_EQ(NumberOfFrames(), 2);

  Lines changed = kExample;
  changed[52] = "7";  // same size, other content
  WriteFile(path, Join(changed));
  const timespec later[2] = {{0, UTIME_OMIT}, {1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
  EXPECT_EQ(NumberOfFrames(), 7);

  changed[51] = "30";
  WriteFile(path, Join(changed));
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
  EXPECT_EQ(Ysize(), 30);
}

// Values that do not depend on the frame are read once per state of the
// file: a changed file gives its new values, and a message that a read
// gives comes with every read.
TEST_F(GetDldFrameTest, ValuesOfEveryFrameFollowTheFile) {
  const std::string path = TempPath("kept");
  Lines lines = kExample;
  lines[38] = "1e40";  // factor of channel 1: a warning on every read
  WriteFile(path, Join(lines));
  File header = Open(path);
  ::testing::internal::CaptureStderr();
  for (int frame : {1, 2, 1}) {
    SCOPED_TRACE(frame);
    Scalers s;
    Experiment e;
    Info info;
    ASSERT_EQ(s.Read(header.get(), frame), 0);
    ASSERT_EQ(e.Read(header.get()), 0);
    ASSERT_EQ(info.Read(header.get()), 0);
    EXPECT_EQ(s.values[1], frame == 1 ? 200.0f : 210.0f);
    EXPECT_STREQ(s.names[1], "I1");
    EXPECT_EQ(e.title, "test run");
    EXPECT_EQ(info.proposal, "proposal");
  }
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  std::size_t count = 0;
  for (std::size_t at = warnings.find("1e40"); at != std::string::npos;
       at = warnings.find("1e40", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3u) << warnings;

  lines[36] = "J1";
  lines[69] = "other run";
  lines[78] = "other proposal";
  lines[37] = "4";  // zero of channel 1
  WriteFile(path, Join(lines));
  const timespec later[2] = {{0, UTIME_OMIT}, {2, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  ::testing::internal::CaptureStderr();
  Scalers s;
  Experiment e;
  Info info;
  ASSERT_EQ(s.Read(header.get(), 2), 0);
  ASSERT_EQ(e.Read(header.get()), 0);
  ASSERT_EQ(info.Read(header.get()), 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_STREQ(s.names[0], "J1");
  EXPECT_EQ(s.zeros[0], 4.0f);
  EXPECT_EQ(e.title, "other run");
  EXPECT_EQ(info.proposal, "other proposal");
  EXPECT_STREQ(HScalarNameBuffer() + 3, "I1") << "the store holds the names read";
}

TEST_F(GetDldFrameTest, ReadScopeLooksAtTheFileOnce) {
  const std::string path = TempPath("scope");
  Lines lines = kExample;
  WriteFile(path, Join(lines));
  File header = Open(path);
  lines[78] = "other proposal";
  const timespec later[2] = {{0, UTIME_OMIT}, {3, 0}};
  Info info;
  {
    const DldHeaderReadScope frame;
    Scalers s;
    ASSERT_EQ(s.Read(header.get(), 1), 0);
    WriteFile(path, Join(lines));
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    ASSERT_EQ(info.Read(header.get()), 0);
    EXPECT_EQ(info.proposal, "proposal") << "the state of the file the frame began with";
  }
  ASSERT_EQ(info.Read(header.get()), 0);
  EXPECT_EQ(info.proposal, "other proposal") << "looked at again after the scope";
}

// What the readers keep belongs to the cache in use: one made for a while
// (a second data set read in the same process) keeps its own file and
// leaves the one before it as it was, and once both are gone each call
// reads the file by itself.
TEST(GetDldFrameCache, EveryCacheKeepsItsOwnFile) {
  const std::string first = TempPath("first"), second = TempPath("second");
  Lines lines = kExample;
  WriteFile(first, Join(lines));
  lines[78] = "other proposal";
  WriteFile(second, Join(lines));
  File a = Open(first), b = Open(second);
  auto proposal = [](FILE *stream) {
    Info info;
    EXPECT_EQ(info.Read(stream), 0);
    return info.proposal.value_or("");
  };
  std::optional<DldHeaderCache> outer(std::in_place);
  {
    const DldHeaderReadScope frame;
    EXPECT_EQ(proposal(a.get()), "proposal");
    {
      const DldHeaderCache inner;
      EXPECT_EQ(proposal(b.get()), "other proposal");
    }
    EXPECT_EQ(proposal(a.get()), "proposal") << "the cache before the inner one, as it was";
  }
  outer.reset();
  EXPECT_EQ(proposal(b.get()), "other proposal");
  const DldHeaderReadScope noCache;
  EXPECT_EQ(proposal(a.get()), "proposal");
}

// The index of a long file keeps only every 32nd line and reads the file
// through windows; it serves later streams of the same file, each opened
// after the one before was closed.
TEST_F(GetDldFrameTest, LongFilesReadAnyFrameThroughLaterStreams) {
  HeaderLayout layout;
  layout.lastFrame = 3000;
  layout.frames = "3000";
  const std::string path = TempPath("long");
  WriteFile(path, Join(BuildHeader(layout)));
  for (int frame : {1, 3000, 1500, 17, 2999, 16, 1501}) {
    SCOPED_TRACE(frame);
    File header = Open(path);
    Scalers scalers;
    ASSERT_EQ(scalers.Read(header.get(), frame), 0);
    EXPECT_FLOAT_EQ(scalers.values[0], 100.0F + static_cast<float>(frame)) << "channel 1";
    EXPECT_FLOAT_EQ(scalers.values[1], 200.0F + static_cast<float>(frame)) << "channel 2";
    EXPECT_FLOAT_EQ(scalers.deltaTime, 0.25F * static_cast<float>(frame));
    Info info;
    ASSERT_EQ(info.Read(header.get()), 0);
    EXPECT_EQ(info.proposal, "proposal");
  }
}

// A run backwards finds each line from the one it read for the frame
// after; lines around the 127-character cut must come out as a reader
// without that memory reads them.
TEST_F(GetDldFrameTest, BackwardRunsReadWhatFreshReadsRead) {
  HeaderLayout layout;
  layout.lastFrame = 40;
  layout.frames = "40";
  Lines lines = BuildHeader(layout);
  for (int frame = 1; frame <= 40; ++frame) {
    lines[15 + frame] = std::string(118 + frame % 12, ' ') + std::to_string(frame);  // channel 1
  }
  File header = OpenText(Join(lines));
  std::vector<std::array<float, 3>> backwards, fresh;
  for (int frame = 40; frame >= 1; --frame) {
    Scalers s;
    backwards.push_back(
        {static_cast<float>(s.Read(header.get(), frame)), s.values[0], s.values[1]});
  }
  for (int frame = 40; frame >= 1; --frame) {
    ResetDldFrameModule();
    Scalers s;
    fresh.push_back({static_cast<float>(s.Read(header.get(), frame)), s.values[0], s.values[1]});
  }
  EXPECT_EQ(backwards, fresh) << "result and channels 1 and 2 of frames 40 down to 1";
}

TEST_F(GetDldFrameTest, StreamsWithoutFileDescriptor) {
  std::string text = Join(kExample);
  File header(fmemopen(text.data(), text.size(), "rb"));
  ASSERT_TRUE(header);
  Scalers s;
  ASSERT_EQ(s.Read(header.get(), 2), 0);
  EXPECT_EQ(s.values[1], 210.0f);
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);

  std::string hm = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKL";
  File data(fmemopen(hm.data(), hm.size(), "rb"));
  std::vector<unsigned char> frame;
  ASSERT_EQ(ReadDldData(data.get(), 2, &frame), 0);
  EXPECT_EQ(std::string(frame.begin(), frame.end()), "yz0123456789ABCDEFGHIJKL");
  EXPECT_EQ(ReadDldData(data.get(), 3, &frame), 5) << "positioned at the end, nothing to read";
  EXPECT_EQ(ReadDldData(data.get(), 4, &frame), 2) << "cannot be positioned beyond the end";
}

TEST_F(GetDldFrameTest, UnreadableHeaderStream) {
  File directory(std::fopen(::testing::TempDir().c_str(), "rb"));
  ASSERT_TRUE(directory);
  EXPECT_EQ(ParseScalarHeaderFile(directory.get()), 5);
  Scalers s;
  EXPECT_EQ(s.Read(directory.get(), 1), 5);
  Experiment e;
  EXPECT_EQ(e.Read(directory.get()), 1);
}

// Geometry for the frame reader through a parsed header.
void ParseGeometry(const std::string &version, const std::string &bits, const std::string &columns,
                   const std::string &rows) {
  HeaderLayout layout;
  layout.version = version;
  layout.bits = bits;
  layout.columns = columns;
  layout.rows = rows;
  File header = OpenText(Join(BuildHeader(layout)), "geometry");
  ASSERT_EQ(ParseScalarHeaderFile(header.get()), 0);
}

TEST_F(GetDldFrameTest, FrameReadResults) {
  const std::string hmPath = TempPath("frames.hm");
  std::string hm(512 + 3 * 131072, '\0');
  for (std::size_t i = 0; i < hm.size(); ++i) hm[i] = static_cast<char>(i * 7 + i / 251);
  WriteFile(hmPath, hm);
  struct Case {
    const char *version, *bits, *columns, *rows;
    bool v1;
    int frame;
    int result;
    long offset;  // expected first byte of the frame
  };
  const Case cases[] = {
      {"1.1", "16", "256", "256", true, 3, 0, 262656},
      {"2.0", "16", "256", "256", false, 1, 0, 0},
      {"2.0", "16", "256", "256", false, 0, 0, 0},
      {"2.0", "16", "256", "256", false, -5, 0, 0},
      {"2.0", "16", "256", "256", false, 4, 5, -1},
      {"1.1", "16", "256", "256", true, 4, 5, -1},
      {"2.0", "16", "0", "256", false, 1, 3, -1},
      {"2.0", "16", "-2", "-3", false, 1, 3, -1},
      {"2.0", "-16", "-2", "3", false, 1, 3, -1},
      {"2.0", "4", "256", "256", false, 1, 3, -1},
      {"2.0", "99999999999", "256", "256", false, 1, 3, -1},
      {"2.0", "32", "2147483647", "2147483647", false, 1, 2, -1},
      {"2.0", "16", "2147483647", "2147483647", false, 2147483647, 2, -1},
      // Frames far larger than the file: refused before anything is allocated.
      {"2.0", "16", "2147483647", "2147483647", false, 1, 5, -1},
      {"2.0", "32", "65536", "65536", false, 1, 5, -1},
      {"1.1", "32", "65536", "65536", true, 1, 5, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + c.bits + "x" + c.columns + "x" + c.rows +
                 " frame " + std::to_string(c.frame));
    ParseGeometry(c.version, c.bits, c.columns, c.rows);
    File data = Open(hmPath);
    std::vector<unsigned char> frame = {1, 2, 3};
    ::testing::internal::CaptureStdout();
    const int result = c.v1 ? ReadDldDataV1(data.get(), c.frame, &frame)
                            : ReadDldData(data.get(), c.frame, &frame);
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.result);
    if (c.result == 3) {
      EXPECT_EQ(output, "BAD SIZE : (Header 2.0) DataLen * Xsize * Ysize<=0\n");
      EXPECT_EQ(frame.size(), 3u) << "nothing is allocated";
    } else if (c.result == 5) {
      EXPECT_EQ(output, "");
      EXPECT_EQ(frame.size(), 3u) << "a frame beyond the end of the file allocates nothing";
    } else {
      EXPECT_EQ(output, "");
    }
    if (c.result == 0) {
      ASSERT_EQ(frame.size(), 131072u);
      EXPECT_EQ(0, std::memcmp(frame.data(), hm.data() + c.offset, frame.size()));
    }
  }
}

// The buffer of the frame before has the frame's size: the frame is read
// into it at once, and what the skipped checks found shows in the read.
TEST_F(GetDldFrameTest, BufferOfTheFrameSizeIsReadInPlace) {
  const std::string hmPath = TempPath("inplace.hm");
  std::string hm(3 * 24, '\0');
  for (std::size_t i = 0; i < hm.size(); ++i) hm[i] = static_cast<char>(i);
  WriteFile(hmPath, hm.substr(0, 2 * 24 + 10));  // frame 3 is cut short
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(write(pipeEnds[1], hm.data(), hm.size()), static_cast<ssize_t>(hm.size()));
  close(pipeEnds[1]);
  File pipeStream(fdopen(pipeEnds[0], "rb"));
  File file = Open(hmPath);
  ParseGeometry("2.0", "16", "4", "3");
  struct Case {
    FILE *stream;
    int frame;
    int result;
  };
  const Case cases[] = {{file.get(), 2, 0}, {file.get(), 3, 5}, {pipeStream.get(), 1, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.frame);
    std::vector<unsigned char> frame(24, 0xFF);
    EXPECT_EQ(ReadDldData(c.stream, c.frame, &frame), c.result);
    EXPECT_EQ(frame.size(), 24u) << "the buffer keeps its size";
    if (c.result == 0) {
      EXPECT_EQ(0, std::memcmp(frame.data(), hm.data() + 24, 24)) << "frame 2 read whole";
    }
  }
}

TEST_F(GetDldFrameTest, FramesBeyondTwoGibibytes) {
  const std::string path = TempPath("sparse.hm");
  const off_t frameSize = 4 << 20;  // 1024 x 1024 pixels of 4 bytes
  const int frameNumber = 700;      // starts at 2.73 GiB
  const off_t offset = frameSize * (frameNumber - 1);
  {
    File out(std::fopen(path.c_str(), "wb"));
    ASSERT_TRUE(out);
    ASSERT_EQ(ftruncate(fileno(out.get()), offset + frameSize), 0) << "sparse file";
    ASSERT_EQ(fseeko(out.get(), offset, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite("HEAD", 1, 4, out.get()), 4u);
    ASSERT_EQ(fseeko(out.get(), offset + frameSize - 4, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite("TAIL", 1, 4, out.get()), 4u);
  }
  ParseGeometry("2.0", "32", "1024", "1024");
  File data = Open(path);
  std::vector<unsigned char> frame;
  ASSERT_EQ(ReadDldData(data.get(), frameNumber, &frame), 0);
  EXPECT_EQ(std::string(frame.begin(), frame.begin() + 4), "HEAD");
  EXPECT_EQ(std::string(frame.end() - 4, frame.end()), "TAIL");
  EXPECT_EQ(ReadDldData(data.get(), frameNumber + 1, &frame), 5);
  unlink(path.c_str());
}

}  // namespace
