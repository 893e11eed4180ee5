// kvxinfo --repair and the listing of a file whose last block is torn: what
// a killed conversion leaves, and the way back to an appendable file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

// Blocks of the converter's 8 x 4 images of 2 bytes: 8192 header bytes and
// 512 binary bytes.
constexpr size_t Block = 8704;

TEST_F(KvxinfoTest, RepairCutsOnlyATornLastBlock) {
  convert(3, 8, 4, 2);
  const std::string whole = read_file(path("gasdet001.kvx"));
  const std::string two = whole.substr(0, 2 * Block);
  std::string damaged = whole;
  damaged[Block] = 'X';
  struct Case {
    const char *what;
    std::string bytes;
    int exit;
    std::string out, err, after;
  };
  const Case cases[] = {
      {"whole", whole, 0, "f.kvx: 3 whole blocks; nothing to repair\n", "", whole},
      {"torn header", two + whole.substr(2 * Block, 3000), 0,
       "f.kvx: removed the incomplete last block, image 3 at position 17408 (3000 bytes); 2 "
       "whole blocks remain\n",
       "", two},
      {"torn data", two + whole.substr(2 * Block, 8292), 0,
       "f.kvx: removed the incomplete last block, image 3 at position 17408 (8292 bytes); 2 "
       "whole blocks remain\n",
       "", two},
      {"damage before the last block", damaged, 1, "",
       "kvxinfo: f.kvx: damaged at position 8704: no block starts here; left unchanged\n", damaged},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    write_file(path("f.kvx"), c.bytes);
    const Outcome run = kvxinfo({"--repair", "f.kvx"});
    EXPECT_EQ(run.exit, c.exit) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(run.err.ends_with(c.err)) << run.err;
    EXPECT_TRUE(read_file(path("f.kvx")) == c.after) << "blocks before the cut keep every byte";
  }
}

TEST_F(KvxinfoTest, ATornLastBlockIsListedAsIncomplete) {
  convert(3, 8, 4, 2);
  write_file(path("f.kvx"), read_file(path("gasdet001.kvx")).substr(0, 2 * Block + 8292));
  const Outcome run = kvxinfo({"f.kvx"});
  EXPECT_EQ(run.exit, 0) << "a file being written is read as far as it is whole";
  EXPECT_NE(run.out.find("total: 2 blocks, 17408 bytes\nincomplete last block: image 3 at "
                         "position 17408 (8292 bytes); being written, or its writer was stopped\n"),
            std::string::npos)
      << run.out;
}

TEST_F(KvxinfoTest, RepairLeavesAFileThatAWriterHolds) {
  convert(3, 8, 4, 2);
  const std::string torn = read_file(path("gasdet001.kvx")).substr(0, 2 * Block + 100);
  write_file(path("f.kvx"), torn);
  // The lock that a writer holds while it appends.
  const int fd = open(path("f.kvx").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  const Outcome run = kvxinfo({"--repair", "f.kvx"});
  close(fd);
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.err,
            "kvxinfo: f.kvx: in use by another process (a conversion writing to it?); left "
            "unchanged\n");
  EXPECT_TRUE(read_file(path("f.kvx")) == torn);
}

TEST_F(KvxinfoTest, AfterARepairTheConverterCompletesTheFile) {
  convert(3, 8, 4, 2);
  const std::string reference = read_file(path("gasdet001.kvx"));
  write_file(path("gasdet001.kvx"), reference.substr(0, 2 * Block + 5000));
  const std::vector<std::string> from_frame_3 = {"gasdet001", "=", "3", "=", "=", "=", "3", "="};
  const Outcome refused = run_program(DLD2VEXA_BIN_PATH, from_frame_3);
  EXPECT_NE(refused.exit, 0);
  EXPECT_NE(refused.err.find("/gasdet001.kvx\" removes that block"), std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("If a run stopped in the middle of a block, \"kvxinfo --repair /"),
            std::string::npos)
      << refused.err;
  ASSERT_EQ(kvxinfo({"--repair", "gasdet001.kvx"}).exit, 0);
  const Outcome completed = run_program(DLD2VEXA_BIN_PATH, from_frame_3);
  EXPECT_EQ(completed.exit, 0) << completed.err;
  EXPECT_TRUE(read_file(path("gasdet001.kvx")) == reference)
      << "the file is the undisturbed conversion's";
}

}  // namespace
