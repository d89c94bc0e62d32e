// Export then import gives back the very bytes, for every valid image: descriptors in any order,
// with gaps between them, shared between rows or overlapping partly, LANGIDs listed twice, texts
// holding what the 8-bit set lacks, unpaired surrogates and U+0000.

#include "CliExport.h"
#include "CliImport.h"
#include "CliTestSupport.h"
#include "Eeimage.h"

#include <bit>
#include <random>

namespace clitest {
namespace {

class TLayout {
public:
  explicit TLayout(std::mt19937& random) : FRandom(random) {}

  // Which layouts the last image has.
  struct TKinds {
    bool overlap = false, gap = false, shared = false;
  };
  TKinds Kinds() const { return FKinds; }

  // A random valid image in a whole EEPROM's 512 bytes, as a device read gives it: the bytes past
  // the image's length are random too.
  std::vector<uint8_t> Eeprom() {
    for (;;) {
      FKinds = {};
      std::vector<uint8_t> bytes = Candidate();
      const TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
      if (image.IsValid()) {
        return bytes;
      }
    }
  }

private:
  uint32_t Below(uint32_t n) { return FRandom() % n; }

  std::vector<uint8_t> Candidate() {
    std::vector<uint8_t> bytes(512);
    for (uint8_t& byte : bytes) {
      byte = static_cast<uint8_t>(FRandom());
    }
    const uint8_t signatures[] = {0xD0, 0xD2, 0xD3, 0xD4, 0xD4, 0xD4, 0xD4};
    bytes[0] = signatures[Below(std::size(signatures))];
    if (bytes[0] != 0xD4) {
      return bytes;
    }
    const uint32_t languages = Below(4);
    const uint8_t mask = languages == 0 ? 0 : static_cast<uint8_t>(1 + Below(255));
    const uint32_t rows = static_cast<uint32_t>(std::popcount(mask));
    bytes[20] = static_cast<uint8_t>(languages);
    bytes[21] = mask;
    for (uint32_t j = 0; j < languages; ++j) {
      // Now and then a LANGID the table already has.
      const uint16_t langid =
          j > 0 && Below(6) == 0 ? Read16(bytes, 24) : static_cast<uint16_t>(FRandom());
      Put16(bytes, 24 + 2 * j, langid);
    }
    uint32_t end = 24 + 2 * languages * (rows + 1);
    std::vector<std::pair<uint32_t, uint32_t>> placed; // start, length
    const int serialRow =
        (mask & 0x04) != 0 ? std::popcount(static_cast<uint8_t>(mask & 0x03)) : -1;
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t j = 0; j < languages; ++j) {
        const uint32_t entry = 24 + 2 * languages + 2 * (r * languages + j);
        uint32_t at = 0;
        const uint32_t choice = Below(10);
        if (static_cast<int>(r) == serialRow && j > 0) {
          at = Read16(bytes, entry - 2); // the serial number: one descriptor for all
        } else if (choice < 2 && !placed.empty()) {
          at = placed[Below(static_cast<uint32_t>(placed.size()))].first; // shared
          FKinds.shared = true;
        } else if (choice == 2 && !placed.empty() && placed.back().second >= 8) {
          // Inside the last descriptor, overwriting its tail: the two overlap partly.
          const auto [start, length] = placed.back();
          at = start + 2 * (1 + Below((length - 4) / 2));
          at = Descriptor(bytes, at);
          placed.push_back({at, bytes[at]});
          FKinds.overlap = true;
        } else {
          const uint32_t gap = Below(4); // up to three bytes of filler
          at = Descriptor(bytes, end + gap);
          placed.push_back({at, bytes[at]});
          FKinds.gap = FKinds.gap || gap > 0;
        }
        end = std::max(end, at + bytes[at]);
        Put16(bytes, entry, static_cast<uint16_t>(at));
      }
    }
    return bytes;
  }

  // Writes a descriptor at `at` (when it fits) and returns `at`.
  uint32_t Descriptor(std::vector<uint8_t>& bytes, uint32_t at) {
    const char16_t pool[] = {u'a',  u'Z', u'0',   u' ',   u'\u00E9', u'\u20AC', u'\u4E2D', u'"',
                             u'\\', 0,    0xD83D, 0xDE00, 0xDC00,    u'\u0081', u'?'};
    const uint32_t units = 1 + Below(8);
    const uint32_t length = 2 + 2 * units + (Below(8) == 0 ? 1 : 0); // now and then odd
    if (at + length > bytes.size()) {
      return at;
    }
    bytes[at] = static_cast<uint8_t>(length);
    bytes[at + 1] = 3;
    for (uint32_t i = 0; i < units; ++i) {
      const char16_t unit = i == 0 ? u'x' : pool[Below(std::size(pool))];
      Put16(bytes, at + 2 + 2 * i, unit);
    }
    return at;
  }

  static uint16_t Read16(const std::vector<uint8_t>& bytes, uint32_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
  }
  static void Put16(std::vector<uint8_t>& bytes, uint32_t at, uint16_t value) {
    if (at + 1 < bytes.size()) {
      bytes[at] = static_cast<uint8_t>(value);
      bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    }
  }

  std::mt19937& FRandom;
  TKinds FKinds;
};

TEST(RoundTrip, AnUneditedExportImportsToTheSameBytesForEveryValidImage) {
  std::mt19937 random(20261210);
  TLayout layout(random);
  int overlapping = 0, gapped = 0, shared = 0;
  for (int round = 0; round < 10000; ++round) {
    const std::vector<uint8_t> eeprom = layout.Eeprom();
    const TEEImage image(eeprom.data(), static_cast<int32_t>(eeprom.size()));
    const std::vector<uint8_t> bytes(eeprom.begin(), eeprom.begin() + image.GetLength());
    const std::string text = TCliExport::Text(image);
    std::vector<uint8_t> back;
    try {
      back = TCliImport::Bytes(text);
    } catch (const TCliError& refusal) {
      FAIL() << "round " << round << ": " << refusal.what() << "\n" << text;
    }
    ASSERT_EQ(back, bytes) << "round " << round << "\n" << text;
    overlapping += layout.Kinds().overlap ? 1 : 0;
    gapped += layout.Kinds().gap ? 1 : 0;
    shared += layout.Kinds().shared ? 1 : 0;
  }
  // The layouts that are easy to get wrong came up often enough to count.
  EXPECT_GT(overlapping, 500);
  EXPECT_GT(gapped, 500);
  EXPECT_GT(shared, 500);
}

// The overlapping layout of the image record's own example exports and imports unchanged.
TEST(RoundTrip, OverlappingDescriptorsOfTheExample) {
  std::vector<uint8_t> bytes(46, 0);
  bytes[0] = 0xD4;
  bytes[20] = 1;
  bytes[21] = 0x03;
  bytes[24] = 0x09;
  bytes[25] = 0x04;
  bytes[26] = 30; // manufacturer at 30
  bytes[28] = 36; // product at 36, inside it
  for (const uint32_t at : {30u, 36u}) {
    bytes[at] = 10;
    bytes[at + 1] = 3;
    for (uint32_t i = at + 2; i < at + 10; i += 2) {
      bytes[i] = 'a';
    }
  }
  const TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
  ASSERT_TRUE(image.IsValid());
  ASSERT_EQ(image.GetLength(), 40u);
  bytes.resize(40);
  EXPECT_EQ(TCliImport::Bytes(TCliExport::Text(image)), bytes);
}

} // namespace
} // namespace clitest
