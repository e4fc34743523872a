#include "platform/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace charstack::text {
namespace {

TEST(IntValue, ReadsTheLeadingNumber) {
  EXPECT_EQ(intValue(" -12abc"), -12);
  EXPECT_EQ(intValue("+7"), 7);
  EXPECT_EQ(intValue("  42"), 42);
  EXPECT_EQ(intValue("\t\n\v\f\r 5"), 5);
  EXPECT_EQ(intValue("17\r"), 17);
  EXPECT_EQ(intValue("3 4"), 3);
}

TEST(IntValue, NoDigitsGivesZero) {
  EXPECT_EQ(intValue(""), 0);
  EXPECT_EQ(intValue("abc"), 0);
  EXPECT_EQ(intValue("-"), 0);
  EXPECT_EQ(intValue("+-3"), 0);
  EXPECT_EQ(intValue("- 3"), 0);
}

TEST(IntValue, SaturatesOutsideTheRange) {
  EXPECT_EQ(intValue("2147483647"), INT32_MAX);
  EXPECT_EQ(intValue("2147483648"), INT32_MAX);
  EXPECT_EQ(intValue("-2147483648"), INT32_MIN);
  EXPECT_EQ(intValue("-99999999999999999999"), INT32_MIN);
  EXPECT_EQ(intValue(std::string(500, '9')), INT32_MAX);
  EXPECT_EQ(intValue("00000000000000000000012"), 12);
}

TEST(Format, ExtremesPrintInFull) {
  EXPECT_EQ(formatLong(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(formatInt(INT32_MIN), "-2147483648");
}

TEST(Split, KeepsEmptyPiecesInOrder) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(split("a,,b", ","), (V{"a", "", "b"}));
  EXPECT_EQ(split("", ","), (V{""}));
  EXPECT_EQ(split("x\n", "\n"), (V{"x", ""}));
  EXPECT_EQ(split(",", ","), (V{"", ""}));
  EXPECT_EQ(split("1<>2<>3", "<>"), (V{"1", "2", "3"}));
  EXPECT_EQ(split("a<<>b", "<>"), (V{"a<", "b"}));
}

TEST(Utf8, ValidTextIsKept) {
  std::string text = "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
  EXPECT_TRUE(isValidUtf8(text));
  EXPECT_EQ(toValidUtf8(text), text);
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(contains(text, "\xE2\x82\xAC"));
  EXPECT_FALSE(contains(text, "xyz"));
}

TEST(Utf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  };
  std::vector<Case> cases = {
      {"a\x80" "b", "a" + r + "b"},                  // lone continuation byte
      {"\xC0\xAF", r + r},                           // overlong '/'
      {"\xE0\x80\xAF", r + r + r},                   // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},                   // surrogate D800
      {"\xF4\x90\x80\x80", r + r + r + r},           // above U+10FFFF
      {"\xF5\x80", r + r},                           // never a lead byte
      {"\xE2\x82", r},                               // truncated at the end
      {"\xE2\x82" "x", r + "x"},                     // truncated in the middle
      {"\xF0\x9F\x98" "\xC3\xA9", r + "\xC3\xA9"},   // truncated, then a valid letter
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(isValidUtf8(c.in)) << c.in;
    EXPECT_EQ(toValidUtf8(c.in), c.out) << c.in;
    EXPECT_TRUE(isValidUtf8(toValidUtf8(c.in)));
  }
}

}  // namespace
}  // namespace charstack::text
