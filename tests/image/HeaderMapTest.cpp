// Reading, writing, showing and typing header fields through the table.

#include "HeaderMap.h"
#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace testimages;

namespace {

std::vector<uint8_t> Bytes(uint8_t signature, uint8_t fill = 0) {
  std::vector<uint8_t> bytes(24, fill);
  bytes[0] = signature;
  if (signature == 0xD4) {
    bytes[20] = 0; // no languages and no strings keep a 0xD4 image valid
    bytes[21] = 0;
  }
  return bytes;
}

TEST(HeaderMapTest, ReadsTheEncodings) {
  std::vector<uint8_t> bytes = Bytes(0xD2);
  bytes[1] = 0x34;
  bytes[2] = 0x12;
  bytes[7] = 0x5A;
  bytes[8] = 0xA5;
  bytes[9] = 0x42;
  TEEImage image(bytes.data(), 13);
  const THeaderKind d2 = THeaderKind::D2;
  EXPECT_EQ(ReadHeaderField(image, Field("vid"), d2), 0x1234u);
  EXPECT_EQ(FormatHeaderField(Field("vid"), 0x1234), "1234");
  EXPECT_EQ(ReadHeaderField(image, Field("oc_timer_enabled"), d2), 0x5u);
  EXPECT_EQ(ReadHeaderField(image, Field("oc_timer_disabled"), d2), 0xAu);
  EXPECT_EQ(FormatHeaderField(Field("oc_timer_disabled"), 0xA), "A");
  EXPECT_EQ(ReadHeaderField(image, Field("max_power_fs"), d2), 0x42u); // byte 9, not 8
  const int active[] = {0, 1, 0, 1};                                   // ports 0..3 of 0xA5
  const int removable[] = {1, 0, 1, 0};
  for (int port = 0; port < 4; ++port) {
    EXPECT_EQ(ReadHeaderField(image, Field("active_port_" + std::to_string(port)), d2),
              static_cast<uint32_t>(active[port]))
        << port;
    EXPECT_EQ(ReadHeaderField(image, Field("removable_port_" + std::to_string(port)), d2),
              static_cast<uint32_t>(removable[port]))
        << port;
  }
  // Fields the kind lacks read as 0, whatever the buffer holds.
  EXPECT_EQ(ReadHeaderField(image, Field("active_port_7"), d2), 0u);
  EXPECT_EQ(ReadHeaderField(image, Field("max_power_hs"), d2), 0u);
}

TEST(HeaderMapTest, D3AndD4ShowTheSameValues) {
  std::vector<uint8_t> bytes = Bytes(0xD3);
  for (int i = 1; i < 20; ++i)
    bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  bytes[22] = 0x96;
  bytes[23] = 0x3C;
  TEEImage d3(bytes.data(), 24);
  bytes[0] = 0xD4;
  TEEImage d4(bytes.data(), 24);
  ASSERT_TRUE(d4.IsValid());
  for (const THeaderField& field : HeaderFields()) {
    if (field.id == "signature")
      continue;
    EXPECT_EQ(ReadHeaderField(d3, field, THeaderKind::D3),
              ReadHeaderField(d4, field, THeaderKind::D4))
        << field.id;
  }
  EXPECT_EQ(ReadHeaderField(d4, Field("max_power_fs"), THeaderKind::D4), bytes[8]);
}

TEST(HeaderMapTest, SupportedStringsMask) {
  std::vector<uint8_t> bytes = Bytes(0xD3);
  bytes[21] = 0x07;
  TEEImage image(bytes.data(), 24);
  const std::set<std::string> set = {"string_manufacturer", "string_product",
                                     "string_serial_number"};
  for (const THeaderField& field : HeaderFields()) {
    if (field.group == "SupportedStringsGrp") {
      EXPECT_EQ(ReadHeaderField(image, field, THeaderKind::D3), set.count(std::string(field.id)))
          << field.id;
    }
  }
}

// Every field that can be typed into, in every kind: the value reads back, and no other bit of
// the image changes.
TEST(HeaderMapTest, WritesTouchOnlyTheirOwnBits) {
  for (THeaderKind kind : kKinds) {
    for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
      for (const THeaderField& field : HeaderFields()) {
        if (!IsHeaderFieldEditable(field, kind))
          continue;
        if (kind == THeaderKind::D4 && field.group == "SupportedStringsGrp")
          continue; // reshapes the string area: tested below
        std::vector<uint8_t> bytes = Bytes(SignatureOf(kind), fill);
        TEEImage image(bytes.data(), 24);
        const uint32_t max = (1u << field.width) - 1;
        const uint32_t value = (ReadHeaderField(image, field, kind) ^ max) & max; // every bit flips
        const std::vector<uint8_t> before = ImageBytes(image);
        ASSERT_TRUE(WriteHeaderField(image, field, kind, value)) << field.id;
        EXPECT_EQ(ReadHeaderField(image, field, kind), value) << field.id;
        std::vector<uint8_t> after = ImageBytes(image);
        const TFieldPlace& place = field.place[Index(kind)];
        for (int bit = 0; bit < field.width; ++bit) {
          const int at = place.offset * 8 + place.shift + bit;
          after[at / 8] ^= static_cast<uint8_t>(1u << (at % 8));
        }
        EXPECT_EQ(after, before) << field.id << " changed other bits in kind " << Index(kind);
      }
    }
  }
}

TEST(HeaderMapTest, WordIsLittleEndian) {
  std::vector<uint8_t> bytes = Bytes(0xD0);
  TEEImage image(bytes.data(), 7);
  ASSERT_TRUE(WriteHeaderField(image, Field("pid"), THeaderKind::D0, 0xABCD));
  EXPECT_EQ(image.GetByte(3), 0xCD);
  EXPECT_EQ(image.GetByte(4), 0xAB);
  ASSERT_TRUE(WriteHeaderField(image, Field("vid"), THeaderKind::D0, 0x0001));
  EXPECT_EQ(image.GetByte(1), 0x01);
  EXPECT_EQ(image.GetByte(2), 0x00);
}

TEST(HeaderMapTest, SharedPortsByteMerges) {
  std::vector<uint8_t> bytes = Bytes(0xD2);
  bytes[8] = 0x05;
  TEEImage image(bytes.data(), 13);
  const THeaderKind d2 = THeaderKind::D2;
  const uint32_t active[] = {1, 0, 0, 1}; // ports 0..3
  for (int port = 0; port < 4; ++port)
    ASSERT_TRUE(
        WriteHeaderField(image, Field("active_port_" + std::to_string(port)), d2, active[port]));
  EXPECT_EQ(image.GetByte(8), 0x95);
  const uint32_t removable[] = {0, 1, 1, 0};
  for (int port = 0; port < 4; ++port)
    ASSERT_TRUE(WriteHeaderField(image, Field("removable_port_" + std::to_string(port)), d2,
                                 removable[port]));
  EXPECT_EQ(image.GetByte(8), 0x96);
  EXPECT_FALSE(WriteHeaderField(image, Field("active_port_5"), d2, 1)); // not in a 0xD2 header
  EXPECT_EQ(image.GetByte(8), 0x96);
}

TEST(HeaderMapTest, RefusedWritesChangeNothing) {
  struct Case {
    const char* what;
    uint8_t signature;
    const char* id;
    uint32_t value;
  };
  const Case cases[] = {
      {"value wider than a word", 0xD3, "vid", 0x10000},
      {"value wider than a byte", 0xD3, "max_power_fs", 0x100},
      {"value wider than a nibble", 0xD3, "oc_timer_enabled", 0x10},
      {"value wider than a bit", 0xD3, "single_tt", 2},
      {"field the kind lacks", 0xD2, "max_power_hs", 1},
      {"field the kind lacks", 0xD0, "oc_timer_enabled", 1},
      {"signature", 0xD3, "signature", 0xD4},
      {"reserved byte", 0xD3, "reserved_5", 1},
      {"reserved bit", 0xD3, "config1_reserved_3", 1},
      {"reserved string bit", 0xD4, "string_reserved", 1},
      {"language count", 0xD4, "num_languages", 2},
      {"language count of 0xD3", 0xD3, "num_languages", 2},
      {"0xD4 reserved control byte", 0xD4, "internal_control", 7},
      {"0xD4 reserved control byte", 0xD4, "external_control", 7},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = Bytes(c.signature);
    TEEImage image(bytes.data(), 24);
    THeaderKind kind;
    ASSERT_TRUE(HeaderKindOf(c.signature, kind));
    const TSnapshot before = Snap(image);
    EXPECT_FALSE(WriteHeaderField(image, Field(c.id), kind, c.value)) << c.what;
    EXPECT_EQ(Snap(image), before) << c.what;
  }
  // A field that cannot be typed into still "accepts" the value it holds.
  std::vector<uint8_t> bytes = Bytes(0xD3);
  TEEImage image(bytes.data(), 24);
  EXPECT_TRUE(WriteHeaderField(image, Field("signature"), THeaderKind::D3, 0xD3));
  EXPECT_TRUE(
      WriteHeaderField(image, Field("internal_control"), THeaderKind::D3, 7)); // 0xD3: typed
}

TEST(HeaderMapTest, SupportedStringBitReshapesTheStringArea) {
  TEEImage image = Load(OneString(Descriptor("A"))); // one language, the manufacturer "A"
  ASSERT_TRUE(image.IsValid());
  ASSERT_EQ(image.GetLength(), 32u);

  ASSERT_TRUE(WriteHeaderField(image, Field("string_product"), THeaderKind::D4, 1));
  EXPECT_EQ(image.GetSupportedStrings(), 0x03);
  EXPECT_EQ(image.GetLength(), 38u); // a row of one entry and one placeholder
  EXPECT_EQ(image.GetStringLength(0x0409, TEEImage::kProduct), 4);
  EXPECT_EQ(image.GetStringLength(0x0409, TEEImage::kManufacturer), 4);
  EXPECT_TRUE(ReloadsValid(image));

  ASSERT_TRUE(WriteHeaderField(image, Field("string_manufacturer"), THeaderKind::D4, 0));
  EXPECT_EQ(image.GetSupportedStrings(), 0x02);
  EXPECT_EQ(image.GetLength(), 32u); // its descriptor and its row are gone
}

TEST(HeaderMapTest, FormatAndParse) {
  struct Case {
    const char* id;
    uint32_t value;
    const char* text;
  };
  const Case formats[] = {
      {"max_power_fs", 0x0A, "0A"}, {"max_power_fs", 0xFF, "FF"},   {"vid", 0x00AB, "00AB"},
      {"vid", 0xFFFF, "FFFF"},      {"oc_timer_enabled", 0xC, "C"}, {"single_tt", 1, "1"},
      {"single_tt", 0, "0"},
  };
  for (const Case& c : formats) {
    EXPECT_EQ(FormatHeaderField(Field(c.id), c.value), c.text) << c.id;
    uint32_t value = 0xDEAD;
    EXPECT_TRUE(ParseHeaderField(Field(c.id), c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }

  struct ParseCase {
    const char* id;
    const char* text;
    bool ok;
    uint32_t value;
  };
  const ParseCase parses[] = {
      {"vid", "abcd", true, 0xABCD},        {"vid", "1", true, 0x0001},
      {"max_power_fs", "5", true, 5},       {"max_power_fs", "0005", true, 5},
      {"max_power_fs", "100", false, 0},    {"vid", "10000", false, 0},
      {"oc_timer_enabled", "10", false, 0}, {"max_power_fs", "", false, 0},
      {"max_power_fs", "0x12", false, 0},   {"max_power_fs", "G", false, 0},
      {"max_power_fs", " 1", false, 0},     {"max_power_fs", "-1", false, 0},
      {"single_tt", "2", false, 0},         {"single_tt", "01", false, 0},
      {"single_tt", "", false, 0},          {"vid", "FFFFFFFFFFFF", false, 0},
  };
  for (const ParseCase& c : parses) {
    uint32_t value = 0xDEAD;
    EXPECT_EQ(ParseHeaderField(Field(c.id), c.text, value), c.ok) << c.id << " '" << c.text << "'";
    EXPECT_EQ(value, c.ok ? c.value : 0xDEADu) << c.id << " '" << c.text << "'";
  }
}

} // namespace
