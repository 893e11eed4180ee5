// kvxinfo --repair and the listing of a file whose last block is torn: what
// a killed conversion leaves, and the way back to an appendable file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

TEST_F(KvxinfoTest, RepairCutsOnlyATornLastBlock) {
  convert(3, 8, 4, 2);
  const std::string whole = read_file(path("gasdet001.kvx"));
  const std::string two = whole.substr(0, 2 * Block);
  std::string damaged = whole, oversized = whole;
  damaged[Block] = 'X';
  // The last block's size runs past the end, but its 64 data bytes are all there.
  oversized.replace(oversized.rfind("KVX_BinarySize = 512"), 20, "KVX_BinarySize = 612");
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
      {"torn data", two + whole.substr(2 * Block, 8222), 0,
       "f.kvx: removed the incomplete last block, image 3 at position 17408 (8222 bytes); 2 "
       "whole blocks remain\n",
       "", two},
      {"damage before the last block", damaged, KvxinfoDamaged, "",
       "kvxinfo: f.kvx: damaged at position 8704: no block starts here; left unchanged\n", damaged},
      {"last size past the end, data all there", oversized, KvxinfoDamaged, "",
       "kvxinfo: f.kvx: damaged at position 17408: the binary size of this block runs past the "
       "end of the file; left unchanged\n",
       oversized},
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

// Holds the lock that a writer holds while it appends, as long as it lives
// (nothing when `take` is false).
class WriterLock {
 public:
  explicit WriterLock(const fs::path &file, bool take = true)
      : fd_(take ? open(file.c_str(), O_RDWR | O_CLOEXEC) : -1) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    held_ = fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~WriterLock() {
    if (fd_ >= 0) close(fd_);
  }
  WriterLock(const WriterLock &) = delete;
  WriterLock &operator=(const WriterLock &) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

TEST_F(KvxinfoTest, ATornLastBlockIsToldApartByTheWritersLock) {
  convert(3, 8, 4, 2);
  write_file(path("f.kvx"), read_file(path("gasdet001.kvx")).substr(0, 2 * Block + 8222));
  const std::string torn =
      "kvxinfo: f.kvx: incomplete last block: image 3 at position 17408 "
      "(8222 bytes); ";
  for (const bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "a run holds the file" : "no run holds the file");
    const WriterLock lock(path("f.kvx"), locked);
    ASSERT_EQ(lock.held(), locked);
    for (const std::vector<std::string> &mode : {std::vector<std::string>{"f.kvx"},
                                                 {"--keys", "HMFrame", "f.kvx"},
                                                 {"-k", "f.kvx", "1"},
                                                 {"--png", "-", "f.kvx", "2"}}) {
      SCOPED_TRACE(mode.front());
      const Outcome run = kvxinfo(mode);
      EXPECT_EQ(run.exit, locked ? KvxinfoInUse : KvxinfoNeedsRepair);
      EXPECT_TRUE(run.err.ends_with(torn + (locked ? "a run is writing it\n"
                                                   : "no run holds the file: kvxinfo --repair "
                                                     "cuts it off\n")))
          << run.err;
      EXPECT_FALSE(run.out.empty()) << "the whole blocks are still shown";
    }
  }
}

TEST_F(KvxinfoTest, RepairLeavesAFileThatAWriterHolds) {
  convert(3, 8, 4, 2);
  const std::string torn = read_file(path("gasdet001.kvx")).substr(0, 2 * Block + 100);
  write_file(path("f.kvx"), torn);
  const WriterLock lock(path("f.kvx"));
  ASSERT_TRUE(lock.held());
  const Outcome run = kvxinfo({"--repair", "f.kvx"});
  EXPECT_EQ(run.exit, KvxinfoInUse);
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
