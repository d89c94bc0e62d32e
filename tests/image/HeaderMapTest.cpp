#include "HeaderMap.h"
#include "Eeimage.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr THeaderKind kKinds[] = {THeaderKind::D0, THeaderKind::D2, THeaderKind::D3,
                                  THeaderKind::D4};
constexpr int kHeaderLength[] = {7, 13, 24, 24};

int Index(THeaderKind kind) {
  return static_cast<int>(kind);
}

const THeaderField& Field(std::string_view id) {
  const THeaderField* field = FindHeaderField(id);
  if (!field)
    throw std::runtime_error("no field " + std::string(id));
  return *field;
}

// What one kind's settings page shows, keyed by control, as the header tables list it.
struct TShown {
  int offset;
  int shift;
  std::string caption;
  bool operator==(const TShown&) const = default;
};
using TPage = std::map<std::string, TShown>;

void AddBits(TPage& page, int offset,
             const std::vector<std::pair<std::string, std::string>>& bits) {
  int bit = 7; // the tables list bit 7 first
  for (const auto& [control, caption] : bits)
    page[control] = {offset, bit--, caption};
}

void AddPorts(TPage& page, int activeOffset, int removableOffset, bool upperPorts,
              int activeShift) {
  for (int port = 0; port < 8; ++port) {
    if (port >= 4 && !upperPorts)
      continue;
    const bool upper = port >= 4;
    page["ActPort" + std::to_string(port) + "Edit"] = {activeOffset, port + activeShift,
                                                       upper ? "Ports [7..4]" : "Ports [3..0]"};
    page["RemPort" + std::to_string(port) + "Edit"] = {removableOffset, port,
                                                       upper ? "Port [7..4]" : "Port [3..0]"};
  }
}

const std::vector<std::pair<std::string, std::string>> kConfigBits1 = {
    {"IllegalDescEdit", "Illegal Descriptor"},
    {"CmpdDevEdit", "Compound Device"},
    {"FSOnlyEdit", "Full Speed Only"},
    {"NoIndicEdit", "No Indicators"},
    {"CB1Res3Edit", "Reserved"},
    {"GangPwrdEdit", "Gang Powered"},
    {"SingleTTEdit", "Single TT"},
    {"CB1Res0Edit", "Reserved"}};

TPage ExpectedPage(THeaderKind kind) {
  TPage page = {
      {"SigEdit", {0, 0, "Signature"}},
      {"VIDEdit", {1, 0, "VID"}},
      {"PIDEdit", {3, 0, "PID"}},
      {"ResRevEdit", {5, 0, "Reserved"}},
      {"DevRevEdit", {6, 0, "Device Revision (MSB)"}},
  };
  if (kind == THeaderKind::D0)
    return page;
  page["EnPortEdit"] = {7, 4, "Enabled Port (4)"};
  page["DisPortEdit"] = {7, 0, "Disabled Port (4)"};
  if (kind == THeaderKind::D2) {
    AddPorts(page, 8, 8, false, 4);
    page["MaxPwrFSEdit"] = {9, 0, "Max Power"};
    page["CtlrPwrFSBPEdit"] = {10, 0, "Controller Power"};
    page["PwrOnTimeEdit"] = {11, 0, "Power-On Timer"};
    AddBits(page, 12, kConfigBits1);
    return page;
  }
  const bool d3 = kind == THeaderKind::D3;
  page["MaxPwrFSEdit"] = {8, 0, "Max Power (FS)"};
  page["MaxPwrHSEdit"] = {9, 0, "Max Power (HS)"};
  page["ResIntCtlEdit"] = {10, 0, d3 ? "Internal Control" : "Reserved"};
  page["ResExtCtlEdit"] = {11, 0, d3 ? "External Control" : "Reserved"};
  page["CtlrPwrFSBPEdit"] = {12, 0, d3 ? "Controller Power (FS, BP)" : "Controller Power (FS,BP)"};
  page["CtlrPwrHSBPEdit"] = {13, 0, "Controller Power (HS, BP)"};
  page["CtlrPwrFSSPEdit"] = {14, 0, "Controller Power (FS, SP)"};
  page["CtlrPwrHSSPEdit"] = {15, 0, "Controller Power (HS, SP)"};
  page["PwrOnTimeEdit"] = {16, 0, "Power-On Timer"};
  AddBits(page, 17, kConfigBits1);
  AddBits(page, 18,
          {{"AmberLEDPolEdit", "Amber LED Polarity"},
           {"GreenLEDPolEdit", "Green LED Polarity"},
           {"SelfPwrEdit", "Self Powerable"},
           {"ModIndicEdit", "Modulate Indicators"},
           {"PwrCtlPolEdit", "Power Control Polarity"},
           {"OCPolEdit", "Over-Current Polarity"},
           {"OCMode1Edit", "Over-Current Mode 1"},
           {"OCMode2Edit", "Over-Current Mode 2"}});
  page["WriteProtectEdit"] = {19, 0, d3 ? "SPI Test Mode" : "Write Protect"};
  page["NumLangsEdit"] = {20, 0, "Number of Languages"};
  AddBits(page, 21,
          {{"StrResEdit", "Reserved"},
           {"IF1Edit", "iInterface [1]"},
           {"IF0Edit", "iInterface [0]"},
           {"CfgHSEdit", "iConfiguration (HS)"},
           {"CfgFSEdit", "iConfiguration (FS)"},
           {"SerNumEdit", "iSerialNumber"},
           {"ProdEdit", "iProduct"},
           {"MfgEdit", "iManufacturer"}});
  AddPorts(page, 22, 23, true, 0);
  return page;
}

std::string GroupOf(const std::string& control) {
  static const std::pair<const char*, const char*> kPrefixes[] = {{"ActPort", "ActPortGrp"},
                                                                  {"RemPort", "RemPortGrp"}};
  for (const auto& [prefix, group] : kPrefixes) {
    if (control.rfind(prefix, 0) == 0)
      return group;
  }
  if (control == "EnPortEdit" || control == "DisPortEdit")
    return "OCTimersGrp";
  for (const auto& [bitControl, caption] : kConfigBits1) {
    if (control == bitControl)
      return "CfgBits1Grp";
  }
  const TPage d4 = ExpectedPage(THeaderKind::D4);
  const auto it = d4.find(control);
  if (it != d4.end() && it->second.offset == 18)
    return "CfgBits2Grp";
  if (it != d4.end() && it->second.offset == 21)
    return "SupportedStringsGrp";
  return "";
}

// The whole table against the header tables: every field, its place and caption per kind, its
// encoding, group and editability, the stable identifiers and the groups.
TEST(HeaderMapTest, TableMatchesTheHeaderLayout) {
  for (THeaderKind kind : kKinds) {
    TPage actual;
    for (const THeaderField& field : HeaderFields()) {
      const TFieldPlace& place = field.place[Index(kind)];
      const std::string caption(field.caption[Index(kind)]);
      if (place.offset < 0) {
        EXPECT_EQ(caption, "") << field.id << " has a caption where it is absent";
        continue;
      }
      actual[std::string(field.control)] = {place.offset, place.shift, caption};
    }
    EXPECT_EQ(actual, ExpectedPage(kind)) << "kind " << Index(kind);
  }

  // Encoding and width follow from the tables: four-digit, two-digit, one-digit and bit fields.
  const std::set<std::string> words = {"VIDEdit", "PIDEdit"};
  const std::set<std::string> nibbles = {"EnPortEdit", "DisPortEdit"};
  const std::set<std::string> notEditable = {"SigEdit",     "ResRevEdit", "CB1Res3Edit",
                                             "CB1Res0Edit", "StrResEdit", "NumLangsEdit"};
  for (const THeaderField& field : HeaderFields()) {
    const std::string control(field.control);
    const std::string group = GroupOf(control);
    EXPECT_EQ(field.group, group) << control;
    if (words.count(control)) {
      EXPECT_EQ(field.encoding, TFieldEncoding::Word16) << control;
      EXPECT_EQ(field.width, 16) << control;
    } else if (nibbles.count(control)) {
      EXPECT_EQ(field.encoding, TFieldEncoding::Nibble) << control;
      EXPECT_EQ(field.width, 4) << control;
    } else if (!group.empty()) {
      EXPECT_EQ(field.encoding, TFieldEncoding::Bit) << control;
      EXPECT_EQ(field.width, 1) << control;
    } else {
      EXPECT_EQ(field.encoding, TFieldEncoding::Byte) << control;
      EXPECT_EQ(field.width, 8) << control;
    }
    EXPECT_EQ(field.editable, notEditable.count(control) == 0) << control;
    for (THeaderKind kind : kKinds) {
      // Only the two "Reserved" bytes of a 0xD4 header are shown without accepting typing.
      const bool readOnly =
          kind == THeaderKind::D4 && (control == "ResIntCtlEdit" || control == "ResExtCtlEdit");
      EXPECT_EQ(field.place[Index(kind)].readOnly, readOnly) << control;
    }
  }

  // Identifiers: stable names for the command-line tool and JSON.
  std::map<std::string, std::string> expectedIds;
  std::istringstream ids(
      "signature=SigEdit vid=VIDEdit pid=PIDEdit reserved_5=ResRevEdit "
      "device_revision=DevRevEdit oc_timer_enabled=EnPortEdit oc_timer_disabled=DisPortEdit "
      "max_power_fs=MaxPwrFSEdit max_power_hs=MaxPwrHSEdit internal_control=ResIntCtlEdit "
      "external_control=ResExtCtlEdit controller_power_fs_bp=CtlrPwrFSBPEdit "
      "controller_power_hs_bp=CtlrPwrHSBPEdit controller_power_fs_sp=CtlrPwrFSSPEdit "
      "controller_power_hs_sp=CtlrPwrHSSPEdit power_on_timer=PwrOnTimeEdit "
      "illegal_descriptor=IllegalDescEdit compound_device=CmpdDevEdit full_speed_only=FSOnlyEdit "
      "no_indicators=NoIndicEdit config1_reserved_3=CB1Res3Edit gang_powered=GangPwrdEdit "
      "single_tt=SingleTTEdit config1_reserved_0=CB1Res0Edit amber_led_polarity=AmberLEDPolEdit "
      "green_led_polarity=GreenLEDPolEdit self_powerable=SelfPwrEdit "
      "modulate_indicators=ModIndicEdit power_control_polarity=PwrCtlPolEdit "
      "overcurrent_polarity=OCPolEdit overcurrent_mode_1=OCMode1Edit "
      "overcurrent_mode_2=OCMode2Edit write_protect=WriteProtectEdit num_languages=NumLangsEdit "
      "string_reserved=StrResEdit string_interface_1=IF1Edit string_interface_0=IF0Edit "
      "string_config_hs=CfgHSEdit string_config_fs=CfgFSEdit string_serial_number=SerNumEdit "
      "string_product=ProdEdit string_manufacturer=MfgEdit ");
  for (std::string pair; ids >> pair;)
    expectedIds[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
  std::map<std::string, std::string> actualIds;
  for (const THeaderField& field : HeaderFields()) {
    const std::string id(field.id);
    for (char c : id)
      EXPECT_TRUE(std::islower(static_cast<unsigned char>(c)) || std::isdigit(c) || c == '_') << id;
    EXPECT_TRUE(actualIds.emplace(id, field.control).second) << "duplicate id " << id;
    EXPECT_EQ(FindHeaderField(id), &field);
  }
  for (int port = 0; port < 8; ++port) {
    expectedIds["active_port_" + std::to_string(port)] = "ActPort" + std::to_string(port) + "Edit";
    expectedIds["removable_port_" + std::to_string(port)] =
        "RemPort" + std::to_string(port) + "Edit";
  }
  EXPECT_EQ(actualIds, expectedIds);
  EXPECT_EQ(FindHeaderField("VID"), nullptr);

  // Groups: caption, the form's Tag, and the byte each kind puts them at.
  struct ExpectedGroup {
    const char* control;
    const char* caption;
    int tag;
    int place[4];
  };
  const ExpectedGroup groups[] = {
      {"OCTimersGrp", "Over Current Timers", 7, {-1, 7, 7, 7}},
      {"CfgBits1Grp", "Config Bits 1", 17, {-1, 12, 17, 17}},
      {"CfgBits2Grp", "Config Bits 2", 18, {-1, -1, 18, 18}},
      {"SupportedStringsGrp", "Supported Strings", 21, {-1, -1, 21, 21}},
      {"ActPortGrp", "Active Ports", 22, {-1, 8, 22, 22}},
      {"RemPortGrp", "Removable Ports", 23, {-1, 8, 23, 23}},
  };
  ASSERT_EQ(HeaderGroups().size(), std::size(groups));
  for (size_t g = 0; g < std::size(groups); ++g) {
    const THeaderGroup& group = HeaderGroups()[g];
    EXPECT_EQ(group.control, groups[g].control);
    EXPECT_EQ(group.caption, groups[g].caption);
    EXPECT_EQ(group.tag, groups[g].tag);
    EXPECT_EQ(FindHeaderGroup(group.id), &group);
    EXPECT_EQ(FindHeaderGroup(group.control), &group);
    for (THeaderKind kind : kKinds)
      EXPECT_EQ(group.place[Index(kind)], groups[g].place[Index(kind)]) << group.control;
  }
}

// Every bit of each kind's header belongs to exactly one field.
TEST(HeaderMapTest, FieldsTileTheHeader) {
  for (THeaderKind kind : kKinds) {
    std::vector<int> owners(24 * 8, 0);
    for (const THeaderField& field : HeaderFields()) {
      const TFieldPlace& place = field.place[Index(kind)];
      if (place.offset < 0)
        continue;
      ASSERT_LT(place.offset * 8 + place.shift + field.width, kHeaderLength[Index(kind)] * 8 + 1)
          << field.id << " lies past the header";
      for (int bit = 0; bit < field.width; ++bit)
        ++owners[place.offset * 8 + place.shift + bit];
    }
    for (int bit = 0; bit < kHeaderLength[Index(kind)] * 8; ++bit) {
      EXPECT_EQ(owners[bit], 1) << "kind " << Index(kind) << " byte " << bit / 8 << " bit "
                                << bit % 8;
    }
  }
}

TEST(HeaderMapTest, Kinds) {
  for (int signature = 0; signature < 256; ++signature) {
    THeaderKind kind = THeaderKind::D3;
    const bool known =
        signature == 0xD0 || signature == 0xD2 || signature == 0xD3 || signature == 0xD4;
    EXPECT_EQ(HeaderKindOf(static_cast<uint8_t>(signature), kind), known) << signature;
    if (known) {
      EXPECT_EQ(SignatureOf(kind), signature);
    }
  }
}

std::vector<uint8_t> Bytes(uint8_t signature, uint8_t fill = 0) {
  std::vector<uint8_t> bytes(24, fill);
  bytes[0] = signature;
  if (signature == 0xD4) {
    bytes[20] = 0; // no languages and no strings keep a 0xD4 image valid
    bytes[21] = 0;
  }
  return bytes;
}

std::vector<uint8_t> Dump(const TEEImage& image) {
  std::vector<uint8_t> bytes(TEEImage::kBufferSize);
  for (uint32_t i = 0; i < bytes.size(); ++i)
    bytes[i] = image.GetByte(static_cast<int32_t>(i));
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
        const std::vector<uint8_t> before = Dump(image);
        ASSERT_TRUE(WriteHeaderField(image, field, kind, value)) << field.id;
        EXPECT_EQ(ReadHeaderField(image, field, kind), value) << field.id;
        std::vector<uint8_t> after = Dump(image);
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
    const std::vector<uint8_t> before = Dump(image);
    const uint32_t length = image.GetLength();
    EXPECT_FALSE(WriteHeaderField(image, Field(c.id), kind, c.value)) << c.what;
    EXPECT_EQ(Dump(image), before) << c.what;
    EXPECT_EQ(image.GetLength(), length) << c.what;
  }
  // A field that cannot be typed into still "accepts" the value it holds.
  std::vector<uint8_t> bytes = Bytes(0xD3);
  TEEImage image(bytes.data(), 24);
  EXPECT_TRUE(WriteHeaderField(image, Field("signature"), THeaderKind::D3, 0xD3));
  EXPECT_TRUE(
      WriteHeaderField(image, Field("internal_control"), THeaderKind::D3, 7)); // 0xD3: typed
}

TEST(HeaderMapTest, SupportedStringBitReshapesTheStringArea) {
  // One language (0x0409), the manufacturer string "A".
  std::vector<uint8_t> bytes = Bytes(0xD4);
  bytes[20] = 1;
  bytes[21] = 0x01;
  const uint8_t tail[] = {0x09, 0x04, 28, 0, 0x04, 0x03, 'A', 0};
  bytes.insert(bytes.end(), std::begin(tail), std::end(tail));
  TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
  ASSERT_TRUE(image.IsValid());
  ASSERT_EQ(image.GetLength(), 32u);

  ASSERT_TRUE(WriteHeaderField(image, Field("string_product"), THeaderKind::D4, 1));
  EXPECT_EQ(image.GetSupportedStrings(), 0x03);
  EXPECT_EQ(image.GetLength(), 38u); // a row of one entry and one placeholder
  EXPECT_EQ(image.GetStringLength(0x0409, TEEImage::kProduct), 4);
  EXPECT_EQ(image.GetStringLength(0x0409, TEEImage::kManufacturer), 4);
  std::vector<uint8_t> saved(image.GetLength());
  ASSERT_TRUE(image.CopyTo(saved.data(), image.GetLength()));
  TEEImage reloaded(saved.data(), static_cast<int32_t>(saved.size()));
  EXPECT_TRUE(reloaded.IsValid());

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
