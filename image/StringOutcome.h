#pragma once

#include <cstdint>

// Why a change of the string area was refused. The changes themselves only answer yes or no;
// this tells a caller that reports to a person what stood in the way.
enum class TStringRefusal : uint8_t {
  None, // the change went through (or there was nothing to change)
  // No buffer, or an image that failed validation; for the string operations also any image that
  // is not 0xD4 (ShiftTail works on every valid image).
  NoStringArea,
  UnsoundLayout,     // tables or a descriptor out of place, or descriptors that overlap partly
  NoLanguage,        // the LANGID is not in the LANGID table
  KindNotCarried,    // the kind is not a single bit that the mask carries
  BadDescriptor,     // no descriptor, shorter than 4 bytes, not type 3, or an empty first character
  NoLanguageList,    // languages counted but no list given
  ShiftOutsideImage, // a shift from past the image's end, or one that would cut below byte 0
  NoRoom,            // the change would take the image past its capacity
  TooManyLanguages,  // more than 255 languages
  OutOfMemory,       // scratch memory could not be had
};

// The outcome of the last string area change of an image. FNeeded and FFree are set for NoRoom
// only: the net growth of the whole change and the bytes free before it (capacity minus length),
// so that FNeeded > FFree.
struct TStringOutcome {
  TStringRefusal FReason = TStringRefusal::None;
  uint32_t FNeeded = 0;
  uint32_t FFree = 0;

  bool operator==(const TStringOutcome&) const = default;
};
