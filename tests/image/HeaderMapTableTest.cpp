// The header field table checked whole against the header layout of every kind.

#include "EeimageTestImages.h"
#include "HeaderMap.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testimages;

namespace {

constexpr int kHeaderLength[] = {7, 13, 24, 24};

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
} // namespace
