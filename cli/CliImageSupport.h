#pragma once

#include "FileLock.h"
#include "HeaderMap.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TEEImage;
struct TCliContext;

// A string kind as the command line names it.
struct TCliStringKind {
  std::string_view name; // "manufacturer"
  uint8_t bit;           // its bit of the supported strings mask
};

// What the image commands share: loading with the right exit codes, saving, the names of string
// kinds and LANGIDs, and string text in both directions. The image work itself is TEEImage's.
class TCliImageSupport {
public:
  // The file as an image; TCliError 66 when it is missing or unreadable (checked first, since a
  // load reports that as an invalid image). The image may be invalid.
  static std::unique_ptr<TEEImage> Load(const std::string& path);
  // As Load, and TCliError 65 unless the image is valid.
  static std::unique_ptr<TEEImage> LoadValid(const std::string& path);
  // Why the image refused its last string change, for a message ("its descriptors overlap...").
  static std::string RefusalText(const TEEImage& image);
  // Saves (the image layer writes through a temporary file); TCliError 73 with the system's
  // reason on failure.
  static void Save(TEEImage& image, const std::string& path);
  // The lock an edit holds from reading the image file to replacing it, so that two edits of one
  // file at once both take effect; TCliError 75 when another process keeps it for the context's
  // whole wait.
  static std::unique_ptr<TFileLock> LockForEdit(const TCliContext& context,
                                                const std::string& path);
  // TCliError 65 unless the image's bytes, loaded afresh, still form a valid image: an edit must
  // never leave a file the hub would refuse.
  static void CheckStillValid(const TEEImage& image, const std::string& what);

  // Kind of a valid or invalid image's signature byte; nothing for an unknown signature.
  static std::optional<THeaderKind> KindOf(const TEEImage& image);
  static std::string SignatureText(uint8_t signature); // "0xD4"
  static bool HasStringArea(const TEEImage& image);    // a 0xD4 image

  static const std::vector<TCliStringKind>& StringKinds();
  static std::optional<uint8_t> ParseStringKind(std::string_view name);
  static std::string_view StringKindName(uint8_t bit);

  // "0x0409" or "0409" (one to four hex digits); nothing for anything else.
  static std::optional<uint16_t> ParseLangId(std::string_view text);
  static std::string FormatLangId(uint16_t langid); // "0x0409"
  static std::vector<uint16_t> Languages(const TEEImage& image);

  // The descriptor's text decoded from UTF-16 to UTF-8; nothing when there is no descriptor.
  static std::optional<std::string> ReadString(const TEEImage& image, uint16_t langid,
                                               uint8_t kind);
  // What a string became when it was stored: its text (UTF-8) and how many of the characters
  // given the 8-bit set lacked, each stored as '?'.
  struct TStored {
    std::string text;
    size_t lacking = 0;
  };
  // Stores UTF-8 text, converted to the window's 8-bit set ('?' for what it lacks), as the
  // descriptor. TCliError 65 for an empty text, a text of more than 126 characters, or a change
  // the image refuses (with its reason).
  static TStored StoreString(TEEImage& image, uint16_t langid, uint8_t kind, std::string_view utf8);
  // Says what was stored: the text on standard output, and on standard error how many
  // characters became '?'.
  static void ReportStored(const TCliContext& context, const TStored& stored);

  // Where the field lies in that kind: "8", "17.7" (bit 7 of byte 17), "7.hi" (high nibble).
  static std::string FieldOffsetText(const THeaderField& field, THeaderKind kind);
};
