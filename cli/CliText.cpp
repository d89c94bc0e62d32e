#include "CliText.h"

#include "TextCodec.h"

#include <cstdio>

std::string TCliText::Utf16ToUtf8(const std::u16string& units) {
  return TTextCodec::Utf16ToUtf8(units);
}

bool TCliText::Utf8ToStored(std::string_view utf8, std::u16string& units, size_t* lacking) {
  bool valid = true;
  const std::u16string text = TTextCodec::Utf8ToUtf16(utf8, &valid);
  if (!valid) {
    return false;
  }
  units = TTextCodec::ThroughCp1252(text);
  if (lacking != nullptr) {
    *lacking = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] < 0xDC00 &&
                        text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
      if (pair || !TTextCodec::FitsCp1252(std::u16string_view(&text[i], 1))) {
        ++*lacking; // a pair is one character and becomes one '?'
      }
      i += pair ? 1 : 0;
    }
  }
  return true;
}

std::string TCliText::Hex2(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string TCliText::Address(uint32_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%03X", address);
  return text;
}
