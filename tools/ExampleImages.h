#pragma once

#include "Eeimage.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Example images of every kind, built only through the image's own operations, so that a
// newcomer (and the tests) have images to open without a hub and without outside files.

// One string of the two-language 0xD4 example: the text each kind holds per LANGID.
struct TExampleString {
  uint16_t langid;
  uint8_t kind;          // one bit of the supported strings mask
  std::string_view text; // UTF-8
};

struct TExampleImage {
  std::string fileName;
  std::unique_ptr<TEEImage> image;
};

std::unique_ptr<TEEImage> MakeExampleD0();
std::unique_ptr<TEEImage> MakeExampleD2();
std::unique_ptr<TEEImage> MakeExampleD3();
// LANGIDs 0x0409 and 0x0407, mask 0x7F, a distinct text in every string (ExampleD4Strings).
std::unique_ptr<TEEImage> MakeExampleD4();
// LANGID 0x0409 only, with manufacturer, product and serial number.
std::unique_ptr<TEEImage> MakeExampleD4Single();

// The texts of MakeExampleD4; the serial number is listed once, under 0x0409, and shared.
std::span<const TExampleString> ExampleD4Strings();

// All examples with their file names. Throws std::runtime_error if the image refuses a step.
std::vector<TExampleImage> MakeExampleImages();

// One line of kind, length, languages and strings mask, then one line per string.
std::string DescribeImage(const TEEImage& image);

// Writes every example into `folder` (created when missing) and the summary of each to `out`.
// Problems go to `err`; false when any file could not be written.
bool WriteExampleImages(const std::string& folder, std::ostream& out, std::ostream& err);

enum class TEepromResult { Created, Exists, Failed };
constexpr uint32_t kExampleEepromSize = 512;
// The 0xD4 example padded with 0xFF to a 512-byte EEPROM file, for the simulated hub.
std::vector<uint8_t> ExampleEepromBytes();
// Creates the file only when nothing exists at `path`; an existing file is never touched.
TEepromResult CreateExampleEeprom(const std::string& path);
