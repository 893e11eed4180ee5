// Headers written from a remembered output order must be the bytes the
// symbol list gives.  The first image of a file is always written from its
// symbol list; an image that follows one of the same header calls is
// written from the remembered order.  Each row writes its image both ways
// and compares the two blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kvxio.h"
#include "kvxio_header_calls.h"
#include "kvxio_test_util.h"

namespace {

using kvxtest::Calls;
using kvxtest::written;

// The "HeaderID" of a block counts the blocks of its file.
std::string without_header_id(std::string block) {
  const size_t at = block.find("HeaderID = EH:");
  if (at != std::string::npos) block.replace(at + 14, 6, "######");
  return block;
}

TEST(KvxDraft, RememberedOrderGivesTheBytesOfTheSymbolList) {
  const Calls plain = {{"Title", "run 7"},  {"HS32C01", "12"}, {"Dummy", "-1"},
                       {"Center_1", "5.5"}, {"HMFrame", "3"},  {"Offset_1", "0"}};
  const Calls long_value = {{"Title", std::string(300, 'x')}, {"HMFrame", "3"}};
  const Calls wide = {
      {"=width", "0"}, {"Title", "a b c"}, {"=width", "20"}, {"Info", "d e f g h i j k l m n"}};
  struct Row {
    const char *name;
    Calls before;  // the image before, which leaves its order remembered
    Calls image;
  };
  const std::vector<Row> rows = {
      {"same calls", plain, plain},
      {"other calls", plain, {{"HMFrame", "3"}, {"Title", "x"}}},
      {"quoted values", {{"A", " lead"}, {"B", ""}}, {{"A", "trail "}, {"B", "\"q\""}}},
      {"key written twice", {{"Title", "a"}, {"Title", "b"}}, {{"Title", "a"}, {"Title", "b"}}},
      {"keys equal but for case",
       {{"Title", "a"}, {"TITLE", "b"}},
       {{"Title", "a"}, {"TITLE", "b"}}},
      {"value of several pieces", long_value, long_value},
      {"escaped value", {{"Title", "a;b"}}, {{"Title", "a;b"}}},
      {"continuation key first", {{"T~1", "b"}, {"T", "a"}}, {{"T~1", "b"}, {"T", "a"}}},
      {"format key", {{"KVX_Extra", "1"}, {"Z", "2"}}, {{"KVX_Extra", "1"}, {"Z", "2"}}},
      {"line width set within the header", wide, wide},
      {"key that the library removes", {{"DataValueOffset", "7"}}, {{"DataValueOffset", "7"}}},
  };
  for (size_t n = 0; n < rows.size(); ++n) {
    const Row &row = rows[n];
    SCOPED_TRACE(testing::Message() << "row " << n << ": " << row.name);
    const std::string alone = written("alone.kvx", {{2, row.image}});
    const std::string after = written("after.kvx", {{1, row.before}, {2, row.image}});
    ASSERT_GT(after.size(), alone.size());
    EXPECT_EQ(without_header_id(after.substr(after.size() - alone.size())),
              without_header_id(alone));
  }
}

}  // namespace
