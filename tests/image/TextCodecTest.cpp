#include "TextCodec.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::string Byte(int value) {
  return std::string(1, static_cast<char>(value));
}

TEST(TextCodecTest, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += Byte(b);
  const std::u16string text = TTextCodec::Cp1252ToUtf16(all);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(std::set<char16_t>(text.begin(), text.end()).size(), 256u) << "two bytes share a unit";
  EXPECT_EQ(TTextCodec::Utf16ToCp1252(text), all);
  EXPECT_TRUE(TTextCodec::FitsCp1252(text));
}

TEST(TextCodecTest, ByteMeanings) {
  struct Case {
    int byte;
    char16_t unit;
  };
  const Case cases[] = {
      {0x00, 0x0000},
      {0x41, u'A'},
      {0x7F, 0x007F},
      {0x80, 0x20AC}, // euro sign
      {0x8A, 0x0160},
      {0x8C, 0x0152},
      {0x92, 0x2019},
      {0x96, 0x2013},
      {0x99, 0x2122},
      {0x9F, 0x0178},
      {0xA0, 0x00A0},
      {0xC4, 0x00C4},
      {0xE9, 0x00E9},
      {0xFF, 0x00FF},
      // the five holes of the set keep their value as C1 controls
      {0x81, 0x0081},
      {0x8D, 0x008D},
      {0x8F, 0x008F},
      {0x90, 0x0090},
      {0x9D, 0x009D},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TTextCodec::Cp1252ToUtf16(Byte(c.byte)), std::u16string(1, c.unit)) << c.byte;
    EXPECT_EQ(TTextCodec::Utf16ToCp1252(std::u16string(1, c.unit)), Byte(c.byte)) << c.byte;
  }
}

TEST(TextCodecTest, EveryMappedUnitRoundTripsAndTheRestBecomeTheDefault) {
  int mapped = 0;
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    const std::u16string unit(1, static_cast<char16_t>(u));
    const std::string bytes = TTextCodec::Utf16ToCp1252(unit);
    ASSERT_EQ(bytes.size(), 1u) << u;
    if (TTextCodec::Cp1252ToUtf16(bytes) == unit) {
      ++mapped;
      EXPECT_TRUE(TTextCodec::FitsCp1252(unit)) << u;
    } else {
      EXPECT_EQ(bytes, "?") << u;
      EXPECT_FALSE(TTextCodec::FitsCp1252(unit)) << u;
    }
  }
  EXPECT_EQ(mapped, 256);
}

TEST(TextCodecTest, UnmappableCharactersBecomeQuestionMarks) {
  struct Case {
    const char* what;
    std::u16string text;
    std::string bytes;
  };
  const Case cases[] = {
      {"Japanese", u"\u65E5\u672C", "??"},
      {"C1 control the set replaces", u"\u0080\u0082\u009F", "???"},
      {"no best fit for A with macron", u"\u0100x", "?x"},
      {"a surrogate pair is one character", u"a\U0001F600b", "a?b"},
      {"lone high surrogate", u"a\xD83D", "a?"},
      {"lone low surrogate", u"\xDE00z", "?z"},
      {"mixed", u"Gr\u00FC\u00DFe \u20AC \u4E2D",
       "Gr\xFC\xDF"
       "e \x80 ?"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TTextCodec::Utf16ToCp1252(c.text), c.bytes) << c.what;

  EXPECT_EQ(TTextCodec::ThroughCp1252(u"Hub \u65E5 \u00E9"), u"Hub ? \u00E9");
  EXPECT_EQ(TTextCodec::ThroughCp1252(u"plain"), u"plain");
}

TEST(TextCodecTest, Utf8RoundTrips) {
  const std::u16string text = u"Hub \u00E9\u20AC\u65E5\U0001F600 end";
  const std::string utf8 = TTextCodec::Utf16ToUtf8(text);
  EXPECT_EQ(utf8, "Hub \xC3\xA9\xE2\x82\xAC\xE6\x97\xA5\xF0\x9F\x98\x80 end");
  bool valid = false;
  EXPECT_EQ(TTextCodec::Utf8ToUtf16(utf8, &valid), text);
  EXPECT_TRUE(valid);
  EXPECT_EQ(TTextCodec::Utf8ToUtf16("", &valid), u"");
  EXPECT_TRUE(valid);
  // The edges of each sequence length.
  EXPECT_EQ(TTextCodec::Utf8ToUtf16("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"),
            u"\u007F\u0080\u07FF\u0800\uFFFF");
  EXPECT_EQ(TTextCodec::Utf8ToUtf16("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), u"\U00010000\U0010FFFF");
}

TEST(TextCodecTest, InvalidUtf8IsReplacedSafely) {
  struct Case {
    const char* what;
    std::string utf8;
    std::u16string text;
  };
  const Case cases[] = {
      {"stray continuation", "a\x80z", u"a\uFFFDz"},
      {"overlong lead C0", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three bytes", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"lead F5", "\xF5", u"\uFFFD"},
      {"truncated at the end", "ok\xE2\x82", u"ok\uFFFD"},
      {"truncated before ASCII",
       "\xE2\x82"
       "A",
       u"\uFFFDA"},
      {"truncated four-byte", "\xF0\x9F\x98", u"\uFFFD"},
      {"lone lead then lead", "\xC3\xC3\xA9", u"\uFFFD\u00E9"},
  };
  for (const Case& c : cases) {
    bool valid = true;
    EXPECT_EQ(TTextCodec::Utf8ToUtf16(c.utf8, &valid), c.text) << c.what;
    EXPECT_FALSE(valid) << c.what;
  }
}

TEST(TextCodecTest, LoneSurrogatesBecomeReplacementInUtf8) {
  EXPECT_EQ(TTextCodec::Utf16ToUtf8(u"a\xD83D"), "a\xEF\xBF\xBD");
  EXPECT_EQ(TTextCodec::Utf16ToUtf8(u"\xDE00"
                                    "b"),
            "\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(TTextCodec::Utf16ToUtf8(u"\xD83D\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

} // namespace
