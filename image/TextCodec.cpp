#include "TextCodec.h"

#include <cstdint>

namespace {

// Bytes 0x80-0x9F. Every other byte is its own code point (ISO 8859-1 over 0x00-0x7F, 0xA0-0xFF).
// The five holes of the set map to the C1 control of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The byte of a UTF-16 unit, or -1 when the set has none.
int ByteOf(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return unit;
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == unit)
      return 0x80 + i;
  }
  return -1;
}

void AppendUtf16(std::u16string& out, uint32_t codePoint) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<char16_t>(codePoint));
    return;
  }
  codePoint -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// Decodes one sequence at text[i]. Returns the number of bytes taken (at least 1) and sets
// codePoint, or returns the length of the maximal invalid part with ok = false.
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& codePoint, bool& ok) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  ok = false;
  if (lead < 0x80) {
    codePoint = lead;
    ok = true;
    return 1;
  }
  size_t count;
  uint8_t low = 0x80, high = 0xBF; // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0)
      low = 0xA0; // overlong
    if (lead == 0xED)
      high = 0x9F; // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0)
      low = 0x90; // overlong
    if (lead == 0xF4)
      high = 0x8F; // beyond U+10FFFF
  } else {
    return 1; // continuation byte, overlong lead C0/C1, or F5-FF
  }
  for (size_t k = 1; k < count; ++k) {
    if (i + k >= text.size())
      return k;
    const uint8_t next = byte(i + k);
    const uint8_t min = k == 1 ? low : 0x80;
    const uint8_t max = k == 1 ? high : 0xBF;
    if (next < min || next > max)
      return k;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  ok = true;
  return count;
}

} // namespace

std::u16string TTextCodec::Cp1252ToUtf16(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    text.push_back(byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : byte);
  }
  return text;
}

std::string TTextCodec::Utf16ToCp1252(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    // A pair is one character, so it yields one default character.
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
      ++i;
    const int byte = ByteOf(unit);
    bytes.push_back(byte < 0 ? kDefaultChar : static_cast<char>(byte));
  }
  return bytes;
}

std::u16string TTextCodec::ThroughCp1252(std::u16string_view text) {
  return Cp1252ToUtf16(Utf16ToCp1252(text));
}

bool TTextCodec::FitsCp1252(std::u16string_view text) {
  for (char16_t unit : text) {
    if (ByteOf(unit) < 0)
      return false;
  }
  return true;
}

std::u16string TTextCodec::Utf8ToUtf16(std::string_view text, bool* valid) {
  std::u16string out;
  out.reserve(text.size());
  bool allValid = true;
  size_t i = 0;
  while (i < text.size()) {
    uint32_t codePoint = 0;
    bool ok = false;
    i += DecodeUtf8(text, i, codePoint, ok);
    if (ok) {
      AppendUtf16(out, codePoint);
    } else {
      out.push_back(kReplacement);
      allValid = false;
    }
  }
  if (valid)
    *valid = allValid;
  return out;
}

std::string TTextCodec::Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800u) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}
