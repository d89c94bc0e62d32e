#include "ExampleImages.h"
#include "HeaderMap.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> BytesOf(const TEEImage& image) {
  std::vector<uint8_t> bytes(image.GetLength());
  EXPECT_TRUE(image.CopyTo(bytes.data(), image.GetLength()));
  return bytes;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::u16string StringOf(const TEEImage& image, uint16_t langid, uint8_t kind) {
  const uint8_t length = image.GetStringLength(langid, kind);
  if (length == 0)
    return {};
  std::vector<uint8_t> descriptor(length);
  descriptor[0] = length;
  if (!image.GetStringDescriptor(langid, kind, descriptor.data()))
    return {};
  EXPECT_EQ(descriptor[1], 3);
  std::u16string text;
  for (size_t i = 2; i + 1 < descriptor.size(); i += 2)
    text.push_back(static_cast<char16_t>(descriptor[i] | (descriptor[i + 1] << 8)));
  return text;
}

uint32_t Read(const TEEImage& image, const char* id) {
  THeaderKind kind;
  EXPECT_TRUE(HeaderKindOf(image.GetByte(0), kind));
  return ReadHeaderField(image, *FindHeaderField(id), kind);
}

class TempFolder {
public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "korvane-examples-XXXXXX").string();
    FPath = mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  const fs::path& Path() const { return FPath; }

private:
  fs::path FPath;
};

TEST(ExampleImagesTest, EveryKindIsValidAndReloadsUnchanged) {
  const std::map<std::string, std::pair<uint8_t, uint32_t>> expected = {
      {"example-d0.iic", {0xD0, 7}},        {"example-d2.iic", {0xD2, 13}},
      {"example-d3.iic", {0xD3, 24}},       {"example-d4.iic", {0xD4, 0}},
      {"example-d4-single.bin", {0xD4, 0}},
  };
  std::set<uint32_t> pids;
  const std::vector<TExampleImage> images = MakeExampleImages();
  ASSERT_EQ(images.size(), expected.size());
  for (const TExampleImage& example : images) {
    ASSERT_TRUE(expected.count(example.fileName)) << example.fileName;
    const auto [signature, length] = expected.at(example.fileName);
    const TEEImage& image = *example.image;
    EXPECT_TRUE(image.IsValid()) << example.fileName;
    EXPECT_EQ(image.GetByte(0), signature) << example.fileName;
    if (length != 0) {
      EXPECT_EQ(image.GetLength(), length) << example.fileName;
    }
    EXPECT_EQ(Read(image, "vid"), 0x1234u);
    EXPECT_TRUE(pids.insert(Read(image, "pid")).second) << "PIDs tell the examples apart";

    const std::vector<uint8_t> bytes = BytesOf(image);
    TEEImage reloaded(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(reloaded.IsValid()) << example.fileName;
    EXPECT_EQ(reloaded.GetLength(), image.GetLength()) << example.fileName;
    EXPECT_EQ(BytesOf(reloaded), bytes) << example.fileName;
  }
}

TEST(ExampleImagesTest, TwoLanguageImageHoldsADistinctTextInEveryString) {
  const auto image = MakeExampleD4();
  ASSERT_TRUE(image->IsValid());
  ASSERT_EQ(image->GetLanguageCount(), 2);
  uint16_t langids[2] = {};
  ASSERT_TRUE(image->GetLanguages(langids, 2));
  EXPECT_EQ(langids[0], 0x0409);
  EXPECT_EQ(langids[1], 0x0407);
  EXPECT_EQ(image->GetSupportedStrings(), 0x7F);
  EXPECT_LE(image->GetLength(), 440u) << "leaves room to retype texts in the window";

  std::map<std::pair<uint16_t, uint8_t>, std::u16string> expected;
  for (const TExampleString& s : ExampleD4Strings())
    expected[{s.langid, s.kind}] = TTextCodec::Utf8ToUtf16(s.text);
  std::set<std::u16string> texts;
  for (uint16_t langid : langids) {
    for (uint8_t kind = 0x01; kind < 0x80; kind <<= 1) {
      // The serial number is one descriptor: listed under 0x0409, shown under both.
      const uint16_t listed = kind == TEEImage::kSerialNumber ? 0x0409 : langid;
      ASSERT_TRUE(expected.count({listed, kind})) << langid << " " << int(kind);
      const std::u16string text = StringOf(*image, langid, kind);
      EXPECT_EQ(text, expected.at({listed, kind})) << langid << " " << int(kind);
      // The window shows texts in an 8-bit set; every example text must survive it.
      EXPECT_TRUE(TTextCodec::FitsCp1252(text)) << langid << " " << int(kind);
      texts.insert(text);
    }
  }
  EXPECT_EQ(texts.size(), 13u) << "six texts per language and one shared serial number";
  EXPECT_EQ(StringOf(*image, 0x0407, TEEImage::kProduct), u"Beispielger\u00E4t");
}

TEST(ExampleImagesTest, WritesFilesAndSummaries) {
  TempFolder temp;
  const fs::path folder = temp.Path() / "new" / "examples"; // created on the way
  std::ostringstream out, err;
  ASSERT_TRUE(WriteExampleImages(folder.string(), out, err)) << err.str();
  EXPECT_EQ(err.str(), "");
  for (const TExampleImage& example : MakeExampleImages()) {
    const fs::path path = folder / example.fileName;
    EXPECT_EQ(ReadFile(path), BytesOf(*example.image)) << path;
    TEEImage loaded(path.string());
    EXPECT_TRUE(loaded.IsValid()) << path;
  }
  const std::string summary = out.str();
  for (const char* part :
       {"example-d0.iic: kind 0xD0, 7 bytes, no string area", "example-d2.iic: kind 0xD2, 13 bytes",
        "example-d3.iic: kind 0xD3, 24 bytes", "languages 0x0409 0x0407, strings 0x7F",
        "  0x0407 iProduct: \"Beispielger\xC3\xA4t\"", "  0x0407 iSerialNumber: \"KV-D4-0001\"",
        "example-d4-single.bin: kind 0xD4", "languages 0x0409, strings 0x07"}) {
    EXPECT_NE(summary.find(part), std::string::npos) << part << "\n" << summary;
  }
}

TEST(ExampleImagesTest, ReportsAFolderThatCannotBeMade) {
  TempFolder temp;
  const fs::path blocker = temp.Path() / "file";
  std::ofstream(blocker) << "x";
  std::ostringstream out, err;
  EXPECT_FALSE(WriteExampleImages((blocker / "sub").string(), out, err));
  EXPECT_NE(err.str(), "");
  EXPECT_EQ(ReadFile(blocker), std::vector<uint8_t>{'x'});
}

TEST(ExampleImagesTest, DescribesAnInvalidImage) {
  const uint8_t bytes[] = {0xD1, 1, 2, 3};
  TEEImage image(bytes, 4);
  EXPECT_EQ(DescribeImage(image), "kind 0xD1, 4 bytes, invalid, no string area\n");
}

TEST(ExampleImagesTest, EepromIsCreatedOnlyWhenMissing) {
  TempFolder temp;
  const fs::path path = temp.Path() / "hub.eeprom";
  ASSERT_EQ(CreateExampleEeprom(path.string()), TEepromResult::Created);
  const std::vector<uint8_t> eeprom = ReadFile(path);
  ASSERT_EQ(eeprom.size(), kExampleEepromSize);
  const std::vector<uint8_t> image = BytesOf(*MakeExampleD4());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), eeprom.begin()));
  for (size_t i = image.size(); i < eeprom.size(); ++i)
    ASSERT_EQ(eeprom[i], 0xFF) << i;
  TEEImage read(eeprom.data(), static_cast<int32_t>(eeprom.size())); // as a device read gets it
  EXPECT_TRUE(read.IsValid());
  EXPECT_EQ(read.GetLength(), image.size());

  // Whatever is there already stays as it is: a file, or a link that points nowhere.
  const fs::path existing = temp.Path() / "mine.eeprom";
  std::ofstream(existing) << "user data";
  EXPECT_EQ(CreateExampleEeprom(existing.string()), TEepromResult::Exists);
  const std::string userData = "user data";
  EXPECT_EQ(ReadFile(existing), std::vector<uint8_t>(userData.begin(), userData.end()));
  const fs::path dangling = temp.Path() / "link.eeprom";
  fs::create_symlink(temp.Path() / "nowhere", dangling);
  EXPECT_EQ(CreateExampleEeprom(dangling.string()), TEepromResult::Exists);
  EXPECT_FALSE(fs::exists(temp.Path() / "nowhere"));

  EXPECT_EQ(CreateExampleEeprom((temp.Path() / "no" / "such" / "folder").string()),
            TEepromResult::Failed);
  EXPECT_FALSE(fs::exists(temp.Path() / "no"));
}

} // namespace
