#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class TEEImage;

// What the configuration header bytes mean, as data: every field with its identifier, the control
// that shows it, where it lies in each image kind, how it is encoded and its caption per kind.

// The four image kinds, used as an index into the per-kind columns.
enum class THeaderKind : uint8_t { D0 = 0, D2 = 1, D3 = 2, D4 = 3 };
constexpr int kHeaderKindCount = 4;

// Kind of a signature byte; false for a signature that is none of the four.
bool HeaderKindOf(uint8_t signature, THeaderKind& kind);
// The signature byte of a kind (0xD0, 0xD2, 0xD3, 0xD4).
uint8_t SignatureOf(THeaderKind kind);

enum class TFieldEncoding : uint8_t {
  Byte,   // one byte, two hexadecimal digits
  Word16, // two bytes little-endian, four hexadecimal digits (high byte first)
  Nibble, // four bits of a byte (shift 4: high nibble, 0: low nibble), one hexadecimal digit
  Bit,    // one bit of a byte, one binary digit
};

// Where a field lies in one image kind. offset < 0: the kind has no such field.
struct TFieldPlace {
  int16_t offset = -1;
  uint8_t shift = 0;     // bit position of the field's lowest bit (Nibble and Bit)
  bool readOnly = false; // shown in this kind but not typed into (the 0xD4 "Reserved" bytes)
};

struct THeaderField {
  std::string_view id;      // lower-case, unique, stable: used by the command-line tool and JSON
  std::string_view control; // the control that shows the field ("VIDEdit")
  std::string_view group;   // the group control it belongs to ("CfgBits1Grp"), or empty
  TFieldEncoding encoding;
  uint8_t width; // in bits: 16, 8, 4 or 1
  bool editable; // false for fields that are never edited on the settings page
  TFieldPlace place[kHeaderKindCount];
  std::string_view caption[kHeaderKindCount]; // empty where the kind has no such field
};

// A group of fields shown together (the bit bytes, the port groups, the over-current timers).
struct THeaderGroup {
  std::string_view id;
  std::string_view control;        // "CfgBits1Grp"
  std::string_view caption;        // "Config Bits 1"
  int16_t tag;                     // the form's initial Tag: the 24-byte header offset
  int16_t place[kHeaderKindCount]; // the group's byte per kind, -1 where the kind lacks it
};

// Every header field, in the order of the header (bit fields from bit 7 to bit 0).
std::span<const THeaderField> HeaderFields();
std::span<const THeaderGroup> HeaderGroups();

// The field with that identifier, or nullptr.
const THeaderField* FindHeaderField(std::string_view id);
// The group with that identifier or control name, or nullptr.
const THeaderGroup* FindHeaderGroup(std::string_view idOrControl);

// True when the kind has the field and the settings page lets the user type into it there.
bool IsHeaderFieldEditable(const THeaderField& field, THeaderKind kind);

// The field's value in the image (bytes read with GetByte), for a kind that has the field.
uint32_t ReadHeaderField(const TEEImage& image, const THeaderField& field, THeaderKind kind);
// Stores the value (only the field's own bits change; the other bits of its byte are kept).
// False, changing nothing, when the kind has no such field or the value is wider than the field.
// A field that is not editable in the kind only "accepts" its current value (true, no write).
// A supported-strings bit of a 0xD4 image goes through SetSupportedStrings, which adds or
// removes the string descriptors; false when the image refused the change.
// True only when the image afterwards holds the value.
bool WriteHeaderField(TEEImage& image, const THeaderField& field, THeaderKind kind, uint32_t value);

// The window's text form: upper-case hexadecimal, zero-padded to the field's width; bits as
// "0"/"1".
std::string FormatHeaderField(const THeaderField& field, uint32_t value);
// Parses the window's text form (hexadecimal digits, or "0"/"1" for a bit). False for anything
// else, for an empty text, and for a value wider than the field.
bool ParseHeaderField(const THeaderField& field, std::string_view text, uint32_t& value);
