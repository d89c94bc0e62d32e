#pragma once

#include "CliJson.h"

#include <string>

class TEEImage;

// The exported form of an image: named fields, languages, strings per language and the raw bytes,
// as one JSON document. Only the image's own bytes are read: a descriptor that reaches past the
// image's length is shown as far as the image goes. Text that has no faithful JSON form (a
// U+0000 in a descriptor) is left to the bytes, and so is every language whose LANGID an earlier
// language already has, so that importing an unedited export gives back the same bytes.
class TCliExport {
public:
  static constexpr const char* kFormat = "korvane-image";
  static constexpr int kVersion = 1;
  static constexpr int kBytesPerLine = 16;

  static TJson Document(const TEEImage& image);
  static std::string Text(const TEEImage& image);
};
