#pragma once

#include "StringOutcome.h"

#include <cstdint>

// The string area of a 0xD4 image, worked on in a buffer of at least 512 bytes that the caller
// owns: finding descriptors, moving the tail, and the changes of string kinds and languages.
//
// The changes trust nothing they have not checked: each one first makes sure the layout is sound
// (tables inside the image, every descriptor inside the image and behind the tables, descriptors
// either the same or apart), because an image can pass validation and still point an entry into
// the tables or into the middle of another descriptor, and editing such a layout would scramble it.
// A failed change may leave the buffer half done; TEEImage runs the changes on a copy. Every
// refusal records its reason; a change whose growth is known to fit never fails for room part-way,
// because its exact net growth is checked before anything moves.
class TStringTable {
public:
  TStringTable(uint8_t* data, uint32_t length, uint32_t capacity);

  uint32_t GetLength() const { return FLength; }
  // Why the last change failed; None after one that went through.
  const TStringOutcome& Outcome() const { return FOutcome; }
  // True when the last operation failed for want of scratch memory.
  bool OutOfMemory() const { return FOutcome.FReason == TStringRefusal::OutOfMemory; }

  // Byte position of the string offset table entry of (langid, kind), or -1 if there is none:
  // not a 0xD4 image, kind not a single bit carried by the mask, LANGID not in the table.
  // `reason`, when given, receives which of these it was.
  int32_t FindEntry(uint16_t langid, uint8_t kind, TStringRefusal* reason = nullptr) const;
  uint8_t GetStringLength(uint16_t langid, uint8_t kind) const;
  bool GetStringDescriptor(uint16_t langid, uint8_t kind, uint8_t* buffer) const;
  bool IsSound() const;

  bool ShiftTail(uint32_t position, int32_t delta);
  bool SetStringDescriptor(uint16_t langid, uint8_t kind, const uint8_t* descriptor);
  bool SetSupportedStrings(uint8_t mask);
  bool SetLanguages(const uint16_t* langids, uint8_t count);

private:
  uint16_t Read16(uint32_t at) const;
  void Write16(uint32_t at, uint16_t value);
  uint32_t LanguageCount() const { return FData[20]; }
  uint8_t Mask() const { return FData[21]; }
  bool LanguageInTable(uint16_t langid) const;
  bool Refuse(TStringRefusal reason);
  bool RefuseRoom(int64_t growth);
  bool AppendPlaceholder();
  // Bytes of the distinct descriptors that only the dropped entries (flags in storage order)
  // point at: what deleting those entries' descriptors frees.
  uint32_t FreedBytes(const bool* dropped) const;
  // Exact net growth of changing the mask, or of keeping `kept` languages and adding `adding`.
  int64_t KindsGrowth(uint8_t mask) const;
  int64_t LanguagesGrowth(const bool* keep, uint32_t kept, uint32_t adding) const;
  bool RemoveKind(uint8_t kind);
  bool AddKind(uint8_t kind);
  bool RemoveLanguages(const bool* keep);
  bool CompactTables(const bool* keep, uint32_t kept);
  bool AddLanguages(uint32_t kept, const uint16_t* added, uint32_t count);

  uint8_t* FData;
  uint32_t FLength;
  uint32_t FCapacity;
  TStringOutcome FOutcome;
};
