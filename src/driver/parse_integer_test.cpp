#include "driver/parse_integer.h"

#include <gtest/gtest.h>

namespace ncrewrite {
namespace {

TEST(ParseInteger, ConvertsOrFallsBack) {
  struct Case {
    std::u16string_view text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {u"1", 1},           {u"+1", 1},          {u"01", 1},          {u"  1", 1},
      {u"$1", 1},          {u"x1", 1},          {u"X1", 1},          {u"0x1", 1},
      {u"0X01", 1},        {u"0x0001", 1},      {u"-$FFFFFFFF", 1},  {u"", 0},
      {u"0", 0},           {u"2", 2},           {u"-1", -1},         {u"1 ", 0},
      {u"\t1", 0},         {u"1.0", 0},         {u"one", 0},         {u"1 2", 0},
      {u"- 1", 0},         {u"-", 0},           {u"+", 0},           {u"$", 0},
      {u"x", 0},           {u"0x", 0},          {u"$-1", 0},         {u"+-1", 0},
      {u"2147483647", 2147483647},              {u"2147483648", 0},
      {u"-2147483648", -2147483647 - 1},        {u"-2147483649", 0},
      {u"$7FFFFFFF", 2147483647},               {u"$FFFFFFFF", -1},
      {u"$100000000", 0},  {u"$000000001", 1},  {u"$80000000", -2147483647 - 1},
      {u"-$80000000", -2147483647 - 1},         {u"$abcdef", 0xABCDEF},
      {u"99999999999999999999999", 0},          {u"00000000000000000000042", 42},
      {u"1\u0661", 0},     {u"\uff11", 0},      {u"0x1g", 0},        {u"12a", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseInteger(c.text, 0), c.expected)
        << std::string(c.text.begin(), c.text.end());
  }
  EXPECT_EQ(ParseInteger(u"junk", -7), -7);
  EXPECT_EQ(ParseInteger(u"", 5), 5);
}

}  // namespace
}  // namespace ncrewrite
