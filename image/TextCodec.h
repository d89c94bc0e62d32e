#pragma once

#include <string>
#include <string_view>

// Text conversions for string descriptors. A descriptor's text is UTF-16; the window shows and
// takes it in Windows-1252, an 8-bit set, so only what that set can express survives being shown
// and stored again. The command-line tool speaks UTF-8.
class TTextCodec {
public:
  // The character that stands for what the other side cannot express.
  static constexpr char kDefaultChar = '?';

  // Every byte has a character: the five bytes the set leaves undefined (0x81, 0x8D, 0x8F, 0x90,
  // 0x9D) become the control characters U+0081, U+008D, U+008F, U+0090 and U+009D, as the
  // Windows ANSI conversion does, so that they survive a round trip.
  static std::u16string Cp1252ToUtf16(std::string_view bytes);
  // One byte per character; '?' for each character the set lacks (a surrogate pair, a lone
  // surrogate, any other code point). No best-fit substitutes ('A' for a macron A).
  static std::string Utf16ToCp1252(std::u16string_view text);
  // What a text becomes after being shown in the 8-bit set and stored again.
  static std::u16string ThroughCp1252(std::u16string_view text);
  // True when every character of the text has a byte in the set.
  static bool FitsCp1252(std::u16string_view text);

  // Invalid input (stray continuation bytes, overlong forms, encoded surrogates, values beyond
  // U+10FFFF, a truncated sequence) becomes U+FFFD for each maximal invalid part; `valid`, when
  // given, tells whether any such part was met.
  static std::u16string Utf8ToUtf16(std::string_view text, bool* valid = nullptr);
  // A lone surrogate becomes U+FFFD.
  static std::string Utf16ToUtf8(std::u16string_view text);
};
