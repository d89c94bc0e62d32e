#include "CliText.h"

#include "TextCodec.h"

std::string TCliText::Utf16ToUtf8(const std::u16string& units) {
  return TTextCodec::Utf16ToUtf8(units);
}

bool TCliText::Utf8ToStored(std::string_view utf8, std::u16string& units) {
  bool valid = true;
  const std::u16string text = TTextCodec::Utf8ToUtf16(utf8, &valid);
  if (!valid) {
    return false;
  }
  units = TTextCodec::ThroughCp1252(text);
  return true;
}
