#pragma once

// Building images byte by byte for the image tests, and reading their tables back through the
// public byte access only, so that the tests do not share the code they check.

#include "ByteBlock.h"
#include "Eeimage.h"
#include "HeaderMap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testimages {

using TBytes = std::vector<uint8_t>;

inline void Put16(TBytes& bytes, uint32_t at, uint16_t value) {
  if (bytes.size() < at + 2) {
    bytes.resize(at + 2, 0);
  }
  bytes[at] = static_cast<uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// A string descriptor holding `text` (ASCII), header included.
inline TBytes Descriptor(const std::string& text) {
  TBytes out{static_cast<uint8_t>(2 + 2 * text.size()), 3};
  for (char c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

inline const TBytes kPlaceholder{4, 3, 0x20, 0};

inline void PutBytes(TBytes& bytes, uint32_t at, const TBytes& piece) {
  if (bytes.size() < at + piece.size()) {
    bytes.resize(at + piece.size(), 0);
  }
  std::copy(piece.begin(), piece.end(), bytes.begin() + at);
}

inline int Bits(uint8_t mask) {
  int n = 0;
  for (; mask != 0; mask &= static_cast<uint8_t>(mask - 1)) {
    ++n;
  }
  return n;
}

inline uint32_t TablesEnd(uint32_t languages, uint8_t mask) {
  return 24 + 2 * languages * (Bits(mask) + 1);
}

inline uint32_t EntryOffset(uint32_t languages, uint32_t row, uint32_t language) {
  return 24 + 2 * languages + 2 * (row * languages + language);
}

// A 0xD4 image in the making: header, LANGIDs and mask, entries pointing wherever a test says.
class TD4Builder {
public:
  TD4Builder(std::vector<uint16_t> langids, uint8_t mask) : FLangids(std::move(langids)) {
    FBytes.assign(24, 0);
    FBytes[0] = 0xD4;
    FBytes[1] = 0x51; // header bytes that no string operation may touch
    FBytes[19] = 0xA5;
    FBytes[20] = static_cast<uint8_t>(FLangids.size());
    FBytes[21] = mask;
    FBytes[22] = 0x5A;
    FBytes[23] = 0x77;
    for (size_t j = 0; j < FLangids.size(); ++j) {
      Put16(FBytes, static_cast<uint32_t>(24 + 2 * j), FLangids[j]);
    }
    FBytes.resize(TablesEnd(static_cast<uint32_t>(FLangids.size()), mask), 0);
  }

  uint32_t Languages() const { return static_cast<uint32_t>(FLangids.size()); }
  uint32_t End() const { return static_cast<uint32_t>(FBytes.size()); }

  // Places a descriptor `gap` bytes behind the current end and returns its position.
  uint16_t Append(const TBytes& descriptor, uint32_t gap = 0) {
    const uint32_t at = End() + gap;
    PutBytes(FBytes, at, descriptor);
    return static_cast<uint16_t>(at);
  }
  void PlaceAt(uint32_t at, const TBytes& descriptor) { PutBytes(FBytes, at, descriptor); }
  void Point(uint32_t row, uint32_t language, uint16_t at) {
    Put16(FBytes, EntryOffset(Languages(), row, language), at);
  }
  // Every entry of a row at one position (the serial number's way).
  void PointRow(uint32_t row, uint16_t at) {
    for (uint32_t j = 0; j < Languages(); ++j) {
      Point(row, j, at);
    }
  }
  TBytes& Bytes() { return FBytes; }

private:
  std::vector<uint16_t> FLangids;
  TBytes FBytes;
};

// The usual image: descriptors back to back behind the tables, row by row and language by
// language, the serial number once for all languages. Text of (row, language): "<row><lang>x".
inline TBytes PackedImage(const std::vector<uint16_t>& langids, uint8_t mask,
                          const std::string& suffix = "x") {
  TD4Builder b(langids, mask);
  const int serialRow = (mask & 4) != 0 ? Bits(mask & 3) : -1;
  for (int r = 0; r < Bits(mask); ++r) {
    if (r == serialRow) {
      if (!langids.empty()) {
        b.PointRow(r, b.Append(Descriptor("SN" + suffix)));
      }
      continue;
    }
    for (uint32_t j = 0; j < langids.size(); ++j) {
      b.Point(r, j, b.Append(Descriptor(std::to_string(r) + std::to_string(j) + suffix)));
    }
  }
  return b.Bytes();
}

inline TBytes ImageBytes(const TEEImage& image, uint32_t count = TEEImage::kBufferSize) {
  TBytes out(count);
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = image.GetByte(static_cast<int32_t>(i));
  }
  return out;
}

inline uint16_t Get16(const TEEImage& image, uint32_t at) {
  return static_cast<uint16_t>(image.GetByte(static_cast<int32_t>(at)) |
                               (image.GetByte(static_cast<int32_t>(at + 1)) << 8));
}

inline uint16_t EntryOf(const TEEImage& image, uint32_t row, uint32_t language) {
  return Get16(image, EntryOffset(image.GetLanguageCount(), row, language));
}

inline std::vector<uint16_t> LangidsOf(const TEEImage& image) {
  std::vector<uint16_t> out(image.GetLanguageCount());
  for (size_t j = 0; j < out.size(); ++j) {
    out[j] = Get16(image, static_cast<uint32_t>(24 + 2 * j));
  }
  return out;
}

// The descriptor stored for (langid, kind), empty if there is none.
inline TBytes StringOf(const TEEImage& image, uint16_t langid, uint8_t kind) {
  TBytes buffer(255);
  buffer[0] = 255;
  if (!image.GetStringDescriptor(langid, kind, buffer.data())) {
    return {};
  }
  buffer.resize(buffer[0]);
  return buffer;
}

// Whether the bytes of the image, loaded afresh, form a valid image.
inline bool ReloadsValid(const TEEImage& image, uint32_t* length = nullptr) {
  TBytes bytes(image.GetLength());
  image.CopyTo(bytes.data(), image.GetLength());
  TEEImage again(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (length != nullptr) {
    *length = again.GetLength();
  }
  return again.IsValid();
}

inline TEEImage Load(const TBytes& bytes) {
  return TEEImage(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// `size` bytes of `fill` behind a signature.
inline TBytes Filled(uint8_t signature, size_t size, uint8_t fill = 0x11) {
  TBytes bytes(size, fill);
  if (size > 0) {
    bytes[0] = signature;
  }
  return bytes;
}

// One language, manufacturer only, its descriptor at `at`.
inline TBytes OneString(const TBytes& descriptor, uint16_t at = 28) {
  TD4Builder b({0x0409}, 0x01);
  b.PlaceAt(at, descriptor);
  b.Point(0, 0, at);
  return b.Bytes();
}

// One language, manufacturer and product wherever a test puts them.
inline TBytes TwoKindsOneLanguage(uint16_t manufacturerAt, uint16_t productAt) {
  TD4Builder b({0x0409}, 0x03);
  b.PlaceAt(manufacturerAt, Descriptor("abcd"));
  b.PlaceAt(productAt, Descriptor("efgh"));
  b.Point(0, 0, manufacturerAt);
  b.Point(1, 0, productAt);
  return b.Bytes();
}

// Two languages and two kinds, the English manufacturer and the German product being one
// descriptor: "both", then "m1" (German manufacturer) and "p0" (English product).
inline TBytes SharedAcrossRows() {
  TD4Builder b({0x0409, 0x0407}, 0x03);
  const uint16_t shared = b.Append(Descriptor("both"));
  b.Point(0, 0, shared);
  b.Point(1, 1, shared);
  b.Point(0, 1, b.Append(Descriptor("m1")));
  b.Point(1, 0, b.Append(Descriptor("p0")));
  return b.Bytes();
}

// Manufacturer only, a one-character descriptor per language, the last placed so that the image
// ends at `end`: room as tight as a test needs.
inline TBytes EndingAt(const std::vector<uint16_t>& langids, uint32_t end) {
  TD4Builder b(langids, 0x01);
  for (uint32_t j = 0; j < b.Languages(); ++j) {
    const uint32_t gap = j + 1 == b.Languages() ? end - 4 - b.End() : 0;
    b.Point(0, j, b.Append(Descriptor(std::string(1, static_cast<char>('a' + j))), gap));
  }
  return b.Bytes();
}

// Runs `action` with allocation `index` failing and returns the out-of-memory reports made
// meanwhile (true: fatal); `reached` tells whether the action came to that allocation.
template <typename TAction>
std::vector<bool> ReportsWhenAllocationFails(int32_t index, TAction action,
                                             bool* reached = nullptr) {
  static std::vector<bool> reports;
  reports.clear();
  TEEImage::SetOutOfMemoryHook([](bool fatal) { reports.push_back(fatal); });
  TByteBlock::FailAllocation(index);
  action();
  if (reached != nullptr) {
    *reached = !TByteBlock::FailurePending();
  }
  TByteBlock::FailAllocation(-1);
  TEEImage::SetOutOfMemoryHook(nullptr);
  return reports;
}

// Names a parameterised case after its `name` field.
struct TCaseName {
  template <typename TCase>
  std::string operator()(const testing::TestParamInfo<TCase>& info) const {
    return info.param.name;
  }
};

constexpr uint16_t kEn = 0x0409;
constexpr uint16_t kDe = 0x0407;
constexpr uint16_t kFr = 0x040C;

// The whole buffer and the length: what a refused change must leave exactly as it was.
struct TSnapshot {
  TBytes bytes;
  uint32_t length;
  bool operator==(const TSnapshot&) const = default;
};

inline TSnapshot Snap(const TEEImage& image) {
  return {ImageBytes(image), image.GetLength()};
}

inline void PrintTo(const TSnapshot& s, std::ostream* out) {
  *out << "length " << s.length << ", bytes";
  for (uint32_t i = 0; i < s.length && i < s.bytes.size(); ++i) {
    *out << ' ' << int(s.bytes[i]);
  }
}

// The four header kinds in table order, and header fields by identifier.
constexpr THeaderKind kKinds[] = {THeaderKind::D0, THeaderKind::D2, THeaderKind::D3,
                                  THeaderKind::D4};

inline int Index(THeaderKind kind) {
  return static_cast<int>(kind);
}

inline const THeaderField& Field(std::string_view id) {
  const THeaderField* field = FindHeaderField(id);
  if (!field)
    throw std::runtime_error("no field " + std::string(id));
  return *field;
}

} // namespace testimages

// Found by argument lookup, so beside the type rather than in the namespace above.
inline void PrintTo(const TStringOutcome& o, std::ostream* out) {
  *out << "reason " << static_cast<int>(o.FReason) << ", needed " << o.FNeeded << ", free "
       << o.FFree;
}
