#include "filename.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "kvxio_test_util.h"

namespace {

namespace fs = std::filesystem;

// An optional text: the expected result, or nullopt for "none".
using Expected = std::optional<std::string>;

std::string current_directory() {
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) : std::string();
}

std::string current_user_home() {
  const passwd *entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// Sets environment variables for one test and restores them afterwards.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto &[name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  void set(const std::string &name, const char *value) {
    if (saved_.count(name) == 0) {
      const char *old = std::getenv(name.c_str());
      saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value != nullptr) {
      setenv(name.c_str(), value, 1);
    } else {
      unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

std::optional<std::string> subst(const char *pattern, std::size_t buflen = 256) {
  std::string buffer(buflen + 1, '\x7f');
  const char *result = env_subst(buffer.data(), buflen, pattern);
  EXPECT_EQ(buffer[buflen], '\x7f') << "written past buflen";
  if (result == nullptr) return std::nullopt;
  EXPECT_EQ(result, buffer.data()) << "returns the caller's buffer";
  return std::string(result);
}

class EnvSubstTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", "/home/u");
    env_.set("HOMEx", nullptr);
    env_.set("D2V_ABC", "abc-value");
    env_.set("D2V_UNSET", nullptr);
    env_.set("D2V_DIR", "C:\\data");
  }
  ScopedEnvironment env_;
};

TEST_F(EnvSubstTest, ReferencesBracesAndHomeDirectories) {
  struct Case {
    const char *pattern;
    Expected expected;
  };
  const std::string home = current_user_home();
  const Case cases[] = {
      {"$HOME/data", "/home/u/data"},
      {"${HOME}x", "/home/ux"},
      {"$HOMEx", std::nullopt},
      {"$D2V_UNSET/x", std::nullopt},
      {"${D2V_UNSET}", std::nullopt},
      {"$/a", "$/a"},
      {"a$", "a$"},
      {"$$HOME", "$/home/u"},
      {"x$HOME$HOME", "x/home/u/home/u"},
      {"${D2V_{ABC}}/f", "abc-value/f"},
      {"${D2V_ABC", std::nullopt},
      {"$D2V_ABC}", std::nullopt},
      {"${D2V/ABC}", std::nullopt},
      {"{abc}", "abc"},
      {"{a{b}c}d", "abcd"},
      {"{}", ""},
      {"abc}", std::nullopt},
      {"{a/b}", std::nullopt},
      {"{a$b}", std::nullopt},
      {"{abc", std::nullopt},
      {"a~b", "a~b"},
      {"~/f", home + "/f"},
      {"~", home},
      {"{}~/f", home + "/f"},
      {"~root/f", "/root/f"},
      {"~{root}/f", "/root/f"},
      {"~d2v_no_such_user/f", std::nullopt},
      {"~{root/f", std::nullopt},
      {"${D2V_DIR}\\x", "C:\\data\\x"},
      {"$D2V_DIR\\x", std::nullopt},  // the backslash belongs to the name
      {"", ""},
      {nullptr, std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message()
                 << "case " << i << ": " << (cases[i].pattern ? cases[i].pattern : "(null)"));
    EXPECT_EQ(subst(cases[i].pattern), cases[i].expected);
  }
}

TEST_F(EnvSubstTest, NamesThatWouldBeCutFail) {
  const std::string long_value(300, 'v');
  env_.set("D2V_LONG", long_value.c_str());
  EXPECT_EQ(subst("$HOME/data", 13), "/home/u/data") << "exactly fits";
  EXPECT_EQ(subst("$HOME/data", 12), std::nullopt) << "one character short";
  EXPECT_EQ(subst("abcdef", 4), std::nullopt) << "plain text is not cut either";
  EXPECT_EQ(subst("$D2V_LONG", 260), std::nullopt) << "value beyond the buffer";
  EXPECT_EQ(subst("$D2V_LONG/x", 400), long_value + "/x");
  EXPECT_EQ(subst("", 1), "");
  EXPECT_EQ(subst("a", 1), "") << "buflen 1 does nothing and gives the empty text";
  EXPECT_EQ(subst("$D2V_UNSET", 1), "") << "not even a lookup";

  char buffer[4] = "xyz";
  EXPECT_EQ(env_subst(buffer, 0, "a"), nullptr) << "buflen 0 has no room for the terminator";
  EXPECT_STREQ(buffer, "xyz") << "buflen 0 writes nothing";

  const std::string long_name = "$" + std::string(300, 'N');
  EXPECT_EQ(subst(long_name.c_str(), 1000), std::nullopt) << "a cut variable name is not looked up";
}

TEST(EnvExtractTest, ExtentOfNamesAndReadingPosition) {
  struct Case {
    const char *text;
    std::size_t buflen;
    Expected name;
    std::size_t consumed;  // checked only on success
  };
  const Case cases[] = {
      {"abc/def", 16, "abc", 3},
      {"abc$def", 16, "abc", 3},
      {"abc", 16, "abc", 3},
      {"{ab}cd", 16, "ab", 4},
      {"{a{b}c}/", 16, "abc", 7},
      {"a{b}c{d}e", 16, "abcd", 8},
      {"a}b", 16, std::nullopt, 0},
      {"{ab", 16, std::nullopt, 0},
      {"{a/b}", 16, std::nullopt, 0},
      {"a{b}c}d", 16, std::nullopt, 0},
      {"abcd", 5, "abcd", 4},
      {"abcde", 5, std::nullopt, 0},
      {"{abcd}", 5, "abcd", 6},
      {"abc", 1, "", 0},
      {"", 16, "", 0},
      {"/x", 16, "", 0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << c.text);
    std::string buffer(c.buflen + 1, '\x7f');
    const char *position = c.text;
    const char *result = env_extract(buffer.data(), c.buflen, &position);
    EXPECT_EQ(buffer[c.buflen], '\x7f') << "written past buflen";
    EXPECT_EQ(result != nullptr, c.name.has_value());
    if (result != nullptr && c.name) {
      EXPECT_EQ(std::string(result), *c.name);
      EXPECT_EQ(static_cast<std::size_t>(position - c.text), c.consumed);
    }
  }
  char buffer[8];
  EXPECT_EQ(env_extract(buffer, sizeof buffer, nullptr), nullptr);
  const char *null_text = nullptr;
  EXPECT_EQ(env_extract(buffer, sizeof buffer, &null_text), nullptr);
}

TEST(FilenameParameterTest, CommaSeparatedFields) {
  struct Case {
    const char *pattern;
    int parno;
    std::size_t buflen;
    Expected field;
  };
  const std::string long_pattern = std::string(255, 'a') + ",12,3";  // field 1 crosses 259
  const std::string beyond = std::string(259, 'a') + ",1";           // field 1 beyond 259
  const Case cases[] = {
      {"file.dat,1,10,2", 0, 256, "file.dat"},
      {"file.dat,1,10,2", 1, 256, "1"},
      {"file.dat,1,10,2", 2, 256, "10"},
      {"file.dat,1,10,2", 3, 256, "2"},
      {"file.dat,1,10,2", 4, 256, std::nullopt},
      {"file.dat,1,10,2", -1, 256, std::nullopt},
      {"file.dat", 1, 256, std::nullopt},
      {"a,,b", 1, 256, ""},
      {"a,", 1, 256, ""},
      {"", 0, 256, ""},
      {"file.dat,1", 0, 5, "file"},
      {long_pattern.c_str(), 1, 256, "12"},
      {long_pattern.c_str(), 2, 256, ""},
      {long_pattern.c_str(), 3, 256, std::nullopt},
      {beyond.c_str(), 1, 256, std::nullopt},
      {nullptr, 0, 256, std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    std::string buffer(c.buflen + 1, '\x7f');
    const char *result = filename_parameter(buffer.data(), c.buflen, c.pattern, c.parno);
    EXPECT_EQ(buffer[c.buflen], '\x7f') << "written past buflen";
    EXPECT_EQ(result != nullptr ? Expected(result) : std::nullopt, c.field);
  }
}

TEST(FilenameHasPatternTest, PercentMarksAPattern) {
  EXPECT_EQ(filename_has_pattern("img%%%.kvx"), 1);
  EXPECT_EQ(filename_has_pattern("%"), 1);
  EXPECT_EQ(filename_has_pattern("img.kvx"), 0);
  EXPECT_EQ(filename_has_pattern(""), 0);
  EXPECT_EQ(filename_has_pattern(nullptr), 0);
}

TEST(FilenameUnixTest, SubstitutesKeepsFieldZeroAndTurnsBackslashes) {
  ScopedEnvironment env;
  env.set("HOME", "/home/u");
  struct Case {
    const char *pattern;
    Expected expected;
  };
  const Case cases[] = {
      {"dir\\sub\\name", "dir/sub/name"},
      {"${HOME}\\x.kvx,1,10,2", "/home/u/x.kvx"},
      {",1", ""},
      {"{a,b}", "a"},
      {"$D2V_NOT_SET_ANYWHERE", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern ? c.pattern : "(null)");
    char buffer[256];
    const char *result = filename_unix(buffer, sizeof buffer, c.pattern);
    EXPECT_EQ(result != nullptr ? Expected(result) : std::nullopt, c.expected);
  }
  char in_place[256] = "a\\b,3";
  ASSERT_NE(filename_unix(in_place, sizeof in_place, in_place), nullptr);
  EXPECT_STREQ(in_place, "a/b");
  char small[4];
  EXPECT_EQ(filename_unix(small, sizeof small, "abcd"), nullptr) << "never cut";
}

// A temporary directory tree (root/a/b, a file root/a/file.txt and a link
// root/link to root/a/b); the working directory is root/a during the test
// and restored afterwards.
class FilenameFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_cwd_ = current_directory();
    ASSERT_FALSE(saved_cwd_.empty());
    ASSERT_FALSE(scratch_.path().empty()) << "no scratch folder";
    root_ = fs::canonical(scratch_.path()).string();
    fs::create_directories(root_ + "/a/b");
    std::FILE *file = std::fopen((root_ + "/a/file.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    fs::create_directory_symlink(root_ + "/a/b", root_ + "/link");
    ASSERT_EQ(chdir((root_ + "/a").c_str()), 0);
  }
  void TearDown() override { EXPECT_EQ(chdir(saved_cwd_.c_str()), 0); }

  // filename_full into a buffer of buflen, checking the working directory
  // is unchanged and nothing is written past the buffer.
  Expected full(const char *pattern, std::size_t buflen = 256) {
    const std::string before = current_directory();
    std::string buffer(buflen + 1, '\x7f');
    const char *result = filename_full(buffer.data(), buflen, pattern);
    EXPECT_EQ(current_directory(), before) << "the working directory stays";
    EXPECT_EQ(buffer[buflen], '\x7f') << "written past buflen";
    return result != nullptr ? Expected(result) : std::nullopt;
  }

  std::string saved_cwd_;
  testsupport::ScratchDir scratch_{"d2v-filename"};
  std::string root_;
};

TEST_F(FilenameFullTest, ResolvesTheDirectoryPart) {
  ScopedEnvironment env;
  env.set("D2V_ROOT", root_.c_str());
  const std::string a = root_ + "/a";
  struct Case {
    std::string pattern;
    Expected expected;
  };
  const Case cases[] = {
      {"name", a + "/name"},
      {"b/name", a + "/b/name"},
      {"./b/../b/name", a + "/b/name"},
      {"../x", root_ + "/x"},
      {"/name", "/name"},
      {"//name", "/name"},
      {"/tmp/", fs::canonical("/tmp").string() + "/"},
      {"b/", a + "/b/"},
      {"b\\c.kvx,1,2", a + "/b/c.kvx"},
      {"$D2V_ROOT/link/f", a + "/b/f"},
      {"/dev/null", "/dev/null"},
      {"nodir/x", std::nullopt},
      {"file.txt/x", std::nullopt},
      {"$D2V_NOT_SET_ANYWHERE/x", std::nullopt},
      {"", a + "/"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].pattern);
    EXPECT_EQ(full(cases[i].pattern.c_str()), cases[i].expected);
  }
  EXPECT_EQ(full(nullptr), std::nullopt);
}

TEST_F(FilenameFullTest, ExpandsInPlace) {
  char name[256] = "b/../name.kvx";
  ASSERT_NE(filename_full(name, sizeof name, name), nullptr);
  EXPECT_EQ(std::string(name), root_ + "/a/name.kvx");
}

TEST_F(FilenameFullTest, ResultsThatWouldBeCutFail) {
  const std::string expected = root_ + "/a/name";
  EXPECT_EQ(full("name", expected.size() + 1), expected);
  EXPECT_EQ(full("name", expected.size()), std::nullopt);
  EXPECT_EQ(full("/dev/null", 9), std::nullopt);
  const std::string long_file(300, 'f');
  EXPECT_EQ(full(long_file.c_str(), 1000), std::nullopt) << "beyond the name limit";
}

TEST_F(FilenameFullTest, UnreadableWorkingDirectoryFails) {
  // Deep enough that the working directory exceeds the name limit.
  const std::string part(100, 'd');
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
    ASSERT_EQ(chdir(part.c_str()), 0);
  }
  EXPECT_EQ(full("name"), std::nullopt) << "working directory too long";
  EXPECT_EQ(full("/name"), std::nullopt) << "also for absolute names";
  ASSERT_EQ(chdir((root_ + "/a/b").c_str()), 0);

  ASSERT_EQ(mkdir("gone", 0755), 0);
  ASSERT_EQ(chdir("gone"), 0);
  ASSERT_EQ(rmdir((root_ + "/a/b/gone").c_str()), 0);
  EXPECT_EQ(full("name"), std::nullopt) << "deleted working directory";
  EXPECT_EQ(full("../name"), std::nullopt) << "deleted working directory";
}

TEST_F(FilenameFullTest, DirectoryThatCannotBeEnteredFails) {
  ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
  ASSERT_EQ(chmod("b", 0600), 0);
  // 1: a name beside the locked directory expands; 2: one inside it fails.
  const auto outcome = kvxtest::run_unprivileged([this] {
    if (!full("name")) return 1;
    return full("b/name") ? 2 : 0;
  });
  EXPECT_EQ(chmod("b", 0755), 0);
  if (!outcome) GTEST_SKIP() << "running as root, and the user 65534 cannot be taken on";
  EXPECT_EQ(*outcome, 0);
}

}  // namespace
