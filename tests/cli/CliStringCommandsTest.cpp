#include "CliImageSupport.h"
#include "CliTestSupport.h"
#include "Eeimage.h"
#include "SerialNumber.h"

#include <optional>

namespace clitest {
namespace {

class StringAreaTest : public TCliTest {
protected:
  std::unique_ptr<TEEImage> Image(const std::string& path) const {
    return std::make_unique<TEEImage>(path);
  }
  std::string Text(const std::string& path, uint16_t langid, uint8_t kind) const {
    return TCliImageSupport::ReadString(*Image(path), langid, kind).value_or("<none>");
  }
  // An image of two languages whose strings leave 8 bytes free.
  std::vector<uint8_t> NearlyFullImage() const {
    const std::u16string longText(100, u'x');
    const std::u16string filler(28, u'y');
    auto bytes = StringImage({0x0409, 0x0407}, 0x03, {{longText, longText}, {filler, u"ab"}});
    EXPECT_EQ(bytes.size(), 504u);
    return bytes;
  }
  // Runs `command` on `path` followed by `list`.
  TRun Edit(const std::string& command, const std::string& path, std::vector<std::string> list) {
    list.insert(list.begin(), {command, path});
    return Run(list);
  }
};

TEST_F(StringAreaTest, StringsReplaceAndChangeTheSet) {
  struct TCase {
    std::vector<std::string> list;
    uint8_t mask;
  };
  const TCase cases[] = {
      {{"manufacturer,product"}, 0x03}, {{"+config-fs"}, 0x0F},
      {{"-serial,+interface0"}, 0x23},  {{"+interface1", "-manufacturer"}, 0x46},
      {{"product,reserved"}, 0x82},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.list[0]);
    const std::string path = WriteFile("s.bin", SampleStringImage());
    const TRun run = Edit("strings", path, c.list);
    ASSERT_EQ(run.code, 0) << run.err;
    const auto image = Image(path);
    EXPECT_TRUE(image->IsValid());
    EXPECT_EQ(image->GetSupportedStrings(), c.mask);
    // Kinds kept keep their text; new ones start as the one-space placeholder.
    if (c.mask & TEEImage::kProduct) {
      EXPECT_EQ(Text(path, 0x0407, TEEImage::kProduct), "Verteiler");
    }
    if (c.mask & 0x40) {
      EXPECT_EQ(Text(path, 0x0409, 0x40), " ");
    }
  }
}

TEST_F(StringAreaTest, FirstStringsOfAnImageWithoutLanguagesNameTheLanguage) {
  const std::string path = WriteFile("s.bin", StringImage({}, 0, {}));
  const TRun run = Run({"strings", path, "manufacturer,serial", "--lang", "0409"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto image = Image(path);
  EXPECT_TRUE(image->IsValid());
  EXPECT_EQ(TCliImageSupport::Languages(*image), std::vector<uint16_t>{0x0409});
  EXPECT_EQ(Text(path, 0x0409, TEEImage::kSerialNumber), " ");
}

TEST_F(StringAreaTest, LanguagesAddRemoveReplace) {
  struct TCase {
    std::vector<std::string> list;
    std::vector<uint16_t> langids;
  };
  const TCase cases[] = {
      {{"+0x040c"}, {0x0409, 0x0407, 0x040C}},  {{"-0407"}, {0x0409}},
      {{"0x0410,0x0407"}, {0x0407, 0x0410}}, // kept ones stay, in their order
      {{"+040C", "-0x0409"}, {0x0407, 0x040C}}, {{"+0409"}, {0x0409, 0x0407}}, // already there
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.list[0]);
    const std::string path = WriteFile("s.bin", SampleStringImage());
    const TRun run = Edit("languages", path, c.list);
    ASSERT_EQ(run.code, 0) << run.err;
    const auto image = Image(path);
    EXPECT_TRUE(image->IsValid());
    EXPECT_EQ(TCliImageSupport::Languages(*image), c.langids);
    // The serial number is shared: every language, new ones too, shows it.
    for (const uint16_t langid : c.langids) {
      EXPECT_EQ(Text(path, langid, TEEImage::kSerialNumber), "0001");
    }
    if (std::find(c.langids.begin(), c.langids.end(), 0x0407) != c.langids.end()) {
      EXPECT_EQ(Text(path, 0x0407, TEEImage::kManufacturer), "Akme");
    }
  }
}

TEST_F(StringAreaTest, LanguagesNoneClearsTheStringsToo) {
  const std::string path = WriteFile("s.bin", SampleStringImage());
  ASSERT_EQ(Run({"languages", path, "none"}).code, 0);
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 24u);
  EXPECT_EQ(bytes[20], 0);
  EXPECT_EQ(bytes[21], 0);
}

TEST_F(StringAreaTest, StringStoresOneDescriptorAndMovesTheRest) {
  const std::string path = WriteFile("s.bin", SampleStringImage());
  const uint32_t before = Image(path)->GetLength();
  const TRun run = Run({"string", path, "--lang", "0x0409", "--kind", "manufacturer", "Acme Corp"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto image = Image(path);
  EXPECT_TRUE(image->IsValid());
  EXPECT_EQ(image->GetLength(), before + 10);
  EXPECT_EQ(Text(path, 0x0409, TEEImage::kManufacturer), "Acme Corp");
  EXPECT_EQ(Text(path, 0x0407, TEEImage::kManufacturer), "Akme");
  EXPECT_EQ(Text(path, 0x0407, TEEImage::kProduct), "Verteiler");
  EXPECT_EQ(Text(path, 0x0409, TEEImage::kSerialNumber), "0001");
}

// What is printed is what is stored: the text after the 8-bit set, and how much of it was lost.
TEST_F(StringAreaTest, StoredTextIsPrintedWithWhatTheCharacterSetLacked) {
  const std::string path = WriteFile("s.bin", SampleStringImage());
  struct TCase {
    std::vector<std::string> args;
    std::string stored;
    const char* lost; // on stderr, or empty
  };
  // e-acute, A- and O-umlaut and the euro sign exist in the 8-bit set; the check mark, the CJK
  // character and the emoji (one character of two UTF-16 units) do not.
  const TCase cases[] = {
      {{"string", path, "--lang", "0407", "--kind", "product",
        "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x9C\x93"},
       "Caf\xC3\xA9 \xE2\x82\xAC ?",
       "1 character is not in the 8-bit character set"},
      {{"serial", path, "SN-\xC3\x84\xC3\x96-\xE6\x97\xA5"},
       "SN-\xC3\x84\xC3\x96-?",
       "1 character is"},
      {{"serial", path, "\xF0\x9F\x98\x80\xE6\x97\xA5x"}, "??x", "2 characters are"},
      {{"serial", path, "plain"}, "plain", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.stored);
    const TRun run = Run(c.args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, c.stored + "\n");
    if (*c.lost == 0) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_THAT(run.err, HasSubstr(c.lost));
    }
  }
  EXPECT_EQ(Text(path, 0x0407, TEEImage::kProduct), "Caf\xC3\xA9 \xE2\x82\xAC ?");
  EXPECT_EQ(Text(path, 0x0407, TEEImage::kSerialNumber), "plain");
}

TEST_F(StringAreaTest, RefusalsChangeNothing) {
  const std::vector<uint8_t> sample = SampleStringImage();
  const std::vector<uint8_t> bare = StringImage({}, 0, {});
  const std::vector<uint8_t> full = NearlyFullImage();
  const std::vector<uint8_t> noSerial = StringImage({0x0409}, 0x03, {{u"A"}, {u"B"}});
  // "string" on the refused file, its text left out when none is given.
  const auto string = [](const char* lang, const char* kind, std::optional<std::string> text) {
    std::vector<std::string> args = {"string", "@", "--lang", lang, "--kind", kind};
    if (text) {
      args.push_back(*text);
    }
    return args;
  };
  ExpectRefusals({
      {"strings: set and changes mixed", sample, {"strings", "@", "product,+serial"}, kUsage},
      {"strings: unknown kind", sample, {"strings", "@", "vendor"}, kUsage},
      {"strings: empty list", sample, {"strings", "@", ","}, kUsage},
      {"strings: languages without strings", sample, {"strings", "@", "none"}, kData},
      {"strings: strings without languages", bare, {"strings", "@", "product"}, kData},
      {"strings: fixed header", FixedImage(0xD3), {"strings", "@", "product"}, kData},
      {"strings: no room", full, {"strings", "@", "+config-hs"}, kData},
      {"languages: twice", sample, {"languages", "@", "0409,0x0409"}, kUsage},
      {"languages: remove absent", sample, {"languages", "@", "-0x0411"}, kUsage},
      {"languages: too wide", sample, {"languages", "@", "0x12345"}, kUsage},
      {"languages: not hexadecimal", sample, {"languages", "@", "en-us"}, kUsage},
      {"languages: without strings", bare, {"languages", "@", "0409"}, kData},
      {"languages: fixed header", FixedImage(0xD0), {"languages", "@", "0409"}, kData},
      {"languages: no room", full, {"languages", "@", "+0x040c"}, kData},
      {"string: empty", sample, string("0409", "product", ""), kData},
      {"string: 127 characters", sample, string("0409", "product", std::string(127, 'a')), kData},
      {"string: not UTF-8", sample, string("0409", "product", "\xC3"), kData},
      {"string: no text", sample, string("0409", "product", {}), kUsage},
      {"string: no such language", sample, string("0411", "product", "x"), kData},
      {"string: kind not carried", sample, string("0409", "config-fs", "x"), kData},
      {"string: unknown kind", sample, string("0409", "vendor", "x"), kUsage},
      {"string: no language", sample, {"string", "@", "--kind", "product", "x"}, kUsage},
      {"serial: not carried", noSerial, {"serial", "@", "--generate"}, kData},
      {"serial: no text", noSerial, {"serial", "@"}, kUsage},
      {"serial: text and --generate", noSerial, {"serial", "@", "--generate", "X"}, kUsage},
  });
  // 126 characters are the most a descriptor holds.
  const std::string path = WriteFile("s.bin", sample);
  EXPECT_EQ(
      Run({"string", path, "--lang", "0409", "--kind", "product", std::string(126, 'a')}).code, 0);
}

// The image's own layout of overlapping descriptors: manufacturer at 30 and product at 36, both
// 10 bytes long, so the product begins inside the manufacturer.
std::vector<uint8_t> OverlappingImage() {
  std::vector<uint8_t> bytes(40, 0);
  bytes[0] = 0xD4;
  bytes[20] = 1;
  bytes[21] = 0x03;
  bytes[24] = 0x09;
  bytes[25] = 0x04;
  bytes[26] = 30;
  bytes[28] = 36;
  for (const size_t at : {30u, 36u}) {
    bytes[at] = 10;
    bytes[at + 1] = 3;
    bytes[at + 2] = 'a';
  }
  bytes[38] = 'b'; // the product's first character, in the manufacturer's text
  return bytes;
}

// A refusal names what really stood in the way, not always "no room".
TEST_F(StringAreaTest, RefusalsSayTheTrueReason) {
  struct TCase {
    const char* name;
    std::vector<uint8_t> image;
    std::vector<std::string> args; // after the file
    const char* says;
  };
  const std::string unsound = "descriptors overlap partly or lie out of place";
  const TCase cases[] = {
      {"string, no room",
       NearlyFullImage(),
       {"string", "--lang", "0407", "--kind", "product", "abcdefghijkl"},
       "no room in the 512-byte image: the change needs 20 more bytes, 8 are free"},
      {"kinds, no room", NearlyFullImage(), {"strings", "+config-hs"}, "needs 12 more bytes, 8"},
      {"languages, no room", NearlyFullImage(), {"languages", "+0x040c"}, "needs 14 more bytes"},
      {"string, overlapping",
       OverlappingImage(),
       {"string", "--lang", "0409", "--kind", "product", "x"},
       unsound.c_str()},
      {"kinds, overlapping", OverlappingImage(), {"strings", "+serial"}, unsound.c_str()},
      {"languages, overlapping", OverlappingImage(), {"languages", "+0407"}, unsound.c_str()},
      {"no such language",
       SampleStringImage(),
       {"string", "--lang", "0411", "--kind", "product", "x"},
       "the image has no language 0x0411"},
      {"kind not carried",
       SampleStringImage(),
       {"string", "--lang", "0409", "--kind", "config-fs", "x"},
       "the image carries no config-fs string"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(TEEImage(c.image.data(), static_cast<int32_t>(c.image.size())).IsValid());
    const std::string path = WriteFile("s.bin", c.image);
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, path);
    const TRun run = Run(args);
    EXPECT_EQ(run.code, kData);
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_THAT(run.err, Not(HasSubstr(c.says == unsound ? "no room" : "overlap")));
    EXPECT_EQ(ReadFile(path), c.image);
  }
}

TEST_F(StringAreaTest, SerialNumberIsSharedByEveryLanguage) {
  const std::string path = WriteFile("s.bin", SampleStringImage());
  const TRun run = Run({"serial", path, "SN-42", "-o", PathOf("out.bin")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "SN-42\n");
  EXPECT_EQ(Text(PathOf("out.bin"), 0x0409, TEEImage::kSerialNumber), "SN-42");
  EXPECT_EQ(Text(PathOf("out.bin"), 0x0407, TEEImage::kSerialNumber), "SN-42");
  EXPECT_EQ(ReadFile(path), SampleStringImage());
}

TEST_F(StringAreaTest, GeneratedSerialNumberComesFromTheClock) {
  TSerialNumber::SetClock([] { return int64_t{1796731200}; }); // 2026-12-08 12:00:00 UTC
  const std::string path = WriteFile("s.bin", SampleStringImage());
  const TRun run = Run({"serial", path, "--generate"});
  TSerialNumber::SetClock({});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "000032AA4B4E\n");
  EXPECT_EQ(Text(path, 0x0407, TEEImage::kSerialNumber), "000032AA4B4E");
}

} // namespace
} // namespace clitest
