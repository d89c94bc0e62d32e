#include "CliImageSupport.h"

#include "CliContext.h"
#include "CliError.h"
#include "CliFiles.h"
#include "CliSuggest.h"
#include "CliText.h"
#include "Eeimage.h"
#include "FileLock.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace {

constexpr int kMaxStringUnits = 126; // bLength is one byte: 2 + 2 * 126 = 254

} // namespace

std::unique_ptr<TEEImage> TCliImageSupport::Load(const std::string& path) {
  TCliFiles::RequireRegularFile(path);
  return std::make_unique<TEEImage>(path);
}

std::unique_ptr<TEEImage> TCliImageSupport::LoadValid(const std::string& path) {
  std::unique_ptr<TEEImage> image = Load(path);
  if (!image->IsValid()) {
    throw TCliError(cliexit::kData, path + ": not a valid image");
  }
  return image;
}

void TCliImageSupport::Save(TEEImage& image, const std::string& path) {
  int error = 0;
  if (!image.SaveToFile(path, &error)) {
    throw TCliError(cliexit::kCantCreate, TCliFiles::CannotWrite(path, error));
  }
}

std::unique_ptr<TFileLock> TCliImageSupport::LockForEdit(const TCliContext& context,
                                                         const std::string& path) {
  auto lock = std::make_unique<TFileLock>();
  switch (lock->Acquire(path, context.lockWait)) {
  case TFileLock::TResult::Busy:
    throw TCliError(cliexit::kTempFail, path + " is being changed by another process");
  case TFileLock::TResult::Failed:
    // A file that cannot even be opened for reading fails the load with its own message.
  case TFileLock::TResult::Nothing:
  case TFileLock::TResult::Locked:
    break;
  }
  return lock;
}

std::string TCliImageSupport::RefusalText(const TEEImage& image) {
  const TStringOutcome& outcome = image.LastStringOutcome();
  switch (outcome.FReason) {
  case TStringRefusal::NoRoom:
    return "no room in the 512-byte image: the change needs " + std::to_string(outcome.FNeeded) +
           " more bytes, " + std::to_string(outcome.FFree) + " are free";
  case TStringRefusal::UnsoundLayout:
    return "the image's string descriptors overlap partly or lie out of place, and such an image "
           "is not edited";
  case TStringRefusal::NoStringArea:
    return "the image has no string area (only a valid 0xD4 image has)";
  case TStringRefusal::NoLanguage:
    return "the image has no such language";
  case TStringRefusal::KindNotCarried:
    return "the image does not carry that string kind";
  case TStringRefusal::BadDescriptor:
    return "the descriptor would not be a valid string";
  case TStringRefusal::TooManyLanguages:
    return "more than 255 languages cannot be stored";
  case TStringRefusal::OutOfMemory:
    return "out of memory";
  case TStringRefusal::NoLanguageList:
  case TStringRefusal::ShiftOutsideImage:
  case TStringRefusal::None:
    break;
  }
  return "the image refused the change";
}

void TCliImageSupport::CheckStillValid(const TEEImage& image, const std::string& what) {
  std::vector<uint8_t> bytes(TEEImage::kBufferSize, 0);
  image.CopyTo(bytes.data(), image.GetLength());
  TEEImage fresh(bytes.data(), static_cast<int32_t>(image.GetLength()));
  if (!fresh.IsValid()) {
    throw TCliError(cliexit::kData, what + " would leave an invalid image; nothing was written");
  }
}

std::optional<THeaderKind> TCliImageSupport::KindOf(const TEEImage& image) {
  THeaderKind kind{};
  if (image.GetLength() == 0 || !HeaderKindOf(image.GetByte(0), kind)) {
    return std::nullopt;
  }
  return kind;
}

std::string TCliImageSupport::SignatureText(uint8_t signature) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", signature);
  return text;
}

bool TCliImageSupport::HasStringArea(const TEEImage& image) {
  return image.GetLength() > 0 && image.GetByte(0) == 0xD4;
}

const std::vector<TCliStringKind>& TCliImageSupport::StringKinds() {
  static const std::vector<TCliStringKind> kinds = {
      {"manufacturer", TEEImage::kManufacturer}, {"product", TEEImage::kProduct},
      {"serial", TEEImage::kSerialNumber},       {"config-fs", TEEImage::kConfigFS},
      {"config-hs", TEEImage::kConfigHS},        {"interface0", TEEImage::kInterface0},
      {"interface1", TEEImage::kInterface1},     {"reserved", TEEImage::kReserved},
  };
  return kinds;
}

std::optional<uint8_t> TCliImageSupport::ParseStringKind(std::string_view name) {
  const std::string lower = TCliSuggest::Lower(name);
  for (const TCliStringKind& kind : StringKinds()) {
    if (kind.name == lower) {
      return kind.bit;
    }
  }
  return std::nullopt;
}

std::string_view TCliImageSupport::StringKindName(uint8_t bit) {
  for (const TCliStringKind& kind : StringKinds()) {
    if (kind.bit == bit) {
      return kind.name;
    }
  }
  return {};
}

std::optional<uint16_t> TCliImageSupport::ParseLangId(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 4) {
    return std::nullopt;
  }
  uint16_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = static_cast<uint16_t>((value << 4) | digit);
  }
  return value;
}

std::string TCliImageSupport::FormatLangId(uint16_t langid) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", langid);
  return text;
}

std::vector<uint16_t> TCliImageSupport::Languages(const TEEImage& image) {
  std::vector<uint16_t> langids(image.GetLanguageCount());
  if (!langids.empty() && !image.GetLanguages(langids.data(), image.GetLanguageCount())) {
    langids.clear();
  }
  return langids;
}

namespace {

// Where the descriptor of (langid, kind) begins in a 0xD4 image; nothing when it has none.
std::optional<uint32_t> DescriptorOffset(const TEEImage& image, uint16_t langid, uint8_t kind) {
  const uint32_t languages = image.GetLanguageCount();
  const uint8_t mask = image.GetSupportedStrings();
  if ((mask & kind) == 0) {
    return std::nullopt;
  }
  const uint32_t row =
      static_cast<uint32_t>(std::popcount(static_cast<uint8_t>(mask & (kind - 1))));
  const auto read16 = [&image](uint32_t at) {
    return static_cast<uint32_t>(image.GetByte(static_cast<int32_t>(at)) |
                                 (image.GetByte(static_cast<int32_t>(at + 1)) << 8));
  };
  for (uint32_t j = 0; j < languages; ++j) {
    if (read16(24 + 2 * j) == langid) {
      return read16(24 + 2 * languages + 2 * (row * languages + j));
    }
  }
  return std::nullopt;
}

} // namespace

std::optional<std::string> TCliImageSupport::ReadString(const TEEImage& image, uint16_t langid,
                                                        uint8_t kind) {
  const uint8_t length = image.GetStringLength(langid, kind);
  const auto offset = DescriptorOffset(image, langid, kind);
  if (length == 0 || !offset) {
    return std::nullopt;
  }
  std::vector<uint8_t> descriptor(length, 0);
  descriptor[0] = length;
  if (!image.GetStringDescriptor(langid, kind, descriptor.data())) {
    return std::nullopt;
  }
  // Only the image's own bytes: in an image whose descriptors overlap, the last one may reach
  // past the image's length, into bytes that are not saved with it.
  const uint32_t end = std::min<uint32_t>(*offset + length, image.GetLength());
  descriptor.resize(end > *offset ? end - *offset : 0);
  std::u16string units;
  for (size_t i = 2; i + 1 < descriptor.size(); i += 2) {
    units += static_cast<char16_t>(descriptor[i] | (descriptor[i + 1] << 8));
  }
  return TCliText::Utf16ToUtf8(units);
}

TCliImageSupport::TStored TCliImageSupport::StoreString(TEEImage& image, uint16_t langid,
                                                        uint8_t kind, std::string_view utf8) {
  if (image.GetStringLength(langid, kind) == 0) {
    throw TCliError(cliexit::kData, "the image has no " + std::string(StringKindName(kind)) +
                                        " string for language " + FormatLangId(langid));
  }
  std::u16string units;
  TStored stored;
  if (!TCliText::Utf8ToStored(utf8, units, &stored.lacking)) {
    throw TCliError(cliexit::kData, "the text is not valid UTF-8");
  }
  if (units.empty()) {
    throw TCliError(cliexit::kData, "an empty string cannot be stored");
  }
  if (units.size() > kMaxStringUnits) {
    throw TCliError(cliexit::kData, "the text is longer than 126 characters");
  }
  std::vector<uint8_t> descriptor;
  descriptor.push_back(static_cast<uint8_t>(2 + 2 * units.size()));
  descriptor.push_back(3);
  for (const char16_t unit : units) {
    descriptor.push_back(static_cast<uint8_t>(unit & 0xFF));
    descriptor.push_back(static_cast<uint8_t>(unit >> 8));
  }
  if (!image.SetStringDescriptor(langid, kind, descriptor.data())) {
    throw TCliError(cliexit::kData, "the string cannot be stored: " + RefusalText(image));
  }
  stored.text = TCliText::Utf16ToUtf8(units);
  return stored;
}

void TCliImageSupport::ReportStored(const TCliContext& context, const TStored& stored) {
  context.out << stored.text << "\n";
  if (stored.lacking > 0) {
    context.err << "korvane-cli: " << stored.lacking
                << (stored.lacking == 1 ? " character is" : " characters are")
                << " not in the 8-bit character set and became '?'\n";
  }
}

std::string TCliImageSupport::FieldOffsetText(const THeaderField& field, THeaderKind kind) {
  const TFieldPlace& place = field.place[static_cast<int>(kind)];
  if (place.offset < 0) {
    return "-";
  }
  std::string text = std::to_string(place.offset);
  if (field.encoding == TFieldEncoding::Bit) {
    text += '.';
    text += std::to_string(place.shift);
  } else if (field.encoding == TFieldEncoding::Nibble) {
    text += place.shift == 4 ? ".hi" : ".lo";
  }
  return text;
}
