#include "ExampleImages.h"

#include "HeaderMap.h"
#include "TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace {

constexpr uint16_t kEnglish = 0x0409;
constexpr uint16_t kGerman = 0x0407;

// Small enough that the whole image stays well below 512 bytes, leaving room to retype texts.
constexpr TExampleString kD4Strings[] = {
    {kEnglish, TEEImage::kManufacturer, "Korvane Project"},
    {kEnglish, TEEImage::kProduct, "Example Hub"},
    {kEnglish, TEEImage::kSerialNumber, "KV-D4-0001"},
    {kEnglish, TEEImage::kConfigFS, "FS config"},
    {kEnglish, TEEImage::kConfigHS, "HS config"},
    {kEnglish, TEEImage::kInterface0, "Interface 0"},
    {kEnglish, TEEImage::kInterface1, "Interface 1"},
    {kGerman, TEEImage::kManufacturer, "Korvane-Projekt"},
    {kGerman, TEEImage::kProduct, "Beispielgerät"},
    {kGerman, TEEImage::kConfigFS, "FS-Konfiguration"},
    {kGerman, TEEImage::kConfigHS, "HS-Konfiguration"},
    {kGerman, TEEImage::kInterface0, "Schnittstelle 0"},
    {kGerman, TEEImage::kInterface1, "Schnittstelle 1"},
};

constexpr TExampleString kSingleStrings[] = {
    {kEnglish, TEEImage::kManufacturer, "Korvane Project"},
    {kEnglish, TEEImage::kProduct, "Single-Language Hub"},
    {kEnglish, TEEImage::kSerialNumber, "KV-D4-0002"},
};

struct TKindName {
  uint8_t kind;
  const char* name;
};
constexpr TKindName kKindNames[] = {
    {TEEImage::kManufacturer, "iManufacturer"},   {TEEImage::kProduct, "iProduct"},
    {TEEImage::kSerialNumber, "iSerialNumber"},   {TEEImage::kConfigFS, "iConfiguration (FS)"},
    {TEEImage::kConfigHS, "iConfiguration (HS)"}, {TEEImage::kInterface0, "iInterface [0]"},
    {TEEImage::kInterface1, "iInterface [1]"},    {TEEImage::kReserved, "Reserved"},
};

void Require(bool ok, const std::string& what) {
  if (!ok)
    throw std::runtime_error("example image: " + what);
}

std::unique_ptr<TEEImage> Blank(uint8_t signature) {
  auto image = std::make_unique<TEEImage>(&signature, 1);
  Require(image->IsValid(), "a blank image of its kind is not valid");
  return image;
}

void SetFields(TEEImage& image,
               std::initializer_list<std::pair<std::string_view, uint32_t>> values) {
  THeaderKind kind;
  Require(HeaderKindOf(image.GetByte(0), kind), "unknown kind");
  for (const auto& [id, value] : values) {
    const THeaderField* field = FindHeaderField(id);
    Require(field != nullptr, "no field " + std::string(id));
    Require(WriteHeaderField(image, *field, kind, value), "field " + std::string(id));
  }
}

void SetString(TEEImage& image, uint16_t langid, uint8_t kind, std::string_view utf8) {
  const std::u16string text = TTextCodec::Utf8ToUtf16(utf8);
  Require(!text.empty() && text.size() <= 126, "text length");
  std::vector<uint8_t> descriptor{static_cast<uint8_t>(2 * text.size() + 2), 3};
  for (char16_t unit : text) {
    descriptor.push_back(static_cast<uint8_t>(unit & 0xFF));
    descriptor.push_back(static_cast<uint8_t>(unit >> 8));
  }
  Require(image.SetStringDescriptor(langid, kind, descriptor.data()),
          "string " + std::string(utf8));
}

std::unique_ptr<TEEImage> MakeStringImage(std::span<const uint16_t> langids, uint8_t mask,
                                          std::span<const TExampleString> strings, uint32_t pid) {
  auto image = Blank(0xD4);
  SetFields(*image, {{"vid", 0x1234},
                     {"pid", pid},
                     {"device_revision", 0x01},
                     {"oc_timer_enabled", 0x3},
                     {"oc_timer_disabled", 0x2},
                     {"max_power_fs", 0x32},
                     {"max_power_hs", 0x32},
                     {"controller_power_fs_bp", 0x64},
                     {"controller_power_hs_bp", 0x64},
                     {"controller_power_fs_sp", 0x01},
                     {"controller_power_hs_sp", 0x01},
                     {"power_on_timer", 0x32},
                     {"gang_powered", 1},
                     {"self_powerable", 1},
                     {"active_port_0", 1},
                     {"active_port_1", 1},
                     {"active_port_2", 1},
                     {"active_port_3", 1}});
  Require(image->SetLanguages(langids.data(), static_cast<uint8_t>(langids.size())), "languages");
  Require(image->GetLanguageCount() == langids.size(), "language count");
  Require(image->SetSupportedStrings(mask), "supported strings");
  Require(image->GetSupportedStrings() == mask, "mask");
  for (const TExampleString& s : strings)
    SetString(*image, s.langid, s.kind, s.text);
  return image;
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

} // namespace

std::unique_ptr<TEEImage> MakeExampleD0() {
  auto image = Blank(0xD0);
  SetFields(*image, {{"vid", 0x1234}, {"pid", 0x0D00}, {"device_revision", 0x01}});
  return image;
}

std::unique_ptr<TEEImage> MakeExampleD2() {
  auto image = Blank(0xD2);
  SetFields(*image, {{"vid", 0x1234},
                     {"pid", 0x0D02},
                     {"device_revision", 0x02},
                     {"oc_timer_enabled", 0x3},
                     {"oc_timer_disabled", 0x2},
                     {"active_port_0", 1},
                     {"active_port_1", 1},
                     {"active_port_2", 1},
                     {"removable_port_3", 1},
                     {"max_power_fs", 0x32},
                     {"controller_power_fs_bp", 0x64},
                     {"power_on_timer", 0x32},
                     {"single_tt", 1}});
  return image;
}

std::unique_ptr<TEEImage> MakeExampleD3() {
  auto image = Blank(0xD3);
  SetFields(*image, {{"vid", 0x1234},
                     {"pid", 0x0D03},
                     {"device_revision", 0x03},
                     {"oc_timer_enabled", 0x3},
                     {"oc_timer_disabled", 0x2},
                     {"max_power_fs", 0x32},
                     {"max_power_hs", 0x32},
                     {"internal_control", 0x10},
                     {"external_control", 0x20},
                     {"controller_power_fs_bp", 0x64},
                     {"controller_power_hs_bp", 0x64},
                     {"controller_power_fs_sp", 0x01},
                     {"controller_power_hs_sp", 0x01},
                     {"power_on_timer", 0x32},
                     {"compound_device", 1},
                     {"green_led_polarity", 1},
                     {"active_port_0", 1},
                     {"active_port_1", 1},
                     {"active_port_6", 1},
                     {"active_port_7", 1},
                     {"removable_port_7", 1}});
  return image;
}

std::unique_ptr<TEEImage> MakeExampleD4() {
  static constexpr uint16_t kLangids[] = {kEnglish, kGerman};
  return MakeStringImage(kLangids, 0x7F, kD4Strings, 0x0D04);
}

std::unique_ptr<TEEImage> MakeExampleD4Single() {
  static constexpr uint16_t kLangids[] = {kEnglish};
  return MakeStringImage(kLangids, 0x07, kSingleStrings, 0x0D14);
}

std::span<const TExampleString> ExampleD4Strings() {
  return kD4Strings;
}

std::vector<TExampleImage> MakeExampleImages() {
  std::vector<TExampleImage> images;
  images.push_back({"example-d0.iic", MakeExampleD0()});
  images.push_back({"example-d2.iic", MakeExampleD2()});
  images.push_back({"example-d3.iic", MakeExampleD3()});
  images.push_back({"example-d4.iic", MakeExampleD4()});
  images.push_back({"example-d4-single.bin", MakeExampleD4Single()});
  return images;
}

std::string DescribeImage(const TEEImage& image) {
  std::ostringstream out;
  const uint8_t signature = image.GetByte(0);
  out << "kind 0x" << Hex(signature, 2) << ", " << image.GetLength() << " bytes";
  if (!image.IsValid())
    out << ", invalid";
  if (signature != 0xD4 || !image.IsValid()) {
    out << ", no string area\n";
    return out.str();
  }
  const uint8_t count = image.GetLanguageCount();
  std::vector<uint16_t> langids(count);
  if (count > 0 && !image.GetLanguages(langids.data(), count))
    langids.clear();
  out << ", languages";
  if (langids.empty())
    out << " none";
  for (uint16_t langid : langids)
    out << " 0x" << Hex(langid, 4);
  out << ", strings 0x" << Hex(image.GetSupportedStrings(), 2) << "\n";
  for (uint16_t langid : langids) {
    for (const TKindName& kind : kKindNames) {
      const uint8_t length = image.GetStringLength(langid, kind.kind);
      if (length == 0)
        continue;
      std::vector<uint8_t> descriptor(length);
      descriptor[0] = length;
      if (!image.GetStringDescriptor(langid, kind.kind, descriptor.data()))
        continue;
      std::u16string text;
      for (size_t i = 2; i + 1 < descriptor.size(); i += 2)
        text.push_back(static_cast<char16_t>(descriptor[i] | (descriptor[i + 1] << 8)));
      out << "  0x" << Hex(langid, 4) << " " << kind.name << ": \"" << TTextCodec::Utf16ToUtf8(text)
          << "\"\n";
    }
  }
  return out.str();
}

bool WriteExampleImages(const std::string& folder, std::ostream& out, std::ostream& err) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    err << "cannot create " << folder << ": " << error.message() << "\n";
    return false;
  }
  bool ok = true;
  for (TExampleImage& example : MakeExampleImages()) {
    const std::string path = (std::filesystem::path(folder) / example.fileName).string();
    if (!example.image->SaveToFile(path)) {
      err << "cannot write " << path << "\n";
      ok = false;
      continue;
    }
    out << path << ": " << DescribeImage(*example.image);
  }
  return ok;
}

std::vector<uint8_t> ExampleEepromBytes() {
  const auto image = MakeExampleD4();
  std::vector<uint8_t> bytes(kExampleEepromSize, 0xFF);
  Require(image->CopyTo(bytes.data(), image->GetLength()), "copy");
  return bytes;
}

TEepromResult CreateExampleEeprom(const std::string& path) {
  const std::vector<uint8_t> bytes = ExampleEepromBytes();
  // O_EXCL: whatever exists at the path (a file, a link, even a dangling one) stays untouched.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    return errno == EEXIST ? TEepromResult::Exists : TEepromResult::Failed;
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    written += static_cast<size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (written != bytes.size() || !closed) {
    // A short file would be refused by the simulated hub anyway; do not leave it behind.
    const int cause = errno;
    ::unlink(path.c_str());
    errno = cause;
    return TEepromResult::Failed;
  }
  return TEepromResult::Created;
}
