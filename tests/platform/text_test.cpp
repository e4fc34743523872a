#include "platform/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace charstack::text {
namespace {

TEST(IntValue, LeadingNumberNoDigitsAndSaturation) {
  // The leading number after white space and one sign; no digits give 0; out of range saturates.
  const std::pair<std::string, int32_t> cases[] = {
      {" -12abc", -12}, {"+7", 7}, {"\t\n\v\f\r 5", 5}, {"17\r", 17}, {"3 4", 3},
      {"", 0}, {"abc", 0}, {"-", 0}, {"+-3", 0}, {"- 3", 0},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"-99999999999999999999", INT32_MIN}, {std::string(500, '9'), INT32_MAX},
      {"00000000000000000000012", 12}};
  for (const auto& [in, out] : cases) EXPECT_EQ(intValue(in), out) << '"' << in << '"';
  EXPECT_EQ(formatLong(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(formatInt(INT32_MIN), "-2147483648");
}

TEST(Split, KeepsEmptyPiecesInOrder) {
  using V = std::vector<std::string_view>;
  const std::tuple<std::string_view, std::string_view, V> cases[] = {
      {"a,,b", ",", {"a", "", "b"}}, {"", ",", {""}}, {"x\n", "\n", {"x", ""}}, {",", ",", {"", ""}},
      {"1<>2<>3", "<>", {"1", "2", "3"}}, {"a<<>b", "<>", {"a<", "b"}}};
  for (const auto& [in, separator, out] : cases) EXPECT_EQ(split(in, separator), out) << in;
}

TEST(Utf8, ValidTextIsKeptAndEachMaximalInvalidSubpartBecomesOneReplacement) {
  const std::string valid = "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
  EXPECT_TRUE(isValidUtf8(valid));
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_EQ(toValidUtf8(valid), valid);
  EXPECT_TRUE(contains(valid, "\xE2\x82\xAC"));
  EXPECT_FALSE(contains(valid, "xyz"));

  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"a\x80" "b", "a" + r + "b"},                  // lone continuation byte
      {"\xC0\xAF", r + r},                           // overlong '/'
      {"\xE0\x80\xAF", r + r + r},                   // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},                   // surrogate D800
      {"\xF4\x90\x80\x80", r + r + r + r},           // above U+10FFFF
      {"\xF5\x80", r + r},                           // never a lead byte
      {"\xE2\x82", r},                               // truncated at the end
      {"\xE2\x82" "x", r + "x"},                     // truncated in the middle
      {"\xF0\x9F\x98" "\xC3\xA9", r + "\xC3\xA9"}};  // truncated, then a valid letter
  for (const auto& [in, out] : cases) {
    EXPECT_FALSE(isValidUtf8(in)) << in;
    EXPECT_EQ(toValidUtf8(in), out) << in;
  }
}

}  // namespace
}  // namespace charstack::text
