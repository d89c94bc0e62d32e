#include "HeaderMap.h"

#include "Eeimage.h"

#include <array>

namespace {

// Short forms for the table below. Columns of place and caption: 0xD0, 0xD2, 0xD3, 0xD4.
constexpr TFieldPlace No{};
constexpr TFieldPlace At(int16_t offset, uint8_t shift = 0) {
  return {offset, shift, false};
}
constexpr TFieldPlace Shown(int16_t offset) {
  return {offset, 0, true};
}

constexpr auto B = TFieldEncoding::Byte;
constexpr auto W = TFieldEncoding::Word16;
constexpr auto N = TFieldEncoding::Nibble;
constexpr auto Bit = TFieldEncoding::Bit;

// clang-format off
constexpr THeaderField kFields[] = {
  // Offsets 0-6: every kind.
  {"signature", "SigEdit", "", B, 8, false, {At(0), At(0), At(0), At(0)},
   {"Signature", "Signature", "Signature", "Signature"}},
  {"vid", "VIDEdit", "", W, 16, true, {At(1), At(1), At(1), At(1)}, {"VID", "VID", "VID", "VID"}},
  {"pid", "PIDEdit", "", W, 16, true, {At(3), At(3), At(3), At(3)}, {"PID", "PID", "PID", "PID"}},
  {"reserved_5", "ResRevEdit", "", B, 8, false, {At(5), At(5), At(5), At(5)},
   {"Reserved", "Reserved", "Reserved", "Reserved"}},
  {"device_revision", "DevRevEdit", "", B, 8, true, {At(6), At(6), At(6), At(6)},
   {"Device Revision (MSB)", "Device Revision (MSB)", "Device Revision (MSB)",
    "Device Revision (MSB)"}},

  // Offset 7: the over-current timers, one nibble each.
  {"oc_timer_enabled", "EnPortEdit", "OCTimersGrp", N, 4, true, {No, At(7, 4), At(7, 4), At(7, 4)},
   {"", "Enabled Port (4)", "Enabled Port (4)", "Enabled Port (4)"}},
  {"oc_timer_disabled", "DisPortEdit", "OCTimersGrp", N, 4, true, {No, At(7), At(7), At(7)},
   {"", "Disabled Port (4)", "Disabled Port (4)", "Disabled Port (4)"}},

  // Offsets 8-16 of the 24-byte header; a 0xD2 header packs four of them into 9-12.
  {"max_power_fs", "MaxPwrFSEdit", "", B, 8, true, {No, At(9), At(8), At(8)},
   {"", "Max Power", "Max Power (FS)", "Max Power (FS)"}},
  {"max_power_hs", "MaxPwrHSEdit", "", B, 8, true, {No, No, At(9), At(9)},
   {"", "", "Max Power (HS)", "Max Power (HS)"}},
  {"internal_control", "ResIntCtlEdit", "", B, 8, true, {No, No, At(10), Shown(10)},
   {"", "", "Internal Control", "Reserved"}},
  {"external_control", "ResExtCtlEdit", "", B, 8, true, {No, No, At(11), Shown(11)},
   {"", "", "External Control", "Reserved"}},
  {"controller_power_fs_bp", "CtlrPwrFSBPEdit", "", B, 8, true, {No, At(10), At(12), At(12)},
   {"", "Controller Power", "Controller Power (FS, BP)", "Controller Power (FS,BP)"}},
  {"controller_power_hs_bp", "CtlrPwrHSBPEdit", "", B, 8, true, {No, No, At(13), At(13)},
   {"", "", "Controller Power (HS, BP)", "Controller Power (HS, BP)"}},
  {"controller_power_fs_sp", "CtlrPwrFSSPEdit", "", B, 8, true, {No, No, At(14), At(14)},
   {"", "", "Controller Power (FS, SP)", "Controller Power (FS, SP)"}},
  {"controller_power_hs_sp", "CtlrPwrHSSPEdit", "", B, 8, true, {No, No, At(15), At(15)},
   {"", "", "Controller Power (HS, SP)", "Controller Power (HS, SP)"}},
  {"power_on_timer", "PwrOnTimeEdit", "", B, 8, true, {No, At(11), At(16), At(16)},
   {"", "Power-On Timer", "Power-On Timer", "Power-On Timer"}},

  // Config Bits 1: offset 17, 0xD2 offset 12.
  {"illegal_descriptor", "IllegalDescEdit", "CfgBits1Grp", Bit, 1, true,
   {No, At(12, 7), At(17, 7), At(17, 7)},
   {"", "Illegal Descriptor", "Illegal Descriptor", "Illegal Descriptor"}},
  {"compound_device", "CmpdDevEdit", "CfgBits1Grp", Bit, 1, true,
   {No, At(12, 6), At(17, 6), At(17, 6)},
   {"", "Compound Device", "Compound Device", "Compound Device"}},
  {"full_speed_only", "FSOnlyEdit", "CfgBits1Grp", Bit, 1, true,
   {No, At(12, 5), At(17, 5), At(17, 5)},
   {"", "Full Speed Only", "Full Speed Only", "Full Speed Only"}},
  {"no_indicators", "NoIndicEdit", "CfgBits1Grp", Bit, 1, true,
   {No, At(12, 4), At(17, 4), At(17, 4)},
   {"", "No Indicators", "No Indicators", "No Indicators"}},
  {"config1_reserved_3", "CB1Res3Edit", "CfgBits1Grp", Bit, 1, false,
   {No, At(12, 3), At(17, 3), At(17, 3)}, {"", "Reserved", "Reserved", "Reserved"}},
  {"gang_powered", "GangPwrdEdit", "CfgBits1Grp", Bit, 1, true,
   {No, At(12, 2), At(17, 2), At(17, 2)}, {"", "Gang Powered", "Gang Powered", "Gang Powered"}},
  {"single_tt", "SingleTTEdit", "CfgBits1Grp", Bit, 1, true,
   {No, At(12, 1), At(17, 1), At(17, 1)}, {"", "Single TT", "Single TT", "Single TT"}},
  {"config1_reserved_0", "CB1Res0Edit", "CfgBits1Grp", Bit, 1, false,
   {No, At(12, 0), At(17, 0), At(17, 0)}, {"", "Reserved", "Reserved", "Reserved"}},

  // Config Bits 2: offset 18, 24-byte headers only.
  {"amber_led_polarity", "AmberLEDPolEdit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 7), At(18, 7)}, {"", "", "Amber LED Polarity", "Amber LED Polarity"}},
  {"green_led_polarity", "GreenLEDPolEdit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 6), At(18, 6)}, {"", "", "Green LED Polarity", "Green LED Polarity"}},
  {"self_powerable", "SelfPwrEdit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 5), At(18, 5)}, {"", "", "Self Powerable", "Self Powerable"}},
  {"modulate_indicators", "ModIndicEdit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 4), At(18, 4)}, {"", "", "Modulate Indicators", "Modulate Indicators"}},
  {"power_control_polarity", "PwrCtlPolEdit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 3), At(18, 3)}, {"", "", "Power Control Polarity", "Power Control Polarity"}},
  {"overcurrent_polarity", "OCPolEdit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 2), At(18, 2)}, {"", "", "Over-Current Polarity", "Over-Current Polarity"}},
  {"overcurrent_mode_1", "OCMode1Edit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 1), At(18, 1)}, {"", "", "Over-Current Mode 1", "Over-Current Mode 1"}},
  {"overcurrent_mode_2", "OCMode2Edit", "CfgBits2Grp", Bit, 1, true,
   {No, No, At(18, 0), At(18, 0)}, {"", "", "Over-Current Mode 2", "Over-Current Mode 2"}},

  {"write_protect", "WriteProtectEdit", "", B, 8, true, {No, No, At(19), At(19)},
   {"", "", "SPI Test Mode", "Write Protect"}},
  // Changes only with the language list; a field edit never writes it.
  {"num_languages", "NumLangsEdit", "", B, 8, false, {No, No, At(20), At(20)},
   {"", "", "Number of Languages", "Number of Languages"}},

  // Supported Strings: offset 21. In a 0xD4 image a change adds or removes descriptors.
  {"string_reserved", "StrResEdit", "SupportedStringsGrp", Bit, 1, false,
   {No, No, At(21, 7), At(21, 7)}, {"", "", "Reserved", "Reserved"}},
  {"string_interface_1", "IF1Edit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 6), At(21, 6)}, {"", "", "iInterface [1]", "iInterface [1]"}},
  {"string_interface_0", "IF0Edit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 5), At(21, 5)}, {"", "", "iInterface [0]", "iInterface [0]"}},
  {"string_config_hs", "CfgHSEdit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 4), At(21, 4)}, {"", "", "iConfiguration (HS)", "iConfiguration (HS)"}},
  {"string_config_fs", "CfgFSEdit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 3), At(21, 3)}, {"", "", "iConfiguration (FS)", "iConfiguration (FS)"}},
  {"string_serial_number", "SerNumEdit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 2), At(21, 2)}, {"", "", "iSerialNumber", "iSerialNumber"}},
  {"string_product", "ProdEdit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 1), At(21, 1)}, {"", "", "iProduct", "iProduct"}},
  {"string_manufacturer", "MfgEdit", "SupportedStringsGrp", Bit, 1, true,
   {No, No, At(21, 0), At(21, 0)}, {"", "", "iManufacturer", "iManufacturer"}},

  // Active ports: offset 22, port N = bit N. A 0xD2 header keeps ports 3-0 in bits 7-4 of byte 8.
  {"active_port_7", "ActPort7Edit", "ActPortGrp", Bit, 1, true, {No, No, At(22, 7), At(22, 7)},
   {"", "", "Ports [7..4]", "Ports [7..4]"}},
  {"active_port_6", "ActPort6Edit", "ActPortGrp", Bit, 1, true, {No, No, At(22, 6), At(22, 6)},
   {"", "", "Ports [7..4]", "Ports [7..4]"}},
  {"active_port_5", "ActPort5Edit", "ActPortGrp", Bit, 1, true, {No, No, At(22, 5), At(22, 5)},
   {"", "", "Ports [7..4]", "Ports [7..4]"}},
  {"active_port_4", "ActPort4Edit", "ActPortGrp", Bit, 1, true, {No, No, At(22, 4), At(22, 4)},
   {"", "", "Ports [7..4]", "Ports [7..4]"}},
  {"active_port_3", "ActPort3Edit", "ActPortGrp", Bit, 1, true,
   {No, At(8, 7), At(22, 3), At(22, 3)}, {"", "Ports [3..0]", "Ports [3..0]", "Ports [3..0]"}},
  {"active_port_2", "ActPort2Edit", "ActPortGrp", Bit, 1, true,
   {No, At(8, 6), At(22, 2), At(22, 2)}, {"", "Ports [3..0]", "Ports [3..0]", "Ports [3..0]"}},
  {"active_port_1", "ActPort1Edit", "ActPortGrp", Bit, 1, true,
   {No, At(8, 5), At(22, 1), At(22, 1)}, {"", "Ports [3..0]", "Ports [3..0]", "Ports [3..0]"}},
  {"active_port_0", "ActPort0Edit", "ActPortGrp", Bit, 1, true,
   {No, At(8, 4), At(22, 0), At(22, 0)}, {"", "Ports [3..0]", "Ports [3..0]", "Ports [3..0]"}},

  // Removable ports: offset 23, port N = bit N; a 0xD2 header keeps ports 3-0 in bits 3-0 of byte 8.
  {"removable_port_7", "RemPort7Edit", "RemPortGrp", Bit, 1, true, {No, No, At(23, 7), At(23, 7)},
   {"", "", "Port [7..4]", "Port [7..4]"}},
  {"removable_port_6", "RemPort6Edit", "RemPortGrp", Bit, 1, true, {No, No, At(23, 6), At(23, 6)},
   {"", "", "Port [7..4]", "Port [7..4]"}},
  {"removable_port_5", "RemPort5Edit", "RemPortGrp", Bit, 1, true, {No, No, At(23, 5), At(23, 5)},
   {"", "", "Port [7..4]", "Port [7..4]"}},
  {"removable_port_4", "RemPort4Edit", "RemPortGrp", Bit, 1, true, {No, No, At(23, 4), At(23, 4)},
   {"", "", "Port [7..4]", "Port [7..4]"}},
  {"removable_port_3", "RemPort3Edit", "RemPortGrp", Bit, 1, true,
   {No, At(8, 3), At(23, 3), At(23, 3)}, {"", "Port [3..0]", "Port [3..0]", "Port [3..0]"}},
  {"removable_port_2", "RemPort2Edit", "RemPortGrp", Bit, 1, true,
   {No, At(8, 2), At(23, 2), At(23, 2)}, {"", "Port [3..0]", "Port [3..0]", "Port [3..0]"}},
  {"removable_port_1", "RemPort1Edit", "RemPortGrp", Bit, 1, true,
   {No, At(8, 1), At(23, 1), At(23, 1)}, {"", "Port [3..0]", "Port [3..0]", "Port [3..0]"}},
  {"removable_port_0", "RemPort0Edit", "RemPortGrp", Bit, 1, true,
   {No, At(8, 0), At(23, 0), At(23, 0)}, {"", "Port [3..0]", "Port [3..0]", "Port [3..0]"}},
};

constexpr THeaderGroup kGroups[] = {
  {"oc_timers", "OCTimersGrp", "Over Current Timers", 7, {-1, 7, 7, 7}},
  {"config_bits_1", "CfgBits1Grp", "Config Bits 1", 17, {-1, 12, 17, 17}},
  {"config_bits_2", "CfgBits2Grp", "Config Bits 2", 18, {-1, -1, 18, 18}},
  {"supported_strings", "SupportedStringsGrp", "Supported Strings", 21, {-1, -1, 21, 21}},
  {"active_ports", "ActPortGrp", "Active Ports", 22, {-1, 8, 22, 22}},
  {"removable_ports", "RemPortGrp", "Removable Ports", 23, {-1, 8, 23, 23}},
};
// clang-format on

constexpr uint32_t MaxValue(const THeaderField& field) {
  return (1u << field.width) - 1u;
}

const TFieldPlace& PlaceOf(const THeaderField& field, THeaderKind kind) {
  return field.place[static_cast<int>(kind)];
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

} // namespace

bool HeaderKindOf(uint8_t signature, THeaderKind& kind) {
  switch (signature) {
  case 0xD0:
    kind = THeaderKind::D0;
    return true;
  case 0xD2:
    kind = THeaderKind::D2;
    return true;
  case 0xD3:
    kind = THeaderKind::D3;
    return true;
  case 0xD4:
    kind = THeaderKind::D4;
    return true;
  default:
    return false;
  }
}

uint8_t SignatureOf(THeaderKind kind) {
  static constexpr std::array<uint8_t, kHeaderKindCount> kSignatures{0xD0, 0xD2, 0xD3, 0xD4};
  return kSignatures[static_cast<int>(kind)];
}

std::span<const THeaderField> HeaderFields() {
  return kFields;
}

std::span<const THeaderGroup> HeaderGroups() {
  return kGroups;
}

const THeaderField* FindHeaderField(std::string_view id) {
  for (const THeaderField& field : kFields) {
    if (field.id == id)
      return &field;
  }
  return nullptr;
}

const THeaderGroup* FindHeaderGroup(std::string_view idOrControl) {
  for (const THeaderGroup& group : kGroups) {
    if (group.id == idOrControl || group.control == idOrControl)
      return &group;
  }
  return nullptr;
}

bool IsHeaderFieldEditable(const THeaderField& field, THeaderKind kind) {
  const TFieldPlace& place = PlaceOf(field, kind);
  return place.offset >= 0 && field.editable && !place.readOnly;
}

uint32_t ReadHeaderField(const TEEImage& image, const THeaderField& field, THeaderKind kind) {
  const TFieldPlace& place = PlaceOf(field, kind);
  if (place.offset < 0)
    return 0;
  const uint32_t low = image.GetByte(place.offset);
  switch (field.encoding) {
  case TFieldEncoding::Byte:
    return low;
  case TFieldEncoding::Word16:
    return low | (static_cast<uint32_t>(image.GetByte(place.offset + 1)) << 8);
  case TFieldEncoding::Nibble:
  case TFieldEncoding::Bit:
    return (low >> place.shift) & MaxValue(field);
  }
  return 0;
}

bool WriteHeaderField(TEEImage& image, const THeaderField& field, THeaderKind kind,
                      uint32_t value) {
  const TFieldPlace& place = PlaceOf(field, kind);
  if (place.offset < 0 || value > MaxValue(field))
    return false;
  if (ReadHeaderField(image, field, kind) == value)
    return true;
  if (!IsHeaderFieldEditable(field, kind))
    return false;

  const uint8_t old = image.GetByte(place.offset);
  const uint8_t bits = static_cast<uint8_t>(MaxValue(field) << place.shift);
  const uint8_t merged = static_cast<uint8_t>((old & ~bits) | (value << place.shift));

  if (field.group == "SupportedStringsGrp" && kind == THeaderKind::D4) {
    // Byte 21 shapes the string area: storing it directly would leave the offset table
    // describing rows that are not there.
    if (!image.SetSupportedStrings(merged))
      return false;
  } else if (field.encoding == TFieldEncoding::Word16) {
    image.SetByte(place.offset, static_cast<uint8_t>(value & 0xFF));
    image.SetByte(place.offset + 1, static_cast<uint8_t>(value >> 8));
  } else {
    image.SetByte(place.offset, merged);
  }
  // An image without a buffer, or a signature that does not match the kind, stores nothing.
  return ReadHeaderField(image, field, kind) == value;
}

std::string FormatHeaderField(const THeaderField& field, uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  int digits = (field.width + 3) / 4;
  // A value wider than the field keeps all its digits rather than hiding the excess.
  while (digits > 0 || value != 0) {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
    --digits;
  }
  return text;
}

bool ParseHeaderField(const THeaderField& field, std::string_view text, uint32_t& value) {
  if (text.empty())
    return false;
  if (field.encoding == TFieldEncoding::Bit) {
    if (text != "0" && text != "1")
      return false;
    value = text == "1" ? 1 : 0;
    return true;
  }
  uint32_t result = 0;
  for (char c : text) {
    const int digit = DigitValue(c);
    if (digit < 0)
      return false;
    result = result * 16 + static_cast<uint32_t>(digit);
    if (result > MaxValue(field))
      return false;
  }
  value = result;
  return true;
}
