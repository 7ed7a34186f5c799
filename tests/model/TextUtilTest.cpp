#include <gtest/gtest.h>

#include <cerrno>

#include "model/TextUtil.h"

namespace velkor {
namespace {

// Only ASCII letters fold: UTF-8 bytes of Cyrillic names must reach comparisons unchanged,
// or "Ё" (D0 81) would turn into another letter's bytes.
TEST(TextUtil, AsciiLowerFoldsOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLower("AbZ09_@[`{"), "abz09_@[`{");
  EXPECT_EQ(AsciiLower("ПРИВЕТ Ёж"), "ПРИВЕТ Ёж");
  EXPECT_EQ(AsciiLower(std::string_view("A\0B", 3)), std::string("a\0b", 3));
}

struct EqualsCase {
  const char* a;
  const char* b;
  bool equal;
};

class EqualsIgnoreAsciiCaseTest : public testing::TestWithParam<EqualsCase> {};

TEST_P(EqualsIgnoreAsciiCaseTest, Compares) {
  const EqualsCase& c = GetParam();
  EXPECT_EQ(EqualsIgnoreAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  EXPECT_EQ(EqualsIgnoreAsciiCase(c.b, c.a), c.equal) << "symmetric";
}

INSTANTIATE_TEST_SUITE_P(Cases, EqualsIgnoreAsciiCaseTest,
                         testing::Values(EqualsCase{"Sum", "sUM", true}, EqualsCase{"", "", true},
                                         EqualsCase{"Sum", "Sums", false},
                                         EqualsCase{"Сумма", "сумма", false},
                                         EqualsCase{"Сумма", "Сумма", true},
                                         EqualsCase{"[", "{", false}));

TEST(TextUtil, TrimBlanksTakesControlCharacters) {
  EXPECT_EQ(TrimBlanks(" \t\r\n x y \x01"), "x y");
  EXPECT_EQ(TrimBlanks("   "), "");
}

TEST(TextUtil, ParseBoolWord) {
  bool value = false;
  EXPECT_TRUE(ParseBoolWord(" TRUE ", value));
  EXPECT_TRUE(value);
  EXPECT_TRUE(ParseBoolWord("fAlSe", value));
  EXPECT_FALSE(value);
  value = true;
  EXPECT_FALSE(ParseBoolWord("1", value));
  EXPECT_FALSE(ParseBoolWord("truth", value));
  EXPECT_TRUE(value) << "left alone when no word";
}

TEST(TextUtil, HexDigitValue) {
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('g'), -1);
  EXPECT_EQ(HexDigitValue('@'), -1);  // '@' | 0x20 is '`', no digit either
}

TEST(TextUtil, SystemErrorText) {
  EXPECT_FALSE(SystemErrorText(ENOENT).empty());
  EXPECT_NE(SystemErrorText(ENOENT), SystemErrorText(EACCES));
}

}  // namespace
}  // namespace velkor
