// Data types, byte orders, compressions and host types.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kvxio.h"

namespace {

TEST(KvxTypes, DataTypeNamesAndAliasesReadBack) {
  const std::vector<std::pair<const char *, int>> cases = {
      {"unsignedshort", Unsigned16},  {"Unsigned16", Unsigned16},   {"UNSIGNED SHORT", Unsigned16},
      {"UnsignedLong", Unsigned32},   {"Float", FloatIEEE32},       {"FloatValue", FloatIEEE32},
      {"DoubleIEEE64", DoubleIEEE64}, {"Signed8", Signed8},         {"UnAssigned", Unused11},
      {"Invalid", InValidDType},      {"NoSuchType", InValidDType}, {"", InValidDType},
  };
  for (const auto &[name, code] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(kvx_string2datatype(name), code);
  }
  EXPECT_EQ(kvx_string2datatype(nullptr), InValidDType);
  for (int code = 0; code < EndDType; ++code) {
    SCOPED_TRACE(code);
    if (code == Unused12) continue;  // shares its name with code 11
    EXPECT_EQ(kvx_string2datatype(kvx_datatype2string(code)), code) << "names must read back";
  }
  EXPECT_STREQ(kvx_datatype2string(Unsigned32), "UnsignedInteger");
  EXPECT_STREQ(kvx_datatype2string(-1), "Invalid");
  EXPECT_STREQ(kvx_datatype2string(17), "Invalid");
}

TEST(KvxTypes, SizesFollowTheTable) {
  const std::vector<std::pair<int, size_t>> cases = {
      {InValidDType, 0}, {Unsigned8, 1},      {Signed16, 2},     {Unsigned32, 4},
      {Signed64, 8},     {FloatIEEE32, 4},    {DoubleIEEE64, 8}, {Unused11, 0},
      {Unused12, 0},     {DoubleConvex64, 8}, {EndDType, 0},     {-5, 0},
  };
  for (const auto &[code, size] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(kvx_data_sizeof(code), size);
  }
}

TEST(KvxTypes, CompressionNamesAliasesAndNumbers) {
  const std::vector<std::pair<const char *, int>> cases = {
      {"None", UnCompressed},
      {"UnCompressed", UnCompressed},
      {"NoSpecificValue", UnCompressed},
      {"gzip", GzipCompression},
      {"GzipCompression", GzipCompression},
      {"z", ZCompression},
      {"2", GzipCompression},
      {"3", ZCompression},
      {"1", UnCompressed},
      {"4", 0},
      {"0", 0},
      {"-2", 0},
      {"2x", 0},
      {"zip", 0},
      {"", 0},
  };
  for (const auto &[name, code] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(kvx_string2compression(name), code);
  }
  EXPECT_STREQ(kvx_compression2string(UnCompressed), "None");
  EXPECT_STREQ(kvx_compression2string(ZCompression), "ZCompression");
  EXPECT_STREQ(kvx_compression2string(4), "Invalid");
}

TEST(KvxTypes, ByteOrders) {
  EXPECT_STREQ(ByteOrder2String(HighByteFirst), "HighByteFirst");
  EXPECT_STREQ(ByteOrder2String(EndBOrder), "Invalid") << "the FixedByteOrder slot is never named";
  EXPECT_EQ(String2ByteOrder("lowbytefirst"), LowByteFirst);
  EXPECT_EQ(String2ByteOrder("FixedByteOrder"), InValidBOrder);
  const uint16_t probe = 0x0102;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  EXPECT_EQ(kvx_byteorder(), first == 0x02 ? LowByteFirst : HighByteFirst);
}

TEST(KvxTypes, MachineTypeMapping) {
  const std::vector<std::pair<int, int>> stored_to_host = {
      {Unsigned8, MUnsignedChar},   {Signed8, MChar},
      {Unsigned16, MUnsignedShort}, {Signed16, MShort},
      {Unsigned32, MUnsignedLong},  {Signed32, MLong},
      {FloatIEEE32, MFloat},        {DoubleIEEE64, MDouble},
      {Unsigned64, InValidMType},   {Unused11, InValidMType},
      {FloatVAX32, InValidMType},   {99, InValidMType},
  };
  for (const auto &[stored, host] : stored_to_host) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(kvx_datatype2machinetype(stored), host);
  }
  EXPECT_EQ(kvx_machinetype2datatype(MUnsignedInteger), Unsigned32);
  EXPECT_EQ(kvx_machinetype2datatype(MInteger), Signed32);
  EXPECT_EQ(kvx_machinetype2datatype(MDouble), DoubleIEEE64);
  EXPECT_EQ(kvx_machinetype2datatype(EndMType), InValidDType);
}

TEST(KvxTypes, ListingLeavesOutTypesWithoutHostTypeUnlessFlagged) {
  ::testing::internal::CaptureStdout();
  kvx_showdatatypes(0);
  std::string plain = ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
  kvx_showdatatypes(1);
  std::string full = ::testing::internal::GetCapturedStdout();
  auto lines = [](const std::string &text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  };
  EXPECT_EQ(lines(plain), 8);
  EXPECT_EQ(lines(full), 17);
  EXPECT_EQ(plain.find("UnAssigned"), std::string::npos);
  EXPECT_NE(plain.find("   UnsignedShort (    2 bytes) =  unsigned short (    2 bytes)\n"),
            std::string::npos);
  EXPECT_EQ(full.substr(0, 49), "        DataType               =     MachineType\n");
  EXPECT_NE(full.find("      UnAssigned (    0 bytes) =         Invalid (    0 bytes)\n"),
            std::string::npos);
}

}  // namespace
