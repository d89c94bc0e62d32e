#include "StringTable.h"

#include "ByteBlock.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace {

constexpr uint8_t kSignatureStrings = 0xD4;
constexpr uint32_t kBufferSize = 512;
constexpr uint32_t kTables = 24; // the LANGID table begins right behind the header
constexpr uint8_t kSerialNumber = 0x04;
constexpr uint8_t kDescriptorType = 3;
// One UTF-16 space: what every new string holds until the user types one.
constexpr uint8_t kPlaceholder[4] = {0x04, kDescriptorType, 0x20, 0x00};
// 24 + 2N(C+1) <= 512 bounds the number of entries of any table that fits the buffer.
constexpr uint32_t kMaxEntries = 256;

uint32_t Bits(uint8_t mask) {
  return static_cast<uint32_t>(std::popcount(mask));
}

uint32_t TablesEnd(uint32_t languages, uint32_t rows) {
  return kTables + 2 * languages * (rows + 1);
}

// Byte position of entry (row, language) in tables of `languages` columns.
uint32_t EntryAt(uint32_t row, uint32_t language, uint32_t languages) {
  return kTables + 2 * languages + 2 * (row * languages + language);
}

// Row of the serial number for this mask, or -1 if the mask does not carry it.
int32_t SerialRow(uint8_t mask) {
  return (mask & kSerialNumber) != 0 ? static_cast<int32_t>(Bits(mask & 0x03)) : -1;
}

} // namespace

TStringTable::TStringTable(uint8_t* data, uint32_t length, uint32_t capacity)
    : FData(data), FLength(length), FCapacity(std::min(capacity, kBufferSize)) {}

uint16_t TStringTable::Read16(uint32_t at) const {
  return static_cast<uint16_t>(FData[at] | (FData[at + 1] << 8));
}

void TStringTable::Write16(uint32_t at, uint16_t value) {
  FData[at] = static_cast<uint8_t>(value & 0xFF);
  FData[at + 1] = static_cast<uint8_t>(value >> 8);
}

int32_t TStringTable::FindEntry(uint16_t langid, uint8_t kind, TStringRefusal* reason) const {
  TStringRefusal none = TStringRefusal::None;
  TStringRefusal& why = reason != nullptr ? *reason : none;
  if (FData[0] != kSignatureStrings) {
    why = TStringRefusal::NoStringArea;
    return -1;
  }
  if (std::popcount(kind) != 1 || (kind & Mask()) == 0) {
    why = TStringRefusal::KindNotCarried;
    return -1;
  }
  const uint32_t languages = LanguageCount();
  const uint32_t row = Bits(Mask() & (kind - 1));
  for (uint32_t j = 0; j < languages && kTables + 2 * j + 2 <= kBufferSize; ++j) {
    if (Read16(kTables + 2 * j) == langid) {
      const uint32_t entry = EntryAt(row, j, languages);
      if (entry + 2 > kBufferSize) {
        why = TStringRefusal::UnsoundLayout;
        return -1;
      }
      why = TStringRefusal::None;
      return static_cast<int32_t>(entry);
    }
  }
  why = TStringRefusal::NoLanguage;
  return -1;
}

uint8_t TStringTable::GetStringLength(uint16_t langid, uint8_t kind) const {
  const int32_t entry = FindEntry(langid, kind);
  if (entry < 0) {
    return 0;
  }
  const uint32_t at = Read16(static_cast<uint32_t>(entry));
  return at < kBufferSize ? FData[at] : 0;
}

bool TStringTable::GetStringDescriptor(uint16_t langid, uint8_t kind, uint8_t* buffer) const {
  const int32_t entry = FindEntry(langid, kind);
  if (buffer == nullptr || entry < 0) {
    return false;
  }
  const uint32_t at = Read16(static_cast<uint32_t>(entry));
  if (at >= kBufferSize) {
    return false;
  }
  const uint32_t length = FData[at];
  if (length > buffer[0] || at + length > kBufferSize) {
    return false;
  }
  std::memcpy(buffer, FData + at, length);
  return true;
}

bool TStringTable::IsSound() const {
  if (FData[0] != kSignatureStrings || FLength > FCapacity) {
    return false;
  }
  const uint32_t languages = LanguageCount();
  const uint32_t rows = Bits(Mask());
  const uint32_t tablesEnd = TablesEnd(languages, rows);
  if (tablesEnd > FLength) {
    return false;
  }
  std::array<std::pair<uint32_t, uint32_t>, kMaxEntries> spans{}; // start, length
  const uint32_t entries = rows * languages;
  for (uint32_t k = 0; k < entries; ++k) {
    const uint32_t at = Read16(EntryAt(0, k, languages));
    if (at < tablesEnd || at + 2 > FLength) {
      return false;
    }
    const uint32_t length = FData[at];
    if (length < 2 || at + length > FLength) {
      return false;
    }
    spans[k] = {at, length};
  }
  const int32_t serial = SerialRow(Mask());
  if (serial >= 0) {
    const uint32_t first = static_cast<uint32_t>(serial) * languages;
    for (uint32_t j = 1; j < languages; ++j) {
      if (spans[first + j].first != spans[first].first) {
        return false;
      }
    }
  }
  std::sort(spans.begin(), spans.begin() + entries);
  for (uint32_t k = 1; k < entries; ++k) {
    const auto& before = spans[k - 1];
    if (spans[k].first != before.first && before.first + before.second > spans[k].first) {
      return false;
    }
  }
  return true;
}

bool TStringTable::Refuse(TStringRefusal reason) {
  FOutcome = {reason, 0, 0};
  return false;
}

bool TStringTable::RefuseRoom(int64_t growth) {
  FOutcome = {TStringRefusal::NoRoom, static_cast<uint32_t>(growth),
              FCapacity > FLength ? FCapacity - FLength : 0};
  return false;
}

bool TStringTable::ShiftTail(uint32_t position, int32_t delta) {
  FOutcome = {};
  const int64_t length = static_cast<int64_t>(FLength) + delta;
  if (position > FLength || static_cast<int64_t>(position) + delta < 0) {
    return Refuse(TStringRefusal::ShiftOutsideImage);
  }
  if (length > FCapacity) {
    return RefuseRoom(delta);
  }
  const bool strings = FData[0] == kSignatureStrings;
  const uint32_t languages = LanguageCount();
  const uint32_t entries = Bits(Mask()) * languages;
  if (strings && EntryAt(0, entries, languages) > kBufferSize) {
    return Refuse(TStringRefusal::UnsoundLayout);
  }
  if (position == FLength || delta == 0) {
    FLength = static_cast<uint32_t>(length);
    return true;
  }
  const uint32_t tail = FLength - position;
  TByteBlock scratch(tail);
  if (!scratch) {
    return Refuse(TStringRefusal::OutOfMemory);
  }
  if (strings) {
    // A shrink cuts out the bytes just below the position; a descriptor that began at the cut is
    // the one removed, and its own entries go down with the rest.
    const int64_t threshold = delta >= 0 ? position : static_cast<int64_t>(position) + delta;
    for (uint32_t k = 0; k < entries; ++k) {
      const uint32_t at = EntryAt(0, k, languages);
      const uint16_t value = Read16(at);
      if (value >= threshold) {
        Write16(at, static_cast<uint16_t>(value + delta));
      }
    }
  }
  std::memcpy(scratch.Get(), FData + position, tail);
  std::memcpy(FData + position + delta, scratch.Get(), tail);
  FLength = static_cast<uint32_t>(length);
  return true;
}

bool TStringTable::SetStringDescriptor(uint16_t langid, uint8_t kind, const uint8_t* descriptor) {
  FOutcome = {};
  if (FData[0] != kSignatureStrings) {
    return Refuse(TStringRefusal::NoStringArea);
  }
  if (!IsSound()) {
    return Refuse(TStringRefusal::UnsoundLayout);
  }
  TStringRefusal reason = TStringRefusal::None;
  const int32_t entry = FindEntry(langid, kind, &reason);
  if (entry < 0) {
    return Refuse(reason);
  }
  // Refuse what would leave an image that no longer loads: too short, not a string, or empty.
  if (descriptor == nullptr || descriptor[0] < 4 || descriptor[1] != kDescriptorType ||
      (descriptor[2] == 0 && descriptor[3] == 0)) {
    return Refuse(TStringRefusal::BadDescriptor);
  }
  // Entries that share this descriptor hold the same position, which the shift leaves alone,
  // so the new text reaches all of them.
  const uint32_t at = Read16(static_cast<uint32_t>(entry));
  const uint32_t before = FData[at];
  const uint32_t after = descriptor[0];
  if (after != before &&
      !ShiftTail(at + before, static_cast<int32_t>(after) - static_cast<int32_t>(before))) {
    return false;
  }
  std::memcpy(FData + at, descriptor, after);
  return true;
}

bool TStringTable::AppendPlaceholder() {
  // The growth checked up front covers every placeholder; this only keeps the buffer safe.
  if (FLength + sizeof kPlaceholder > FCapacity) {
    return RefuseRoom(sizeof kPlaceholder);
  }
  std::memcpy(FData + FLength, kPlaceholder, sizeof kPlaceholder);
  FLength += sizeof kPlaceholder;
  return true;
}

uint32_t TStringTable::FreedBytes(const bool* dropped) const {
  const uint32_t entries = Bits(Mask()) * LanguageCount();
  uint32_t freed = 0;
  for (uint32_t k = 0; k < entries; ++k) {
    if (!dropped[k]) {
      continue;
    }
    const uint16_t at = Read16(EntryAt(0, k, LanguageCount()));
    bool counted = false;
    for (uint32_t other = 0; other < entries && !counted; ++other) {
      // Counted at its first dropped entry; kept while any entry that stays points at it.
      counted = (other < k || !dropped[other]) && other != k &&
                Read16(EntryAt(0, other, LanguageCount())) == at;
    }
    freed += counted ? 0 : FData[at];
  }
  return freed;
}

int64_t TStringTable::KindsGrowth(uint8_t mask) const {
  const int64_t languages = LanguageCount();
  const uint8_t old = Mask();
  std::array<bool, kMaxEntries> dropped{};
  uint32_t row = 0;
  int64_t growth = 0;
  for (uint32_t b = 0; b < 8; ++b) {
    const uint8_t kind = static_cast<uint8_t>(1u << b);
    if ((old & kind) != 0) {
      const bool removed = (mask & kind) == 0;
      for (uint32_t j = 0; j < languages; ++j) {
        dropped[row * languages + j] = removed;
      }
      growth -= removed ? 2 * languages : 0;
      ++row;
    } else if ((mask & kind) != 0) {
      // A row, and a placeholder per language; the serial number's one is shared.
      const int64_t placeholders = kind == kSerialNumber ? (languages > 0 ? 1 : 0) : languages;
      growth += 2 * languages + static_cast<int64_t>(sizeof kPlaceholder) * placeholders;
    }
  }
  return growth - FreedBytes(dropped.data());
}

int64_t TStringTable::LanguagesGrowth(const bool* keep, uint32_t kept, uint32_t adding) const {
  const int64_t languages = LanguageCount();
  const int64_t rows = Bits(Mask());
  int64_t growth = 0;
  if (kept == 0 && languages > 0) {
    growth = static_cast<int64_t>(kTables) - FLength; // everything behind the header goes
  } else if (kept < languages) {
    std::array<bool, kMaxEntries> dropped{};
    for (uint32_t k = 0; k < rows * languages; ++k) {
      dropped[k] = !keep[k % languages];
    }
    growth =
        -static_cast<int64_t>(FreedBytes(dropped.data())) - 2 * (languages - kept) * (rows + 1);
  }
  if (adding > 0) {
    // A LANGID and an entry per row for each new language, a placeholder in each row but the
    // serial number's, which gets one shared placeholder only when no language is kept.
    const bool serial = SerialRow(Mask()) >= 0;
    const int64_t perLanguage = rows - (serial ? 1 : 0);
    growth += 2 * static_cast<int64_t>(adding) * (rows + 1) +
              static_cast<int64_t>(sizeof kPlaceholder) * adding * perLanguage;
    growth += serial && kept == 0 ? static_cast<int64_t>(sizeof kPlaceholder) : 0;
  }
  return growth;
}

bool TStringTable::SetSupportedStrings(uint8_t mask) {
  FOutcome = {};
  const uint8_t old = Mask();
  if (FData[0] != kSignatureStrings || mask == old) {
    return true;
  }
  if (!IsSound()) {
    return Refuse(TStringRefusal::UnsoundLayout);
  }
  // Removals come first and only shrink, then every addition grows: the end length is the
  // largest the image reaches, so checking it keeps every step within the capacity.
  const int64_t growth = KindsGrowth(mask);
  if (FLength + growth > FCapacity) {
    return RefuseRoom(growth);
  }
  for (uint32_t b = 0; b < 8; ++b) {
    const uint8_t kind = static_cast<uint8_t>(1u << b);
    if ((old & kind) != 0 && (mask & kind) == 0 && !RemoveKind(kind)) {
      return false;
    }
  }
  for (uint32_t b = 0; b < 8; ++b) {
    const uint8_t kind = static_cast<uint8_t>(1u << b);
    if ((mask & kind) != 0 && (Mask() & kind) == 0 && !AddKind(kind)) {
      return false;
    }
  }
  return true;
}

bool TStringTable::RemoveKind(uint8_t kind) {
  const uint32_t languages = LanguageCount();
  const uint32_t rows = Bits(Mask());
  const uint32_t row = Bits(Mask() & (kind - 1));
  // The row's distinct descriptors, in language order, decided before anything moves. One that
  // an entry of another row also points at stays: that entry still needs it.
  std::array<uint32_t, kMaxEntries> doomed{};
  uint32_t count = 0;
  for (uint32_t j = 0; j < languages; ++j) {
    const uint32_t at = Read16(EntryAt(row, j, languages));
    bool keep = std::find(doomed.begin(), doomed.begin() + count, at) != doomed.begin() + count;
    for (uint32_t r = 0; r < rows && !keep; ++r) {
      for (uint32_t i = 0; i < languages && !keep && r != row; ++i) {
        keep = Read16(EntryAt(r, i, languages)) == at;
      }
    }
    if (!keep) {
      doomed[count++] = at;
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t at = doomed[i];
    const uint32_t length = FData[at];
    if (!ShiftTail(at + length, -static_cast<int32_t>(length))) {
      return false;
    }
    for (uint32_t later = i + 1; later < count; ++later) {
      if (doomed[later] > at) {
        doomed[later] -= length;
      }
    }
  }
  if (!ShiftTail(EntryAt(row + 1, 0, languages), -2 * static_cast<int32_t>(languages))) {
    return false;
  }
  FData[21] = static_cast<uint8_t>(Mask() & ~kind);
  return true;
}

bool TStringTable::AddKind(uint8_t kind) {
  const uint32_t languages = LanguageCount();
  const uint32_t row = Bits(Mask() & (kind - 1));
  if (!ShiftTail(EntryAt(row, 0, languages), 2 * static_cast<int32_t>(languages))) {
    return false;
  }
  if (kind == kSerialNumber) {
    // One descriptor for all languages; none at all while there are no languages.
    if (languages > 0) {
      for (uint32_t j = 0; j < languages; ++j) {
        Write16(EntryAt(row, j, languages), static_cast<uint16_t>(FLength));
      }
      if (!AppendPlaceholder()) {
        return false;
      }
    }
  } else {
    for (uint32_t j = 0; j < languages; ++j) {
      Write16(EntryAt(row, j, languages), static_cast<uint16_t>(FLength));
      if (!AppendPlaceholder()) {
        return false;
      }
    }
  }
  FData[21] = static_cast<uint8_t>(Mask() | kind);
  return true;
}

bool TStringTable::LanguageInTable(uint16_t langid) const {
  for (uint32_t j = 0; j < LanguageCount(); ++j) {
    if (Read16(kTables + 2 * j) == langid) {
      return true;
    }
  }
  return false;
}

bool TStringTable::SetLanguages(const uint16_t* langids, uint8_t count) {
  FOutcome = {};
  if (FData[0] != kSignatureStrings) {
    return true;
  }
  if (count > 0 && langids == nullptr) {
    return Refuse(TStringRefusal::NoLanguageList);
  }
  if (!IsSound()) {
    return Refuse(TStringRefusal::UnsoundLayout);
  }
  const uint32_t languages = LanguageCount();
  std::array<bool, kMaxEntries> keep{};
  uint32_t kept = 0;
  for (uint32_t j = 0; j < languages; ++j) {
    const uint16_t langid = Read16(kTables + 2 * j);
    keep[j] = std::find(langids, langids + count, langid) != langids + count;
    kept += keep[j] ? 1 : 0;
  }
  // New LANGIDs in list order; a repeated one is added once.
  std::array<uint16_t, kMaxEntries> added{};
  uint32_t adding = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!LanguageInTable(langids[i]) &&
        std::find(added.begin(), added.begin() + adding, langids[i]) == added.begin() + adding) {
      added[adding++] = langids[i];
    }
  }
  if (kept + adding > 255) {
    return Refuse(TStringRefusal::TooManyLanguages);
  }
  if (kept == languages && adding == 0) {
    return true;
  }
  // As with the kinds: removals shrink, then the additions grow up to the end length.
  const int64_t growth = LanguagesGrowth(keep.data(), kept, adding);
  if (FLength + growth > FCapacity) {
    return RefuseRoom(growth);
  }
  if (!RemoveLanguages(keep.data())) {
    return false;
  }
  if (kept == 0 && languages > 0) {
    FData[20] = 0;
    FLength = kTables;
  } else if (kept < languages && !CompactTables(keep.data(), kept)) {
    return false;
  }
  return adding == 0 || AddLanguages(kept, added.data(), adding);
}

bool TStringTable::RemoveLanguages(const bool* keep) {
  const uint32_t languages = LanguageCount();
  const uint32_t entries = Bits(Mask()) * languages;
  // Positions as they were before anything moved decide which entries share a descriptor; a
  // descriptor goes only with the last entry that uses it (for the serial number: with the last
  // language removed, and never while a language stays).
  std::array<uint16_t, kMaxEntries> original{};
  std::array<bool, kMaxEntries> live{};
  for (uint32_t k = 0; k < entries; ++k) {
    original[k] = Read16(EntryAt(0, k, languages));
    live[k] = true;
  }
  for (uint32_t j = 0; j < languages; ++j) {
    if (keep[j]) {
      continue;
    }
    for (uint32_t k = j; k < entries; k += languages) {
      live[k] = false;
      bool used = false;
      for (uint32_t other = 0; other < entries && !used; ++other) {
        used = live[other] && original[other] == original[k];
      }
      if (used) {
        continue;
      }
      // Not yet deleted, so the entry has followed every earlier shift.
      const uint32_t at = Read16(EntryAt(0, k, languages));
      const uint32_t length = FData[at];
      if (!ShiftTail(at + length, -static_cast<int32_t>(length))) {
        return false;
      }
    }
  }
  return true;
}

bool TStringTable::CompactTables(const bool* keep, uint32_t kept) {
  const uint32_t languages = LanguageCount();
  const uint32_t rows = Bits(Mask());
  const uint32_t size = 2 * kept * (rows + 1);
  TByteBlock tables(size);
  if (!tables) {
    return Refuse(TStringRefusal::OutOfMemory);
  }
  uint8_t* out = tables.Get();
  for (uint32_t r = 0; r <= rows; ++r) { // r = 0: the LANGID table, then the rows
    for (uint32_t j = 0; j < languages; ++j) {
      if (keep[j]) {
        const uint32_t at = kTables + 2 * (r * languages + j);
        *out++ = FData[at];
        *out++ = FData[at + 1];
      }
    }
  }
  std::memcpy(FData + kTables, tables.Get(), size);
  FData[20] = static_cast<uint8_t>(kept);
  const uint32_t oldEnd = TablesEnd(languages, rows);
  return ShiftTail(oldEnd, -static_cast<int32_t>(oldEnd - TablesEnd(kept, rows)));
}

bool TStringTable::AddLanguages(uint32_t kept, const uint16_t* added, uint32_t count) {
  const uint32_t rows = Bits(Mask());
  const int32_t serial = SerialRow(Mask());
  if (!ShiftTail(TablesEnd(kept, rows), static_cast<int32_t>(2 * count * (rows + 1)))) {
    return false;
  }
  const uint32_t total = kept + count;
  TByteBlock block(2 * total * (rows + 1));
  if (!block) {
    return Refuse(TStringRefusal::OutOfMemory);
  }
  // The new tables are built apart while the old ones are read; new descriptors go behind
  // everything, row by row and within a row language by language.
  uint8_t* tables = block.Get();
  auto put = [&tables](uint16_t value) {
    *tables++ = static_cast<uint8_t>(value & 0xFF);
    *tables++ = static_cast<uint8_t>(value >> 8);
  };
  for (uint32_t j = 0; j < kept; ++j) {
    put(Read16(kTables + 2 * j));
  }
  for (uint32_t i = 0; i < count; ++i) {
    put(added[i]);
  }
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t j = 0; j < kept; ++j) {
      put(Read16(EntryAt(r, j, kept)));
    }
    if (static_cast<int32_t>(r) == serial) {
      uint16_t shared = 0;
      if (kept > 0) {
        shared = Read16(EntryAt(r, 0, kept));
      } else {
        shared = static_cast<uint16_t>(FLength);
        if (!AppendPlaceholder()) {
          return false;
        }
      }
      for (uint32_t i = 0; i < count; ++i) {
        put(shared);
      }
    } else {
      for (uint32_t i = 0; i < count; ++i) {
        put(static_cast<uint16_t>(FLength));
        if (!AppendPlaceholder()) {
          return false;
        }
      }
    }
  }
  std::memcpy(FData + kTables, block.Get(), 2 * total * (rows + 1));
  FData[20] = static_cast<uint8_t>(total);
  return true;
}
