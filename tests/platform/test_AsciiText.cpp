// The ASCII text helpers at their edges: bytes above 127 (negative as char),
// control bytes at the ends, empty texts.
#include "platform/AsciiText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace std::string_literals;

TEST(AsciiText, TrimDropsBlanksAndControlBytesOnlyAtTheEnds) {
  EXPECT_EQ(ascii::Trim(" \t\r\n\x01\x1f a b \x00\x0b "s), "a b");
  // DEL and bytes above 127 are text, not blanks.
  EXPECT_EQ(ascii::Trim("\x7fx\xa0"), "\x7fx\xa0");
  EXPECT_EQ(ascii::Trim("\xc3\xa9 "), "\xc3\xa9");
  EXPECT_EQ(ascii::Trim(""), "");
  EXPECT_EQ(ascii::Trim(" \x00\t"s), "");
}

TEST(AsciiText, TrimSpacesKeepsOtherControlBytes) {
  EXPECT_EQ(ascii::TrimSpaces(" \t\v\f\r\nv\n"), "v");
  EXPECT_EQ(ascii::TrimSpaces("\x01v\x1f"), "\x01v\x1f");
  EXPECT_EQ(ascii::TrimSpaces("\xa0v\x85"), "\xa0v\x85");
  EXPECT_EQ(ascii::TrimSpaces(" \t "), "");
}

TEST(AsciiText, CaseFoldsAsciiLettersOnly) {
  // The bytes next to the letter ranges, and Latin-1 and UTF-8 letters.
  EXPECT_EQ(ascii::Lower("@AZ[`az{\xc9\xc3\x89"), "@az[`az{\xc9\xc3\x89");
  EXPECT_EQ(ascii::Upper("@AZ[`az{\xe9\xc3\xa9"), "@AZ[`AZ{\xe9\xc3\xa9");
  EXPECT_TRUE(ascii::EqualNoCase("Content-LENGTH", "content-length"));
  EXPECT_FALSE(ascii::EqualNoCase("\xc9", "\xe9"));
  EXPECT_FALSE(ascii::EqualNoCase("@", "`"));
  EXPECT_FALSE(ascii::EqualNoCase("ab", "abc"));
  EXPECT_TRUE(ascii::EqualNoCase("", ""));
  EXPECT_TRUE(ascii::StartsNoCase("HTTP://x", "http://"));
  EXPECT_FALSE(ascii::StartsNoCase("http:", "http://"));
  EXPECT_TRUE(ascii::StartsNoCase("", ""));
  EXPECT_FALSE(ascii::StartsNoCase("", "h"));
}

TEST(AsciiText, DigitsAndHexDigits) {
  EXPECT_TRUE(ascii::AllDigits("0123456789"));
  EXPECT_FALSE(ascii::AllDigits(""));
  EXPECT_FALSE(ascii::AllDigits("12 "));
  EXPECT_FALSE(ascii::AllDigits("+1"));
  EXPECT_FALSE(ascii::AllDigits("\xb9"));  // superscript one in Latin-1
  EXPECT_EQ(ascii::HexValue('0'), 0);
  EXPECT_EQ(ascii::HexValue('9'), 9);
  EXPECT_EQ(ascii::HexValue('a'), 10);
  EXPECT_EQ(ascii::HexValue('F'), 15);
  for (char c : std::string_view("/:@G`g \xe1")) EXPECT_EQ(ascii::HexValue(c), -1) << int(c);
}
