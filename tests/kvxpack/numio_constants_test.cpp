// The constant table: size, order, generated keys, longest match, traces.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <set>
#include <string>

#include "numio.h"

namespace {

std::string read_all(FILE *f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(NumConstants, TableHas597UniqueKeysInDescendingOrder) {
  const auto entries = dpconstant_entries();
  EXPECT_EQ(entries.size(), 597u);
  std::set<std::string> keys;
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i]->Key);
    EXPECT_TRUE(keys.insert(entries[i]->Key).second) << "duplicate key";
    if (i > 0) {
      EXPECT_GT(entries[i - 1]->Key, entries[i]->Key) << "descending byte order";
    }
  }
}

TEST(NumConstants, BaseAndGeneratedKeys) {
  const struct {
    const char *key;
    double value;
  } cases[] = {
      {"km", 1000},
      {"mm", 0.001},
      {"nm", 1e-9},
      {"ms", 0.001},
      {"kHz", 1000},
      {"keV", 1.60217653e-16},
      {"mg", 1e-6},
      {"kg", 1},
      {"ml", 1e-6},
      {"hPa", 100},
      {"mbar", 100},
      {"cm2", 1e-4},
      {"mm3", 1e-9},
      {"us2", 1e-12},
      {"mG", 1e-7},
      {"GG", 1e5},
      {"zm2", 1e-42},
      {"zm3", 1e-63},
      {"Ym3", 1e72},
      {"inf", DBL_MAX},
      {"gamma", 0.5772156649015329},
      {"mile", 1609.344},
      {"YiByte", 0x1p80},
      {"TiByte", 1099511627776.0},
      {"degF", 0.5555555555555556},
      {"kcal", 4186.8},
      {"MOhm", 1e6},
      {"s2", 1},
      {"m", 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.key);
    DPConstant *found = nullptr;
    ASSERT_EQ(dpconstant_search(c.key, &found, 0), 0);
    EXPECT_DOUBLE_EQ(found->Value, c.value);
  }
  DPConstant *found = nullptr;
  EXPECT_EQ(dpconstant_search("Km", &found, 0), -1);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(dpconstant_search(nullptr, &found, 1), -1);
}

TEST(NumConstants, LongestMatchBeginsTheText) {
  const struct {
    const char *text;
    const char *key;  // null: no key begins the text
  } cases[] = {
      {"min", "min"},
      {"mile", "mile"},
      {"mm", "mm"},
      {"m", "m"},
      {"e0", "e0"},
      {"e", "e"},
      {"NA", "NA"},
      {"N", "N"},
      {"gN", "gN"},
      {"ga", "ga"},
      {"g", "g"},
      {"mms", "mm"},
      {"infinity", "inf"},
      {"Km", "K"},
      {"xyz", nullptr},
      {"", nullptr},
      {"GHz", "GHz"},
      {"G", "G"},
      {"arcsecond", "arcsec"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    DPConstant *found = nullptr;
    const int status = dpconstant_search(c.text, &found, 1);
    if (c.key) {
      ASSERT_EQ(status, 0);
      EXPECT_EQ(found->Key, c.key);
    } else {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(found, nullptr);
    }
  }
}

TEST(NumConstants, UnitsInExpressions) {
  const struct {
    const char *text;
    double value;
    int errval;
    const char *tail;
  } cases[] = {
      {"1_km", 1000, 0, ""},
      {"1_mile", 1609.344, 0, ""},
      {"2_min", 120, 0, ""},
      {"1_hr", 3600, 0, ""},
      {"1_d", 86400, 0, ""},
      {"1_G", 1e-4, 0, ""},
      {"1_GHz", 1e9, 0, ""},
      {"1_inf", DBL_MAX, 0, ""},
      {"1_infinity", DBL_MAX, 0, "inity"},
      {"1_zm2", 1e-42, 0, ""},
      {"1_zm3", 1e-63, 0, ""},
      {"1_Km", 1, 0, "m"},
      {"1_xyz", 0, NumNoFloatNumber, "xyz"},
      {"deg", 0.017453292519943295, 0, ""},
      {"min", 60, 0, ""},
      {"gamma", 0.5772156649015329, 0, ""},
      {"0.15_nm", 0.15e-9, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const char *tail = nullptr;
    int errval = -1;
    EXPECT_DOUBLE_EQ(num_str2double(c.text, &tail, &errval), c.value);
    EXPECT_EQ(errval, c.errval);
    EXPECT_STREQ(tail, c.tail);
  }
}

TEST(NumConstants, UnitFamiliesRefuseOverlongBaseUnits) {
  const std::string base64(64, 'Q');
  const std::string base65(65, 'Q');
  EXPECT_EQ(dpconstant_insert_unit(nullptr, nullptr, base65.c_str(), 1), -1);
  EXPECT_EQ(dpconstant_insert_unit2(nullptr, nullptr, base64.c_str(), 1), -1);
  EXPECT_EQ(dpconstant_insert_unit3(nullptr, nullptr, base64.c_str(), 1), -1);
  EXPECT_EQ(dpconstant_insert_unit(nullptr, nullptr, nullptr, 1), -1);
  dpconstant_reset();
}

class NumConstantTrace : public ::testing::Test {
 protected:
  void SetUp() override { dpconstant_reset(); }
  void TearDown() override {
    numio_debug(0);
    dpconstant_reset();
  }
};

TEST_F(NumConstantTrace, FoundConstantsAreTracedWithUnitAndQuantity) {
  numio_debug(1);
  testing::internal::CaptureStdout();
  EXPECT_DOUBLE_EQ(num_str2double("1_mm", nullptr, nullptr), 0.001);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "  mm = 0.001 m (length)\n");
  testing::internal::CaptureStdout();
  num_str2double("pi_inf", nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "  pi = 3.14159265358979 (pi number)\n"
            "  inf = 1.79769313486232e+308 (infinity)\n");
}

TEST_F(NumConstantTrace, TextsAreKeptOnlyWhenTracingAtInsertion) {
  dpconstant_insert("length", "m", "zz", 2, nullptr);
  DPConstant *c = nullptr;
  ASSERT_EQ(dpconstant_insert("ignored", "m", "zz", 3, &c), 0);
  EXPECT_EQ(c->Value, 3) << "an existing key is updated";
  EXPECT_FALSE(c->Quantity.has_value());
  numio_debug(1);
  dpconstant_insert("length", nullptr, "zz", 4, nullptr);
  numio_debug(0);
  EXPECT_EQ(c->Quantity, "length");
  EXPECT_FALSE(c->Unit.has_value());
  dpconstant_insert("length", "m", "yy", 1, nullptr);
  FILE *f = std::tmpfile();
  dpconstant_print(f, 1, 0);
  dpconstant_print(f, 0, 0);
  EXPECT_EQ(read_all(f), "   'zz' = 4 (length)\n   'yy' = 1\n");
  std::fclose(f);
}

TEST_F(NumConstantTrace, LevelTwoPrintsTheTableWhenBuilt) {
  numio_debug(2);
  testing::internal::CaptureStdout();
  num_str2double("1", nullptr, nullptr);
  num_str2double("pi", nullptr, nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("   'zm3' = 1e-63 m3 (volume)\n"), std::string::npos);
  EXPECT_NE(out.find("   'inf' = 1.79769e+308 (infinity)\n"), std::string::npos);
  EXPECT_EQ(out.find("'zm3'"), out.rfind("'zm3'")) << "printed once";
}

TEST_F(NumConstantTrace, VerboseListingNamesTheNeighbours) {
  dpconstant_insert(nullptr, nullptr, "b", 2, nullptr);
  dpconstant_insert(nullptr, nullptr, "a", 1, nullptr);
  FILE *f = std::tmpfile();
  dpconstant_print(f, 1, 1);
  const std::string out = read_all(f);
  std::fclose(f);
  EXPECT_NE(out.find("Key      = 'b'"), std::string::npos);
  EXPECT_NE(out.find("Next     = a"), std::string::npos);
  EXPECT_LT(out.find("'b'"), out.find("'a'"));
}

}  // namespace
