#include "CliImageSupport.h"
#include "CliJson.h"
#include "CliTestSupport.h"
#include "Eeimage.h"

#include <bit>
#include <random>

namespace clitest {
namespace {

// A random valid image of any kind: random header bytes and, for 0xD4, random languages, string
// kinds and texts, including characters the 8-bit set lacks and unpaired surrogates.
std::vector<uint8_t> RandomImage(std::mt19937& random) {
  const uint8_t signatures[] = {0xD0, 0xD2, 0xD3, 0xD4};
  const uint8_t signature = signatures[random() % 4];
  if (signature != 0xD4) {
    std::vector<uint8_t> bytes = FixedImage(signature);
    for (size_t i = 1; i < bytes.size(); ++i) {
      bytes[i] = static_cast<uint8_t>(random());
    }
    return bytes;
  }
  const char16_t pool[] = {u'a', u'Z',  u'0',  u' ',      u'\u00E9', u'\u20AC', u'\u4E2D',
                           u'"', u'\\', u'\n', u'\u0081', 0xD83D,    0xDE00,    0xDC00};
  while (true) {
    const size_t n = random() % 4;
    const uint8_t mask = n == 0 ? 0 : static_cast<uint8_t>(1 + random() % 255);
    std::vector<uint16_t> langids;
    while (langids.size() < n) {
      const uint16_t langid = static_cast<uint16_t>(random());
      if (std::find(langids.begin(), langids.end(), langid) == langids.end()) {
        langids.push_back(langid);
      }
    }
    std::vector<std::vector<std::u16string>> texts(std::popcount(mask));
    for (auto& row : texts) {
      for (size_t lang = 0; lang < std::max<size_t>(n, 1); ++lang) {
        std::u16string text;
        const size_t length = 1 + random() % 8;
        while (text.size() < length) {
          text += pool[random() % std::size(pool)];
        }
        if (text[0] == 0) {
          text[0] = u'x';
        }
        row.push_back(text);
      }
    }
    std::vector<uint8_t> bytes = StringImage(langids, mask, texts);
    if (bytes.size() > 512) {
      continue;
    }
    for (const size_t i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 17, 18, 19, 22, 23}) {
      bytes[i] = static_cast<uint8_t>(random());
    }
    return bytes;
  }
}

class ExchangeTest : public TCliTest {
protected:
  std::string Export(const std::string& path) {
    const TRun run = Run({"export", path});
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out;
  }
  static std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  }
};

TEST_F(ExchangeTest, ExportThenImportGivesBackIdenticalBytes) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 200; ++round) {
    const std::vector<uint8_t> bytes = RandomImage(random);
    ASSERT_TRUE(TEEImage(bytes.data(), static_cast<int32_t>(bytes.size())).IsValid());
    const std::string path = WriteFile("in.bin", bytes);
    const std::string json = WriteText("in.json", Export(path));
    const TRun run = Run({"import", json, "-o", PathOf("out.bin")});
    ASSERT_EQ(run.code, 0) << run.err << "\n" << Export(path);
    ASSERT_EQ(ReadFile("out.bin"), bytes) << "round " << round;
  }
}

TEST_F(ExchangeTest, ExportIsReadableJson) {
  const std::string text = Export(WriteFile("s.bin", SampleStringImage()));
  TJsonValue root;
  std::string error;
  ASSERT_TRUE(TCliJson::Parse(text, root, error)) << error;
  EXPECT_EQ(root.Find("kind")->text, "0xD4");
  EXPECT_EQ(root.Find("fields")->Find("pid")->text, "0403");
  EXPECT_EQ(root.Find("strings")->Find("0x0407")->Find("product")->text, "Verteiler");
  EXPECT_EQ(root.Find("languages")->items.size(), 2u);
  EXPECT_EQ(root.Find("bytes")->items[0].text.substr(0, 8), "D4 01 02");
}

TEST_F(ExchangeTest, ExportToAFile) {
  const std::string image = WriteFile("s.bin", SampleStringImage());
  const std::string json = Export(image);
  ASSERT_EQ(Run({"export", image, "-o", PathOf("s.json")}).code, 0);
  EXPECT_EQ(ReadFile("s.json"), std::vector<uint8_t>(json.begin(), json.end()));
  EXPECT_EQ(Run({"export", image, "-o", PathOf("no/folder/s.json")}).code, kCantCreate);
  ExpectSavedThroughLink(
      [&](const std::string& link) {
        return Run({"export", image, "-o", link});
      },
      std::vector<uint8_t>(json.begin(), json.end()));
}

TEST_F(ExchangeTest, HandEditsTakeEffect) {
  const std::string exported = Export(WriteFile("s.bin", SampleStringImage()));
  std::string edited = Replace(exported, "\"vid\": \"0201\"", "\"vid\": \"ABCD\"");
  edited = Replace(edited, "\"product\": \"Verteiler\"", "\"product\": \"Schalter\"");
  edited = Replace(edited, "\"single_tt\": \"0\"", "\"single_tt\": \"1\"");
  edited = Replace(edited, "[\"0x0409\", \"0x0407\"]", "[\"0x0409\", \"0x0407\", \"0x040C\"]");
  edited = Replace(edited, "\"string_config_fs\": \"0\"", "\"string_config_fs\": \"1\"");
  const TRun run = Run({"import", WriteText("e.json", edited), "-o", PathOf("out.bin")});
  ASSERT_EQ(run.code, 0) << run.err;
  TEEImage image(PathOf("out.bin"));
  ASSERT_TRUE(image.IsValid());
  EXPECT_EQ(image.GetByte(1), 0xCD);
  EXPECT_EQ(image.GetByte(2), 0xAB);
  EXPECT_EQ(image.GetByte(17) & 0x02, 0x02);
  EXPECT_EQ(image.GetSupportedStrings(), 0x0F);
  EXPECT_EQ(TCliImageSupport::Languages(image), (std::vector<uint16_t>{0x0409, 0x0407, 0x040C}));
  EXPECT_EQ(TCliImageSupport::ReadString(image, 0x0407, TEEImage::kProduct), "Schalter");
  EXPECT_EQ(TCliImageSupport::ReadString(image, 0x0409, TEEImage::kProduct), "Hub");
  EXPECT_EQ(TCliImageSupport::ReadString(image, 0x040C, TEEImage::kSerialNumber), "0001");
  EXPECT_EQ(TCliImageSupport::ReadString(image, 0x040C, TEEImage::kConfigFS), " ");
}

TEST_F(ExchangeTest, ImportRefusals) {
  const std::string exported = Export(WriteFile("s.bin", SampleStringImage()));
  // Each is refused as data, leaving the output file alone.
  const std::pair<const char*, std::string> cases[] = {
      {"not JSON", "{"},
      {"not an object", "[]"},
      {"other format", Replace(exported, "korvane-image", "other")},
      {"field renamed", Replace(exported, "\"vid\"", "\"vendor\"")},
      {"wider than the field", Replace(exported, "\"vid\": \"0201\"", "\"vid\": \"12345\"")},
      {"signature field changed",
       Replace(exported, "\"signature\": \"D4\"", "\"signature\": \"D3\"")},
      {"signature byte changed",
       Replace(exported, "\"bytes\": [\n    \"D4", "\"bytes\": [\n    \"D1")},
      {"languages reordered",
       Replace(exported, "\"0x0409\", \"0x0407\"]", "\"0x0407\", \"0x0409\"]")},
      {"strings of another language", Replace(exported, "\"0x0407\": {", "\"0x0411\": {")},
      {"empty serial number", Replace(exported, "\"serial\": \"0001\"", "\"serial\": \"\"")},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> old = {0xD0, 1, 2, 3, 4, 5, 6};
    const std::string out = WriteFile("out.bin", old);
    const TRun run = Run({"import", WriteText("e.json", text), "-o", out});
    EXPECT_EQ(run.code, kData) << run.err;
    EXPECT_EQ(ReadFile(out), old);
  }
  EXPECT_EQ(Run({"import", PathOf("missing.json"), "-o", PathOf("x.bin")}).code, kNoInput);
  // A folder is no readable input; an empty file is readable but holds no export.
  EXPECT_EQ(Run({"import", FFolder.string(), "-o", PathOf("x.bin")}).code, kNoInput);
  EXPECT_EQ(Run({"import", WriteText("empty.json", ""), "-o", PathOf("x.bin")}).code, kData);
  EXPECT_FALSE(std::filesystem::exists(PathOf("x.bin")));
  EXPECT_EQ(Run({"import", WriteText("e.json", exported)}).code, kUsage);
  EXPECT_EQ(Run({"export", PathOf("missing.bin")}).code, kNoInput);
  EXPECT_EQ(Run({"export", WriteFile("bad.bin", {0x00})}).code, kData);
}

TEST_F(ExchangeTest, DiffOfEqualImages) {
  const std::string a = WriteFile("a.bin", SampleStringImage());
  // Bytes beyond the image's length are not part of it.
  std::vector<uint8_t> padded = SampleStringImage();
  padded.resize(padded.size() + 5, 0xEE);
  const std::string b = WriteFile("b.bin", padded);
  const TRun run = Run({"diff", a, b});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "");
}

TEST_F(ExchangeTest, DiffNamesFieldsStringsAndBytes) {
  // Byte 1 is the VID's low byte; the second to last is the last unit of the serial "0001".
  const std::vector<uint8_t> changed =
      Patched(SampleStringImage(), {{1, 0xCD}, {SampleStringImage().size() - 2, '2'}});
  const TRun run =
      Run({"diff", WriteFile("a.bin", SampleStringImage()), WriteFile("b.bin", changed)});
  EXPECT_EQ(run.code, kDiffers);
  EXPECT_THAT(run.out, HasSubstr("field vid: 0201 -> 02CD\n"));
  EXPECT_THAT(run.out, HasSubstr("string 0x0407 serial: \"0001\" -> \"0002\"\n"));
  EXPECT_THAT(run.out, HasSubstr("byte 0x001: 01 -> CD\n"));
}

TEST_F(ExchangeTest, DiffOfDifferentKindsAndLengths) {
  const TRun run = Run({"--json", "diff", WriteFile("a.bin", FixedImage(0xD0)),
                        WriteFile("b.bin", FixedImage(0xD2))});
  EXPECT_EQ(run.code, kDiffers);
  TJsonValue root;
  std::string error;
  ASSERT_TRUE(TCliJson::Parse(run.out, root, error)) << error << run.out;
  EXPECT_FALSE(root.Find("equal")->boolean);
  EXPECT_THAT(run.out, HasSubstr("{\"what\": \"byte 0x007\", \"a\": \"--\", \"b\": \"17\"}"));
  EXPECT_EQ(Run({"diff", PathOf("a.bin"), PathOf("none.bin")}).code, kNoInput);
}

} // namespace
} // namespace clitest
