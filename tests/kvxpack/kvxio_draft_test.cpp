// Headers written from a remembered output order must be the bytes the
// symbol list gives.  The first image of a file is always written from its
// symbol list; an image that follows one of the same header calls is
// written from the remembered order.  Each row writes its image both ways
// and compares the two blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
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

// Headers made at random: keys that each output group takes, continuation
// keys, values with every character that is stored escaped or that makes a
// value quoted, values long enough for continuation pieces, and line widths
// set within the header.  Half of the headers hold plain values and keys of
// their own, which are written from their log once their order is known;
// the others take the symbol list.  The seed and the number of rounds may
// be given by KVX_CODEC_SEED and KVX_CODEC_ROUNDS (see scripts/fuzz.sh).
class RandomHeaders {
 public:
  explicit RandomHeaders(unsigned seed) : random_(seed) {}

  Calls calls() {
    plain_ = pick(0, 1) == 0;
    Calls made = {{"=width", "0"}};
    std::set<std::string> keys;
    const int count = pick(1, 12);
    for (int n = 0; n < count; ++n) {
      if (!plain_ && pick(0, 4) == 0) made.emplace_back("=width", std::to_string(width()));
      std::string made_key = key();
      if (plain_ && !keys.insert(made_key).second) continue;
      made.emplace_back(made_key, value());
    }
    return made;
  }

  // The same keys with other values: the remembered order fits, the bytes
  // of the values do not come from the image before.
  Calls revalued(Calls calls) {
    for (auto &[key, value] : calls)
      if (key != "=width") value = this->value();
    return calls;
  }

  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

 private:
  template <typename List>
  const auto &any_of(const List &list) {
    return list[static_cast<size_t>(pick(0, static_cast<int>(std::size(list)) - 1))];
  }

  long width() {
    static constexpr long kWidths[] = {0, -1, 1, 2, 5, 20, 80, 300};
    return any_of(kWidths);
  }

  std::string key() {
    static const std::vector<std::string> kNamed = {
        "Title",   "Dim_1",   "Dummy",     "Offset_2", "Center_1", "HS32C01",   "HMFrame",
        "H",       "Time",    "KVX_Extra", "Detector", "Sample_x", "History-1", "ByteOrder",
        "Title~1", "Title~2", "zz",        "DataType", "Msensi",   "Zeta"};
    if (pick(0, 2) > 0) return any_of(kNamed);
    static constexpr std::string_view kChars = "abcXYZ019_-.~*";
    std::string made(static_cast<size_t>(pick(1, !plain_ && pick(0, 29) == 0 ? 70 : 8)), 'k');
    for (char &c : made) c = any_of(kChars);
    // The key of a plain header stands for one symbol of its own.
    if (plain_) std::replace(made.begin(), made.end(), '~', '_');
    return made;
  }

  std::string value() {
    // Plain text, white space and quotes (which make a value quoted), and
    // the characters that are stored escaped.
    static const std::vector<std::string> kPlain = {"a", "7", " ", "\"", "\t", "x y", "-1.5"};
    static const std::vector<std::string> kEscaped = {"{", "}", ";", "\\", "\r", "\n", "\r\n"};
    const int length = !plain_ && pick(0, 3) == 0 ? pick(200, 700) : pick(0, 12);
    std::string made;
    for (int n = 0; n < length; ++n)
      made += pick(0, 2) > 0 ? "a" : !plain_ && pick(0, 1) == 0 ? any_of(kEscaped) : any_of(kPlain);
    return made;
  }

  bool plain_ = true;
  std::mt19937 random_;
};

unsigned long from_environment(const char *name, unsigned long otherwise) {
  const char *text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::stoul(text) : otherwise;
}

TEST(KvxDraft, RandomHeadersGiveTheSameBytesBothWays) {
  unsigned seed = static_cast<unsigned>(from_environment("KVX_CODEC_SEED", 25));
  if (seed == 0) seed = std::random_device{}();
  const unsigned long rounds = from_environment("KVX_CODEC_ROUNDS", 60);
  RandomHeaders headers(seed);
  for (unsigned long round = 0; round < rounds; ++round) {
    const Calls image = headers.calls();
    const int kind = headers.pick(0, 2);
    const Calls before = kind == 0 ? image : kind == 1 ? headers.revalued(image) : headers.calls();
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", round " << round << ", kind " << kind);
    const std::string alone = written("alone.kvx", {{2, image}});
    const std::string after = written("after.kvx", {{1, before}, {2, image}});
    ASSERT_GT(after.size(), alone.size());
    ASSERT_EQ(without_header_id(after.substr(after.size() - alone.size())),
              without_header_id(alone));
  }
}

}  // namespace
