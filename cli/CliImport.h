#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Reads an exported image back, strictly: the document must be an export of a version this tool
// knows, every key must be one it understands (once), every byte word two hexadecimal digits, and
// the kind and length must agree with the bytes. The image is built from the bytes, then every
// named field, language and string that differs from them is applied, so a hand edit takes effect.
// Whatever is refused throws TCliError 65 with the place in the document ("fields.vid").
class TCliImport {
public:
  // No export is anywhere near this large; a larger input is refused before it is parsed.
  static constexpr size_t kMaxSize = 64 * 1024;

  static std::vector<uint8_t> Bytes(std::string_view text);
};
