#include "Eeimage.h"

#include "ByteBlock.h"
#include "ImageFile.h"
#include "StringTable.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint8_t kSignatureD0 = 0xD0;
constexpr uint8_t kSignatureD2 = 0xD2;
constexpr uint8_t kSignatureD3 = 0xD3;
constexpr uint8_t kSignatureD4 = 0xD4;
constexpr uint32_t kHeaderD0 = 7;
constexpr uint32_t kHeaderD2 = 13;
constexpr uint32_t kHeaderD4 = 24;
constexpr uint32_t kLanguageCount = 20;
constexpr uint32_t kSupportedStrings = 21;

uint16_t Read16(const uint8_t* data, uint32_t at) {
  return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
}

} // namespace

TEEImage::TOutOfMemoryHook TEEImage::FOutOfMemoryHook = nullptr;

void TEEImage::SetOutOfMemoryHook(TOutOfMemoryHook hook) {
  FOutOfMemoryHook = hook;
}

void TEEImage::ReportOutOfMemory(bool fatal) {
  if (FOutOfMemoryHook != nullptr) {
    FOutOfMemoryHook(fatal);
  }
}

TEEImage::TEEImage(const std::string& path) {
  FValid = LoadFromFile(path);
}

TEEImage::TEEImage(const uint8_t* bytes, int32_t count) {
  FValid = LoadFromBuffer(bytes, count);
}

TEEImage::~TEEImage() {
  TByteBlock::Free(FData);
}

bool TEEImage::LoadFromBuffer(const uint8_t* bytes, int32_t count) {
  // Only the first 512 bytes can be held; a negative count supplies nothing.
  const uint32_t supplied =
      bytes == nullptr ? 0 : static_cast<uint32_t>(std::clamp<int32_t>(count, 0, kBufferSize));
  FValid = false;
  if (FData == nullptr) {
    FData = TByteBlock::Allocate(kBufferSize);
    if (FData == nullptr) {
      FCapacity = 0;
      FLength = 0;
      ReportOutOfMemory(true);
      return false;
    }
  } else {
    std::memset(FData, 0, kBufferSize);
  }
  FCapacity = kBufferSize;
  FLength = supplied;
  if (supplied > 0) {
    std::memcpy(FData, bytes, supplied);
  }
  switch (FData[0]) {
  case kSignatureD0:
    FLength = FCapacity = kHeaderD0;
    FValid = true;
    break;
  case kSignatureD2:
    FLength = FCapacity = kHeaderD2;
    FValid = true;
    break;
  case kSignatureD3:
    FLength = FCapacity = kHeaderD4;
    FValid = true;
    break;
  case kSignatureD4:
    FValid = CheckStringArea();
    break;
  default:
    break;
  }
  return FValid;
}

bool TEEImage::CheckStringArea() {
  const uint32_t languages = FData[kLanguageCount];
  const uint8_t mask = FData[kSupportedStrings];
  const uint32_t rows = static_cast<uint32_t>(std::popcount(mask));
  if ((languages == 0) != (rows == 0)) {
    return false;
  }
  const uint32_t tablesEnd = kHeaderD4 + 2 * languages * (rows + 1);
  if (tablesEnd > kBufferSize) {
    return false;
  }
  FLength = tablesEnd;
  // The end of every descriptor header the check reads. A descriptor that begins just below the
  // end of the others may reach past it; the image then keeps those bytes too, or saved on its
  // own it would no longer pass this check.
  uint32_t headersEnd = tablesEnd;
  const bool serial = (mask & kSerialNumber) != 0;
  const uint32_t serialRow = static_cast<uint32_t>(std::popcount(static_cast<uint8_t>(mask & 3)));
  uint16_t serialAt = 0;
  const uint32_t entries = rows * languages;
  for (uint32_t k = 0; k < entries; ++k) {
    const uint32_t at = Read16(FData, kHeaderD4 + 2 * languages + 2 * k);
    if (at >= FCapacity) {
      return false;
    }
    if (serial && k / languages == serialRow) {
      if (k % languages == 0) {
        serialAt = static_cast<uint16_t>(at);
      } else if (at != serialAt) {
        return false;
      }
    }
    // Header and body of every descriptor must lie inside the 512 bytes.
    if (at + 4 > kBufferSize || FData[at + 1] != 3 || FData[at] < 4 || Read16(FData, at + 2) == 0 ||
        at + FData[at] > kBufferSize) {
      return false;
    }
    if (at >= FLength) {
      FLength = at + FData[at];
    }
    headersEnd = std::max(headersEnd, at + 4);
  }
  FLength = std::max(FLength, headersEnd);
  return true;
}

bool TEEImage::LoadFromFile(const std::string& path) {
  TImageFile file;
  switch (file.Read(path, kBufferSize)) {
  case TImageFile::TReadStatus::Read:
    return LoadFromBuffer(file.GetBytes(), static_cast<int32_t>(file.GetCount()));
  case TImageFile::TReadStatus::OutOfMemory:
    FValid = false;
    ReportOutOfMemory(true);
    return false;
  case TImageFile::TReadStatus::Unreadable:
    break;
  }
  FValid = false;
  return false;
}

bool TEEImage::SaveToFile(const std::string& path, int* error) {
  // Without a buffer there is nothing to save, and the chosen file stays as it is.
  if (FData == nullptr) {
    if (error != nullptr) {
      *error = 0;
    }
    return false;
  }
  return TImageFile::Write(path, FData, FLength, error);
}

bool TEEImage::IsValid() const {
  return FValid;
}

uint32_t TEEImage::GetLength() const {
  return FLength;
}

uint8_t TEEImage::GetByte(int32_t offset) const {
  if (FData == nullptr || offset < 0 || static_cast<uint32_t>(offset) >= kBufferSize) {
    return 0;
  }
  return FData[offset];
}

void TEEImage::SetByte(int32_t offset, uint8_t value) {
  if (FData != nullptr && offset >= 0 && static_cast<uint32_t>(offset) < kBufferSize) {
    FData[offset] = value;
  }
}

bool TEEImage::CopyTo(uint8_t* destination, uint32_t count) const {
  if (destination == nullptr) {
    return false;
  }
  const uint32_t copied = std::min(count, FCapacity);
  if (copied > 0) {
    std::memcpy(destination, FData, copied);
  }
  return true;
}

uint8_t TEEImage::GetLanguageCount() const {
  return GetByte(kLanguageCount);
}

uint8_t TEEImage::GetSupportedStrings() const {
  return GetByte(kSupportedStrings);
}

bool TEEImage::GetLanguages(uint16_t* destination, uint8_t room) const {
  const uint32_t languages = GetLanguageCount();
  if (languages > room || kHeaderD4 + 2 * languages > kBufferSize) {
    return false;
  }
  if (languages > 0 && destination == nullptr) {
    return false;
  }
  for (uint32_t j = 0; j < languages; ++j) {
    destination[j] = Read16(FData, kHeaderD4 + 2 * j);
  }
  return true;
}

const TStringOutcome& TEEImage::LastStringOutcome() const {
  return FStringOutcome;
}

bool TEEImage::ShiftTail(uint32_t position, int32_t delta) {
  if (FData == nullptr || !FValid) {
    FStringOutcome = {TStringRefusal::NoStringArea, 0, 0};
    return false;
  }
  // A failing shift changes nothing, so it can work on the image itself.
  TStringTable table(FData, FLength, FCapacity);
  const bool done = table.ShiftTail(position, delta);
  if (table.OutOfMemory()) {
    ReportOutOfMemory(false);
  }
  FLength = table.GetLength();
  FStringOutcome = table.Outcome();
  return done;
}

uint8_t TEEImage::GetStringLength(uint16_t langid, uint8_t kind) const {
  if (FData == nullptr) {
    return 0;
  }
  return TStringTable(FData, FLength, FCapacity).GetStringLength(langid, kind);
}

bool TEEImage::GetStringDescriptor(uint16_t langid, uint8_t kind, uint8_t* buffer) const {
  if (FData == nullptr) {
    return false;
  }
  return TStringTable(FData, FLength, FCapacity).GetStringDescriptor(langid, kind, buffer);
}

bool TEEImage::SetStringDescriptor(uint16_t langid, uint8_t kind, const uint8_t* descriptor) {
  if (FData == nullptr || !FValid) {
    FStringOutcome = {TStringRefusal::NoStringArea, 0, 0};
    return false;
  }
  // Only the shift can fail, and it fails before changing anything.
  TStringTable table(FData, FLength, FCapacity);
  const bool done = table.SetStringDescriptor(langid, kind, descriptor);
  if (table.OutOfMemory()) {
    ReportOutOfMemory(false);
  }
  FLength = table.GetLength();
  FStringOutcome = table.Outcome();
  return done;
}

template <typename TChange> bool TEEImage::ChangeOnCopy(TChange change) {
  if (!FValid) {
    FStringOutcome = {TStringRefusal::NoStringArea, 0, 0};
    return false;
  }
  TByteBlock copy(kBufferSize);
  if (!copy) {
    ReportOutOfMemory(false);
    FStringOutcome = {TStringRefusal::OutOfMemory, 0, 0};
    return false;
  }
  std::memcpy(copy.Get(), FData, kBufferSize);
  TStringTable table(copy.Get(), FLength, FCapacity);
  const bool done = change(table);
  FStringOutcome = table.Outcome();
  if (!done) {
    if (table.OutOfMemory()) {
      ReportOutOfMemory(false);
    }
    return false;
  }
  std::memcpy(FData, copy.Get(), kBufferSize);
  FLength = table.GetLength();
  return true;
}

bool TEEImage::SetSupportedStrings(uint8_t mask) {
  FStringOutcome = {};
  if (GetByte(0) != kSignatureD4) {
    return true; // no string area: nothing to change
  }
  if (mask == GetSupportedStrings()) {
    return true;
  }
  return ChangeOnCopy([mask](TStringTable& table) { return table.SetSupportedStrings(mask); });
}

bool TEEImage::SetLanguages(const uint16_t* langids, uint8_t count) {
  FStringOutcome = {};
  if (GetByte(0) != kSignatureD4) {
    return true; // no string area: nothing to change
  }
  return ChangeOnCopy(
      [langids, count](TStringTable& table) { return table.SetLanguages(langids, count); });
}
