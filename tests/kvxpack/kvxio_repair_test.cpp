// Where the walk over a file's blocks stops, and whether a cut would mend it.
#include "kvxio_repair.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <utility>

#include "kvxio_test_util.h"

namespace {

using namespace kvxtest;

// A block of image `image`: a 512-byte header and `binary` data bytes, all
// of them the floats of its array.
std::string block(int image, size_t binary) {
  const std::string text = "{\r\nKVX_DataBlockID = " + std::to_string(image) +
                           ".Image.Psd ;\r\nKVX_BinarySize = " + std::to_string(binary) +
                           " ;\r\nKVX_HeaderSize = 512 ;\r\nDim_1 = " + std::to_string(binary / 4) +
                           " ;\r\n";
  return text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n" + std::string(binary, '\1');
}

class KvxChainRepair : public LibraryTest {
 protected:
  TempDir dir_;
};

TEST_F(KvxChainRepair, TheCheckTellsATornLastBlockFromOtherDamage) {
  const std::string b1 = block(1, 1024), b2 = block(2, 1024), b3 = block(3, 1024);
  const std::string two = b1 + b2;
  std::string oversized = b2, last_oversized = b3;
  oversized.replace(oversized.find("= 1024"), 6, "= 9999");
  last_oversized.replace(last_oversized.find("= 1024"), 6, "= 2048");
  struct Case {
    const char *what;
    std::string bytes;
    KvxChainState state;
    uint64_t blocks, damage_pos;
    std::string torn_key;
  };
  const Case cases[] = {
      {"whole", two, KvxChainState::Whole, 2, 0, ""},
      {"a line end after the blocks", two + "\r\n", KvxChainState::Whole, 2, 0, ""},
      {"header cut after its id", two + b3.substr(0, 100), KvxChainState::TornLastBlock, 2, 3072,
       "3"},
      {"header cut inside its id", two + b3.substr(0, 10), KvxChainState::TornLastBlock, 2, 3072,
       ""},
      {"header without data", two + b3.substr(0, 512), KvxChainState::TornLastBlock, 2, 3072, "3"},
      {"binary section cut", two + b3.substr(0, 600), KvxChainState::TornLastBlock, 2, 3072, "3"},
      {"first block cut", b1.substr(0, 50), KvxChainState::TornLastBlock, 0, 0, "1"},
      {"text behind the blocks", two + "garbage", KvxChainState::Damaged, 2, 3072, ""},
      {"damage before the last block", b1 + "X" + b2.substr(1) + b3, KvxChainState::Damaged, 1,
       1536, ""},
      {"binary size running over the next block", b1 + oversized + b3, KvxChainState::Damaged, 1,
       1536, ""},
      {"last binary size past the end, its array all there", two + last_oversized,
       KvxChainState::Damaged, 2, 3072, ""},
      {"last binary size past the end, its array cut", two + last_oversized.substr(0, 1000),
       KvxChainState::TornLastBlock, 2, 3072, "3"},
      {"header text beyond its stated size", two + b3.substr(0, 508) + std::string(100, ' '),
       KvxChainState::Damaged, 2, 3072, ""},
      {"zero bytes behind a header start", two + b3.substr(0, 100) + std::string(100, '\0'),
       KvxChainState::Damaged, 2, 3072, ""},
  };
  const std::string name = dir_.file("f.kvx");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(name, std::ios::binary | std::ios::trunc) << c.bytes;
    KvxChainCheck check;
    int error = -99;
    ::testing::internal::CaptureStderr();
    const int checked = kvx_check_block_chain(name.c_str(), check, &error, nullptr);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(checked, 1) << error;
    EXPECT_EQ(check.State, c.state);
    EXPECT_EQ(check.Blocks, c.blocks) << "whole blocks before the end or the damage";
    EXPECT_EQ(check.WholeEnd, c.blocks * 1536) << "where a cut would go";
    if (c.state != KvxChainState::Whole) {
      EXPECT_EQ(check.DamagePos, c.damage_pos);
    }
    EXPECT_EQ(check.TornBlockKey, c.torn_key);
    EXPECT_EQ(read_file(name), c.bytes) << "a check changes nothing";
  }
}

TEST_F(KvxChainRepair, ImageNumbersHeldTwiceAreDamageThatIsNeverCut) {
  const std::string bytes = block(1, 1024) + block(2, 1024) + block(1, 1024) + block(1, 1024) +
                            block(3, 1024).substr(0, 600);
  const std::string name = dir_.file("f.kvx");
  std::ofstream(name, std::ios::binary) << bytes;
  KvxRepair repair;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(kvx_repair_block_chain(name.c_str(), repair, nullptr, nullptr), 1);
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(repair.Check.Duplicates.size(), 1u);
  EXPECT_EQ(repair.Check.Duplicates[0].BlockKey, "1");
  EXPECT_EQ(repair.Check.Duplicates[0].Count, 3u);
  EXPECT_EQ(repair.Check.Duplicates[0].FirstPos, 0u);
  EXPECT_FALSE(repair.Cut) << "the torn block behind them stays";
  EXPECT_EQ(read_file(name), bytes);
}

TEST_F(KvxChainRepair, FilesThatCannotBeCheckedAreRefused) {
  const std::string pipe = dir_.file("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string &name : {dir_.file("missing.kvx"), pipe, dir_.path().string()}) {
    SCOPED_TRACE(name);
    KvxChainCheck check;
    KvxRepair repair;
    int error = -99;
    EXPECT_EQ(kvx_check_block_chain(name.c_str(), check, &error, nullptr), 0);
    EXPECT_EQ(error, CouldNotOpenFile) << "refused at once, a pipe included";
    EXPECT_EQ(kvx_repair_block_chain(name.c_str(), repair, &error, nullptr), 0);
    EXPECT_EQ(error, CouldNotOpenFile);
  }
}

TEST_F(KvxChainRepair, AFileThatMayNotBeWrittenIsCheckedButNeverCut) {
  const std::string whole = block(1, 1024), torn = whole + block(2, 1024).substr(0, 100);
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all |
                                                std::filesystem::perms::group_exec |
                                                std::filesystem::perms::others_exec);
  for (const auto &[name, bytes] : {std::pair{"whole.kvx", whole}, std::pair{"torn.kvx", torn}}) {
    std::ofstream(dir_.file(name), std::ios::binary) << bytes;
    ASSERT_EQ(chmod(dir_.file(name).c_str(), 0444), 0);
  }
  const std::optional<int> outcome = run_unprivileged([&] {
    std::freopen("/dev/null", "w", stderr);  // the library's warnings about the torn block
    KvxRepair repair;
    int error = -99;
    if (kvx_repair_block_chain(dir_.file("whole.kvx").c_str(), repair, &error, nullptr) != 1 ||
        repair.Check.State != KvxChainState::Whole)
      return 1;
    if (kvx_repair_block_chain(dir_.file("torn.kvx").c_str(), repair, &error, nullptr) != 0 ||
        error != FileIsNotWritable || repair.Cut)
      return 2;
    return 0;
  });
  if (!outcome) GTEST_SKIP() << "the unprivileged user 65534 cannot be taken on";
  EXPECT_EQ(*outcome, 0) << "1: a whole file is checked read only; 2: a torn one is not cut";
  EXPECT_EQ(read_file(dir_.file("torn.kvx")), torn);
}

}  // namespace
