#pragma once

#include "StringOutcome.h"

#include <cstdint>
#include <string>

// The in-memory image of a hub's configuration EEPROM: a 512-byte buffer, the number of bytes
// that form the image, the limit of growth and whether the bytes passed validation.
//
// Signature byte (byte 0): 0xD0, 0xD2 and 0xD3 are fixed headers of 7, 13 and 24 bytes; 0xD4 is
// a 24-byte header followed by a LANGID table, a string offset table and string descriptors.
class TEEImage {
public:
  static constexpr uint32_t kBufferSize = 512;

  // String kinds, one bit each of the supported strings mask (byte 21).
  static constexpr uint8_t kManufacturer = 0x01;
  static constexpr uint8_t kProduct = 0x02;
  static constexpr uint8_t kSerialNumber = 0x04;
  static constexpr uint8_t kConfigFS = 0x08;
  static constexpr uint8_t kConfigHS = 0x10;
  static constexpr uint8_t kInterface0 = 0x20;
  static constexpr uint8_t kInterface1 = 0x40;
  static constexpr uint8_t kReserved = 0x80;

  // Called when memory cannot be had. `fatal` is true where the application is expected to show
  // "Out of memory" and end (a load), false where the operation only fails. The image layer
  // itself shows nothing; the application installs the hook.
  using TOutOfMemoryHook = void (*)(bool fatal);
  static void SetOutOfMemoryHook(TOutOfMemoryHook hook);

  explicit TEEImage(const std::string& path);
  TEEImage(const uint8_t* bytes, int32_t count);
  virtual ~TEEImage();

  TEEImage(const TEEImage&) = delete;
  TEEImage& operator=(const TEEImage&) = delete;

  bool LoadFromBuffer(const uint8_t* bytes, int32_t count);
  bool LoadFromFile(const std::string& path);
  // `error`, when given, receives the system's reason for a failure (0 when there was no buffer).
  bool SaveToFile(const std::string& path, int* error = nullptr);

  bool IsValid() const;
  uint32_t GetLength() const;
  uint8_t GetByte(int32_t offset) const;
  void SetByte(int32_t offset, uint8_t value);
  bool CopyTo(uint8_t* destination, uint32_t count) const;

  uint8_t GetLanguageCount() const;
  uint8_t GetSupportedStrings() const;
  bool GetLanguages(uint16_t* destination, uint8_t room) const;

  bool ShiftTail(uint32_t position, int32_t delta);
  uint8_t GetStringLength(uint16_t langid, uint8_t kind) const;
  bool GetStringDescriptor(uint16_t langid, uint8_t kind, uint8_t* buffer) const;
  bool SetStringDescriptor(uint16_t langid, uint8_t kind, const uint8_t* descriptor);
  bool SetSupportedStrings(uint8_t mask);
  bool SetLanguages(const uint16_t* langids, uint8_t count);
  // Why the last ShiftTail, SetStringDescriptor, SetSupportedStrings or SetLanguages failed;
  // None after one that returned true.
  const TStringOutcome& LastStringOutcome() const;

private:
  // The string area check of a 0xD4 image; leaves FLength as far as the check got.
  bool CheckStringArea();
  // Runs a change of the string area on a copy of the buffer and keeps the result only when the
  // change succeeds, so that a change that fails part-way leaves the image as it was.
  template <typename TChange> bool ChangeOnCopy(TChange change);
  static void ReportOutOfMemory(bool fatal);

  bool FValid = false;
  uint8_t* FData = nullptr;
  uint32_t FCapacity = 0;
  uint32_t FLength = 0;
  TStringOutcome FStringOutcome;

  static TOutOfMemoryHook FOutOfMemoryHook;
};
