// In-memory model: key comparison, sorted lists, chain keys, limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvxio_internal.h"

namespace {

using namespace kvxio;

int sign(int value) { return (value > 0) - (value < 0); }

TEST(KvxCompareKeys, OrdersKeysInEveryMode) {
  struct Case {
    std::string a;
    std::string b;
    int mode;
    int expected;
  };
  const std::vector<Case> cases = {
      {"KVX_BinarySize", "Abc", UpperCaseSort, -1},
      {"kvx_x", "Abc", UpperCaseSort, -1},  // the prefix ignores case
      {"KVXA", "Abc", UpperCaseSort, 1},    // no underscore: an ordinary key
      {"dim_1", "Dim_1", UpperCaseSort, 0},
      {"dim_1", "Dim_1", CaseSensitiveSort, 1},
      {"Dim 1", "Dim1", UpperCaseSort, 0},  // spaces do not count
      {"Title", "Title~1", UpperCaseSort, -1},
      {"Title~1", "Title~2", UpperCaseSort, -1},
      {"Title~2", "Title~10", UpperCaseSort, -1},
      {"Title~1", "TitleA", UpperCaseSort, -1},
      {"Title~x", "Title~5", UpperCaseSort, 1},   // malformed depth goes last
      {"Title~0", "Title~x", UpperCaseSort, -1},  // both malformed: by text
      {"2", "10", NumberSort, -1},
      {"2", "10", UpperCaseSort, 1},
      {"-1", "2", NumberSort, -1},
      {"-10", "-2", NumberSort, -1},
      {"+3", "3", NumberSort, 0},
      {"007", "7", NumberSort, 0},
      {"000", "0", NumberSort, 0},
      {"+3", "10", NumberSort, -1},
      {"All", "1", NumberSort, 1},
      {"Ab", "A", UpperCaseSort, 1},  // equal up to the end of the shorter text
      {"HS32C01", "HS32c1", CaseSensitiveSort, -1},
      {"a~1", "A", UpperCaseSort, 1},
      // The shorter number counts as padded with "0", which sorts after "!".
      {"5", "!!", NumberSort, 1},
      {"-5", "-!!", NumberSort, -1},
      // Bytes outside printable ASCII do not count, in any locale.
      {"Dim\xe9_1", "DIM_1", UpperCaseSort, 0},
      {"\xe4x", "X", UpperCaseSort, 0},
      // Only the first 64 characters count.
      {std::string(64, 'a') + "x", std::string(64, 'a') + "y", UpperCaseSort, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].a + " vs " + cases[i].b);
    EXPECT_EQ(sign(compare_keys(cases[i].a, cases[i].b, cases[i].mode)), cases[i].expected);
    EXPECT_EQ(sign(compare_keys(cases[i].b, cases[i].a, cases[i].mode)), -cases[i].expected)
        << "the order must be antisymmetric";
  }
}

TEST(KvxCompareKeysDeathTest, UnknownModeEndsTheProcess) {
  EXPECT_EXIT((void)compare_keys("a", "b", 3), ::testing::ExitedWithCode(255),
              "ERROR: Unknown sortmode");
}

TEST(KvxContinuationDepth, ReadsTheNumberAfterTheTilde) {
  const std::vector<std::pair<const char *, long>> cases = {
      {"Title", 0},    {"Title~1", 1},   {"Title~12", 12}, {" Title~3 ", 3}, {"Title~", -1},
      {"Title~0", -1}, {"Title~1a", -1}, {"Title~-1", -1}, {"T~1~2", -1},
  };
  for (const auto &[key, depth] : cases) {
    SCOPED_TRACE(key);
    EXPECT_EQ(continuation_depth(key), depth);
  }
}

TEST(KvxKeyOrderMatch, StarsSkipToTheNextCharacter) {
  struct Case {
    const char *pattern;
    const char *key;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"Dim_*", "Dim_1", true},
      {"Dim_*", "dim_12", true},
      {"Dim_*", "Dim", false},
      {"Title", "Title", true},
      {"Title", "Title~1", false},
      {"Title", "title", true},
      {"H*", "HeaderID", true},
      {"H*", "Size", false},
      {"History-*", "History-1", true},
      {"Offset_*", "Offset_1", true},
      {"Sample*", "SampleDistance", true},
      {"A*C", "ABC", true},
      {"A*C", "ABCD", false},
      {"A*C", "AXCYC", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.key);
    EXPECT_EQ(keyorder_match(c.pattern, c.key), c.matches);
  }
}

class KvxLists : public ::testing::Test {
 protected:
  void SetUp() override { reset_entry(file_); }
  void TearDown() override { reset_entry(file_); }
  Data_File file_;
};

TEST_F(KvxLists, BlocksSortByNumberAndEqualKeysReturnTheBlock) {
  Data_Chain *chain = insert_chain(file_, "Image.Psd");
  ASSERT_NE(chain, nullptr);
  for (const char *key : {"2", "10", "-1", "+3"}) insert_block(*chain, key);
  std::vector<std::string> order;
  for (const Data_Block &block : chain->BlockList) order.push_back(block.BlockKey);
  EXPECT_EQ(order, (std::vector<std::string>{"-1", "2", "+3", "10"}));
  Data_Block *seven = insert_block(*chain, "7");
  EXPECT_EQ(insert_block(*chain, "007"), seven) << "007 and 7 are the same block";
  EXPECT_EQ(search_block(*chain, "10"), &chain->BlockList.back());
  EXPECT_EQ(search_block(*chain, "11"), nullptr);
  EXPECT_EQ(insert_chain(file_, "image.psd"), chain) << "chain keys ignore case";
  EXPECT_EQ(search_chain(file_, "Image.Error"), nullptr);
}

// A search starts at the block found last: images taken in either
// direction, or jumping about, must all be found and kept in order.
TEST_F(KvxLists, BlocksAreFoundWhateverTheOrderOfTheirNumbers) {
  const std::vector<std::vector<int>> orders = {
      {1, 2, 3, 4, 5}, {5, 4, 3, 2, 1}, {3, 1, 5, 2, 4}, {2, 4, 1, 5, 3}};
  for (const std::vector<int> &numbers : orders) {
    SCOPED_TRACE(::testing::PrintToString(numbers));
    reset_entry(file_);
    Data_Chain *chain = insert_chain(file_, "Image.Psd");
    for (int n : numbers) insert_block(*chain, std::to_string(n));
    std::vector<std::string> keys;
    for (const Data_Block &block : chain->BlockList) keys.push_back(block.BlockKey);
    EXPECT_EQ(keys, (std::vector<std::string>{"1", "2", "3", "4", "5"})) << "sorted";
    for (int n : numbers) {
      const Data_Block *found = search_block(*chain, std::to_string(n));
      ASSERT_NE(found, nullptr) << n;
      EXPECT_EQ(found->BlockKey, std::to_string(n));
      EXPECT_EQ(search_block(*chain, std::to_string(n + 10)), nullptr) << "beyond the end";
      EXPECT_EQ(search_block(*chain, std::to_string(-n)), nullptr) << "before the start";
    }
    EXPECT_EQ(insert_block(*chain, "3"), search_block(*chain, "3")) << "no second block 3";
    EXPECT_EQ(chain->BlockList.size(), 5u);
  }
}

// Symbols are found by a binary search over an index of the list; a list
// that is cleared without it is indexed anew.
TEST_F(KvxLists, SymbolsStaySortedWhateverTheOrderOfTheirKeys) {
  const std::vector<std::string> sorted = {"KVX_BinarySize", "Center_1", "Center_2", "Dim_1",
                                           "HS32C01",        "HS32C02",  "HS32Z01",  "Title"};
  const std::vector<std::vector<std::string>> orders = {
      sorted,
      {sorted.rbegin(), sorted.rend()},
      {"HS32Z01", "Title", "Center_2", "KVX_BinarySize", "HS32C02", "Dim_1", "HS32C01",
       "Center_1"}};
  Data_Chain *chain = insert_chain(file_, "Image.Psd");
  for (size_t n = 0; n < orders.size(); ++n) {
    SCOPED_TRACE(n);
    Data_Block *block = insert_block(*chain, std::to_string(n + 1));
    for (int round = 0; round < 2; ++round) {
      for (const std::string &key : orders[n]) insert_symbol(*block, key, key + "=" + "v");
      std::vector<std::string> keys;
      for (const Symbol_Element &symbol : block->SymbolList) keys.push_back(symbol.Key);
      EXPECT_EQ(keys, sorted) << "round " << round;
      for (const std::string &key : sorted) EXPECT_NE(search_symbol(*block, key), nullptr) << key;
      block->SymbolList.clear();  // behind the index's back
    }
    insert_symbol(*block, "B", "1");
    insert_symbol(*block, "A", "2");
    remove_symbol(*block, "b");
    ASSERT_EQ(block->SymbolList.size(), 1u);
    EXPECT_EQ(block->SymbolList.front().Key, "A");
    EXPECT_EQ(search_symbol(*block, "B"), nullptr);
  }
}

TEST_F(KvxLists, SymbolsSortReplaceAndRootInsert) {
  Data_Chain *chain = insert_chain(file_, "Image.Psd");
  Data_Block *block = insert_block(*chain, "1");
  insert_symbol(*block, "TitleA", "a");
  insert_symbol(*block, "Title~1", "b");
  insert_symbol(*block, "Title", "c");
  insert_symbol(*block, "KVX_DataKey-1", "d");
  insert_symbol(*block, "title", "e");  // replaces the value of "Title"
  insert_root_symbol(*block, "KVX_HeaderSize", "f");
  insert_root_symbol(*block, "KVX_BinarySize", "g");
  insert_root_symbol(*block, "KVX_HeaderSize", "h");  // moves to the head again
  std::vector<std::string> keys, values;
  for (const Symbol_Element &symbol : block->SymbolList) {
    keys.push_back(symbol.Key);
    values.push_back(symbol.Value);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"KVX_HeaderSize", "KVX_BinarySize", "KVX_DataKey-1",
                                            "Title", "Title~1", "TitleA"}));
  EXPECT_EQ(values, (std::vector<std::string>{"h", "g", "d", "e", "b", "a"}));
  EXPECT_EQ(search_symbol(*block, "TITLE~1")->Value, "b");
  remove_symbol(*block, "titlea");
  EXPECT_EQ(search_symbol(*block, "TitleA"), nullptr);
  remove_symbol(*block, "NotThere");
  EXPECT_EQ(block->SymbolList.size(), 5u);
}

TEST_F(KvxLists, LongKeysAreCutWithOneWarning) {
  Data_Chain *chain = insert_chain(file_, "Image.Psd");
  Data_Block *block = insert_block(*chain, "1");
  const std::string key = std::string(64, 'K') + "tail00";
  ::testing::internal::CaptureStderr();
  Symbol_Element *symbol = insert_symbol(*block, key, "v");
  std::string warning = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(symbol->Key, std::string(64, 'K'));
  EXPECT_EQ(
      warning,
      "\nWARNING: The length 70 | 70 of "
      "KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKtail00... exceeds 64\n");
}

// A chain that goes takes every pointer of the file to its blocks with it,
// the selection of the header calls included; the end of its last block
// stays where the next block is appended, as its bytes stay in the file.
TEST_F(KvxLists, ARemovedChainLeavesNoPointerToItsBlocks) {
  Data_Chain *chain = insert_chain(file_, "Image.Psd");
  ASSERT_NE(chain, nullptr);
  Data_Block *block = insert_block(*chain, "1");
  ASSERT_NE(block, nullptr);
  block->TextPos = 512;
  block->TextLen = 1024;
  block->BinaryLen = 512;
  file_.ActiveBlock = file_.GeneralBlock = file_.LastBlockInFile = block;
  file_.SelectedBlock = block;
  remove_chain(file_, *chain);
  EXPECT_EQ(file_.ActiveBlock, nullptr);
  EXPECT_EQ(file_.SelectedBlock, nullptr) << "a new block at its address would be taken for it";
  EXPECT_EQ(file_.GeneralBlock, nullptr);
  EXPECT_EQ(file_.LastBlockInFile, nullptr);
  EXPECT_EQ(end_of_blocks(file_), 2048u);
}

TEST_F(KvxLists, ChainKeysFollowTheChainNumber) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "General"},     {1, "Image.Psd"},      {-1, "Image.Error"},
      {2, "Image.Psd.2"}, {-3, "Image.Error.3"}, {-2147483647 - 1, "Image.Error.2147483648"},
  };
  for (const auto &[number, key] : cases) {
    SCOPED_TRACE(number);
    EXPECT_EQ(chain_key(file_, number), key);
  }
  // A general block's definition takes precedence.
  file_.Flags.TemporaryFile = true;
  Data_Block *general = create_general_block(file_);
  ASSERT_NE(general, nullptr);
  insert_symbol(*general, "KVX_DataKey-2", "Scan.Psd");
  EXPECT_EQ(chain_key(file_, 2), "Scan.Psd");
  EXPECT_EQ(chain_key(file_, 1), "Image.Psd");
  EXPECT_STREQ(block_id(*general), "All.General");
}

TEST(KvxLimits, QueriesReportTheFixedLimits) {
  EXPECT_EQ(kvx_maxfiles(), 20);
  EXPECT_EQ(kvx_maxkeylen(), 64);
  EXPECT_EQ(kvx_maxvallen(), 512);
  EXPECT_EQ(kvx_maxlinlen(), 255);
  EXPECT_EQ(kvx_maxdatachains(), 20);
  EXPECT_EQ(kvx_buffersize(), 512);
  EXPECT_EQ(kvx_maxdimensions(), 512);
  EXPECT_STREQ(kvxio_version(), "kvxio : V2.39 Ardeny 2011-12-13 (E2.219)");
  EXPECT_STREQ(kvx_dataformat_version(), "2.40");
}

}  // namespace
