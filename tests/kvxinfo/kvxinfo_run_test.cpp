// kvxinfo run as a user runs it: listing and header of converted files,
// exit statuses and messages.
#include <gtest/gtest.h>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

TEST_F(KvxinfoTest, ListsEveryConvertedFrameWithATotal) {
  convert(3, 64, 32, 4);
  const Outcome run = kvxinfo({"gasdet001.kvx"});
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Image  Chain      Dimensions  DataType         ByteOrder      Compression  HeaderPos  "
            "HeaderSize  BinarySize\n"
            "1      Image.Psd  64x32       UnsignedInteger  HighByteFirst  None                 0  "
            "      8192        8192\n"
            "2      Image.Psd  64x32       UnsignedInteger  HighByteFirst  None             16384  "
            "      8192        8192\n"
            "3      Image.Psd  64x32       UnsignedInteger  HighByteFirst  None             32768  "
            "      8192        8192\n"
            "total: 3 blocks, 49152 bytes\n");
}

}  // namespace
