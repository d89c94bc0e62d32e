#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text at the command line's edge: arguments and output are UTF-8, descriptors hold UTF-16.
class TCliText {
public:
  // UTF-16 units as UTF-8, without loss (an unpaired surrogate becomes U+FFFD).
  static std::string Utf16ToUtf8(const std::u16string& units);
  // UTF-8 text as the window stores it: through the 8-bit character set, '?' for what that set
  // lacks. False for text that is not UTF-8. `lacking`, when given, receives how many characters
  // became '?'.
  static bool Utf8ToStored(std::string_view utf8, std::u16string& units, size_t* lacking = nullptr);
  // A byte as two upper-case hexadecimal digits ("0A").
  static std::string Hex2(uint8_t value);
  // An image address as the tool reports it ("0x01F").
  static std::string Address(uint32_t address);
};
