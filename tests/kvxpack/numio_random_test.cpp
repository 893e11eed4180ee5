// Random texts: the readers and the formatter must end every call with a
// value, a tail inside the text and a known error value, never a crash or
// a hang, and must leave no program behind.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "numio.h"

namespace {

// Pieces that the grammars react to, mixed with plain bytes.
const char *const Pieces[] = {
    "(",     ")",       "(double)", "(long int)", "(round)",    "+",          "-",   "*",
    "/",     "%",       "_",        "!",          "?",          ":",          "<",   "<=",
    "==",    "!=",      "&&",       "||",         ",",          ";",          " ",   "1",
    "0",     "2.5",     "1e308",    "1e-320",     ".",          "e",          "pi",  "mm",
    "inf",   "keV",     "sqrt(",    "pow(",       "gamma(",     "min(",       "pi(", "log(",
    "true",  "no",      "xyz(",     "_x",         "9999999999", "2147483647", "0x",  "abs(",
    "asin(", "degC2K(", "round("};

std::string random_text(std::mt19937 &rng, size_t pieces) {
  std::uniform_int_distribution<size_t> pick(0, std::size(Pieces) + 3);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string text;
  for (size_t i = 0; i < pieces; ++i) {
    const size_t p = pick(rng);
    if (p < std::size(Pieces)) {
      text += Pieces[p];
    } else {
      text += static_cast<char>(byte(rng));
    }
  }
  return text;
}

void expect_sound(const std::string &text, const char *tail, int errval) {
  ASSERT_NE(tail, nullptr);
  EXPECT_GE(tail, text.c_str());
  EXPECT_LE(tail, text.c_str() + text.size());
  EXPECT_GE(errval, 0);
  EXPECT_LE(errval, NumNoAccumulator);
}

TEST(NumRandomText, ReadersAlwaysEndSoundly) {
  std::mt19937 rng(20120411);  // fixed seed: reproducible failures
  std::uniform_int_distribution<size_t> length(0, 60);
  testing::internal::CaptureStderr();  // failed programs are listed there
  for (int round = 0; round < 20000; ++round) {
    const std::string text = random_text(rng, round % 100 == 0 ? 5000 : length(rng));
    SCOPED_TRACE(text);
    const char *tail = nullptr;
    int errval = -1;
    const double value = num_str2double(text.c_str(), &tail, &errval);
    expect_sound(text, tail, errval);
    if (errval != NumSuccess) {
      EXPECT_EQ(value, 0.0);
    }
    tail = nullptr;
    errval = -1;
    const long integer = num_str2long(text.c_str(), &tail, &errval);
    expect_sound(text, tail, errval);
    EXPECT_GE(integer, INT32_MIN);
    EXPECT_LE(integer, INT32_MAX);
    char buffer[32];
    errval = -1;
    const std::string unit = text.substr(0, 20);
    if (num_double2str(buffer, sizeof buffer, 1.5, unit.c_str(), 7, &errval)) {
      EXPECT_LT(std::strlen(buffer), sizeof buffer);
    }
    EXPECT_GE(errval, 0);
  }
  testing::internal::GetCapturedStderr();
  NumProg *left = nullptr;
  for (const char *name : {"str2double", "lvfactor", "lvfactor1"}) {
    numprog_search(name, &left);
    EXPECT_EQ(left, nullptr) << name;
  }
}

}  // namespace
