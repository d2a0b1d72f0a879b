#include "ui/cp1252.h"

#include <gtest/gtest.h>

namespace mfu {
namespace {

TEST(Cp1252, HighControlTableMatchesTheCodePage) {
  const char32_t expected[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(Cp1252ToCodePoint(static_cast<std::uint8_t>(0x80 + i)), expected[i]) << "byte 0x" << std::hex << 0x80 + i;
  }
}

TEST(Cp1252, LatinOneRangeIsIdentity) {
  EXPECT_EQ(Cp1252ToCodePoint(0x41), U'A');
  EXPECT_EQ(Cp1252ToCodePoint(0xA0), 0xA0u);
  EXPECT_EQ(Cp1252ToCodePoint(0xE4), U'ä');
  EXPECT_EQ(Cp1252ToCodePoint(0xF6), U'ö');
  EXPECT_EQ(Cp1252ToCodePoint(0xFC), U'ü');
  EXPECT_EQ(Cp1252ToCodePoint(0xDF), U'ß');
  EXPECT_EQ(Cp1252ToCodePoint(0xFF), U'ÿ');
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(Cp1252, UmlautsOfTheTextsAsUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("l\xE4uft gepr\xFC" "ft k\xF6nnen"), "läuft geprüft können");
  EXPECT_EQ(Utf8ToCp1252("läuft €"), "l\xE4uft \x80");
  EXPECT_EQ(Cp1252ToUtf16("\x80\x99"), u"€™");
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeTheReplacement) {
  EXPECT_EQ(Utf16ToCp1252(u"a\u0100b"), "a?b");
  EXPECT_EQ(Utf16ToCp1252(u"x\U0001F600y"), "x?y");       // a surrogate pair is one character
  EXPECT_EQ(Utf16ToCp1252(std::u16string(1, char16_t(0xD800))), "?");  // lone surrogate
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80", '#'), "#");
  EXPECT_EQ(Utf8ToCp1252("a\xFF" "b"), "a?b");             // not a lead byte
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");                  // cut sequence
  EXPECT_EQ(Utf8ToCp1252("\xE0\x80\x80"), "???");          // overlong
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");          // encoded surrogate
  std::uint8_t byte = 0;
  EXPECT_FALSE(CodePointToCp1252(0x2603, byte));
  EXPECT_TRUE(CodePointToCp1252(0x0178, byte));
  EXPECT_EQ(byte, 0x9F);
}

}  // namespace
}  // namespace mfu
