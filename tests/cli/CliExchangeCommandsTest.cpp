#include "CliImageSupport.h"
#include "CliImport.h"
#include "CliJson.h"
#include "CliTestSupport.h"
#include "Eeimage.h"

#include <functional>
#include <sstream>
#include <sys/stat.h>

namespace clitest {
namespace {

class ExchangeTest : public TCliTest {
protected:
  std::string Export(const std::string& path) {
    const TRun run = Run({"export", path});
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out;
  }
  // The export of the sample image with `change` made to it, as a file.
  std::string Edited(const std::function<void(TJson&)>& change) {
    TJson document = TJson::parse(Export(WriteFile("s.bin", SampleStringImage())));
    change(document);
    return WriteText("e.json", document.dump(2));
  }
};

TEST_F(ExchangeTest, ExportIsReadableJson) {
  const std::string text = Export(WriteFile("s.bin", SampleStringImage()));
  const TJson root = TJson::parse(text);
  EXPECT_EQ(root["kind"], "0xD4");
  EXPECT_EQ(root["fields"]["pid"], "0403");
  EXPECT_EQ(root["strings"]["0x0407"]["product"], "Verteiler");
  EXPECT_EQ(root["languages"].size(), 2u);
  EXPECT_EQ(root["bytes"][0].get<std::string>().substr(0, 8), "D4 01 02");
  // The keys come in a fixed order, so exports of two images diff cleanly.
  std::vector<std::string> keys;
  for (const auto& member : root.items()) {
    keys.push_back(member.key());
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"format", "version", "kind", "length", "fields",
                                            "languages", "strings", "bytes"}));
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
  const std::string edited = Edited([](TJson& document) {
    document["fields"]["vid"] = "ABCD";
    document["fields"]["single_tt"] = "1";
    document["fields"]["string_config_fs"] = "1";
    document["strings"]["0x0407"]["product"] = "Schalter";
    document["languages"].push_back("0x040C");
  });
  const TRun run = Run({"import", edited, "-o", PathOf("out.bin")});
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

// What import does not understand is refused as data, naming its place, and nothing is written.
TEST_F(ExchangeTest, ImportRefusesWhatItDoesNotUnderstand) {
  struct TCase {
    const char* name;
    std::function<std::string()> input; // the file to import
    const char* says;
  };
  const auto edit = [this](std::function<void(TJson&)> change) {
    return [this, change] { return Edited(change); };
  };
  const auto text = [this](std::string json) {
    return [this, json] { return WriteText("t.json", json); };
  };
  const std::string bytes = "\"bytes\": [\"D0 01 02 03 04 05 06\"]";
  const std::string head = "{\"format\": \"korvane-image\", \"version\": 1, \"kind\": \"0xD0\", "
                           "\"length\": 7, \"fields\": {}, ";
  const TCase cases[] = {
      {"not JSON", text("{"), "not valid JSON: line 1, column 2"},
      {"not an object", text("[]"), "not an exported image"},
      {"lacks bytes", text(head.substr(0, head.size() - 2) + "}"), "it lacks \"bytes\""},
      {"other format", edit([](TJson& d) { d["format"] = "other"; }), "format: \"other\" is not"},
      {"unknown version", edit([](TJson& d) { d["version"] = 2; }),
       "version: 2 is not a version this tool knows"},
      {"version as text", edit([](TJson& d) { d["version"] = "1"; }), "version: \"1\""},
      {"kind contradicts", edit([](TJson& d) { d["kind"] = "0xD3"; }),
       "kind: \"0xD3\" contradicts the bytes"},
      {"length contradicts", edit([](TJson& d) { d["length"] = 97; }),
       "length: 97 contradicts the bytes"},
      {"key twice", text(head + "\"version\": 1, " + bytes + "}"), "a key given twice: version"},
      {"key twice inside",
       text(head.substr(0, head.size() - 4) + "{\"vid\": \"0102\", \"vid\": \"0102\"}, " + bytes +
            "}"),
       "a key given twice: fields.vid"},
      {"unknown key", edit([](TJson& d) { d["comment"] = "mine"; }), "unknown key comment"},
      {"unknown field", edit([](TJson& d) { d["fields"]["vendor"] = "0201"; }),
       "unknown key fields.vendor"},
      {"unknown string kind", edit([](TJson& d) { d["strings"]["0x0409"]["prodcut"] = "x"; }),
       "unknown key strings.0x0409.prodcut"},
      {"string kind in capitals", edit([](TJson& d) { d["strings"]["0x0409"]["Product"] = "x"; }),
       "unknown key strings.0x0409.Product"},
      {"minus one", edit([](TJson& d) { d["bytes"][2] = "-1 02"; }),
       "bytes[2]: \"-1\" is not a byte"},
      {"plus two", edit([](TJson& d) { d["bytes"][1] = "+2"; }), "bytes[1]: \"+2\" is not a byte"},
      {"0x", edit([](TJson& d) { d["bytes"][0] = "0x D4"; }), "bytes[0]: \"0x\" is not a byte"},
      {"three digits", edit([](TJson& d) { d["bytes"][0] = "D40"; }), "bytes[0]: \"D40\""},
      {"NUL escape", text(head + "\"x\": \"a\\u0000b\", " + bytes + "}"),
       "an escape that makes no text (\\u0000) at x"},
      {"NUL escape in a key",
       text(head.substr(0, head.size() - 4) + "{\"v\\u0000w\": \"1\"}, " + bytes + "}"),
       "an escape that makes no text (\\u0000) in a key at fields.v\\u0000w; nothing was written"},
      {"lone surrogate", text(head + "\"x\": \"\\ud800\", " + bytes + "}"),
       "an escape that makes no text (a lone surrogate) at x (line 1, column"},
      {"lone surrogate inside",
       text(head.substr(0, head.size() - 4) + "{\"vid\": \"\\udc00\"}, " + bytes + "}"),
       "(a lone surrogate) at fields.vid"},
      {"lone surrogate in a list", text(head + "\"bytes\": [\"D0\", \"\\ud800\"]}"),
       "(a lone surrogate) at bytes[1]"},
      {"lone surrogate in a key",
       text(head.substr(0, head.size() - 4) + "{\"vid\": \"1\", \"\\ud800\": \"1\"}, " + bytes +
            "}"),
       "(a lone surrogate) in a key of fields"},
      {"wider than the field", edit([](TJson& d) { d["fields"]["vid"] = "12345"; }),
       "fields.vid: \"12345\" is not a value of this field"},
      {"signature field changed", edit([](TJson& d) { d["fields"]["signature"] = "D3"; }),
       "fields.signature"},
      {"signature byte changed",
       edit([](TJson& d) { d["bytes"][0] = "D1" + d["bytes"][0].get<std::string>().substr(2); }),
       "bytes: not a valid image"},
      {"languages reordered", edit([](TJson& d) {
         d["languages"] = {"0x0407", "0x0409"};
       }),
       "cannot be reordered"},
      {"language listed twice", edit([](TJson& d) { d["languages"].push_back("0x0409"); }),
       "languages[2]: language 0x0409 is listed twice"},
      {"one language spelled twice", edit([](TJson& d) {
         TJson second = d["strings"]["0x0409"];
         second["product"] = "second";
         d["strings"].erase("0x0409");
         d["strings"]["0409"] = {{"product", "first"}};
         d["strings"]["0x0409"] = second;
       }),
       "strings.0x0409: language 0x0409 given twice"},
      {"strings of another language",
       edit([](TJson& d) { d["strings"]["0x0411"] = d["strings"]["0x0407"]; }),
       "strings.0x0411: not among the languages"},
      {"empty serial number", edit([](TJson& d) { d["strings"]["0x0409"]["serial"] = ""; }),
       "strings.0x0409.serial: an empty string cannot be stored"},
      {"too large", text(std::string(65 * 1024, ' ') + "{}"), "larger than any export (64 KiB)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> old = {0xD0, 1, 2, 3, 4, 5, 6};
    const std::string out = WriteFile("out.bin", old);
    const TRun run = Run({"import", c.input(), "-o", out});
    EXPECT_EQ(run.code, kData);
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_THAT(run.err, HasSubstr("nothing was written"));
    EXPECT_EQ(ReadFile(out), old);
  }
}

TEST_F(ExchangeTest, ImportInputsThatAreNoRegularFileAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(PathOf("pipe").c_str(), 0644), 0); // nobody writes to it: must not wait
  const std::pair<std::string, const char*> cases[] = {
      {PathOf("missing.json"), "no such file"},
      {FFolder.string(), "not a regular file (a folder)"},
      {PathOf("pipe"), "not a regular file"},
      {"/dev/zero", "not a regular file"},
  };
  for (const auto& [path, says] : cases) {
    SCOPED_TRACE(path);
    const TRun run = Run({"import", path, "-o", PathOf("x.bin")});
    EXPECT_EQ(run.code, kNoInput);
    EXPECT_THAT(run.err, HasSubstr(says));
  }
  EXPECT_EQ(Run({"import", WriteText("empty.json", ""), "-o", PathOf("x.bin")}).code, kData);
  EXPECT_FALSE(std::filesystem::exists(PathOf("x.bin")));
  EXPECT_EQ(Run({"import", WriteText("e.json", "{}")}).code, kUsage);
  EXPECT_EQ(Run({"export", PathOf("missing.bin")}).code, kNoInput);
  EXPECT_EQ(Run({"export", WriteFile("bad.bin", {0x00})}).code, kData);
}

TEST_F(ExchangeTest, ImportReadsStandardInput) {
  const std::string json = Export(WriteFile("s.bin", SampleStringImage()));
  std::istringstream in(json);
  std::ostringstream out, err;
  TCliContext context(out, err);
  context.in = &in;
  ASSERT_EQ(TCli::Run({"import", "-", "-o", PathOf("out.bin")}, context), kOk) << err.str();
  EXPECT_EQ(ReadFile("out.bin"), SampleStringImage());
  std::istringstream large(std::string(TCliImport::kMaxSize + 1, ' '));
  context.in = &large;
  EXPECT_EQ(TCli::Run({"import", "-", "-o", PathOf("big.bin")}, context), kData);
  EXPECT_THAT(err.str(), HasSubstr("standard input: larger than any export"));
  EXPECT_FALSE(std::filesystem::exists(PathOf("big.bin")));
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
  const TJson root = TJson::parse(run.out);
  EXPECT_FALSE(root["equal"].get<bool>());
  const TJson& list = root["differences"];
  EXPECT_NE(
      std::find(list.begin(), list.end(), TJson{{"what", "byte 0x007"}, {"a", "--"}, {"b", "17"}}),
      list.end());
  EXPECT_EQ(Run({"diff", PathOf("a.bin"), PathOf("none.bin")}).code, kNoInput);
}

} // namespace
} // namespace clitest
