#include "CliJson.h"
#include "CliTestSupport.h"

#include <sstream>

namespace clitest {
namespace {

class InfoTest : public TCliTest {};

TEST_F(InfoTest, ShowsEveryKindWithItsFields) {
  struct TCase {
    uint8_t signature;
    const char* length;
    const char* field;    // a field line the kind must show
    const char* notField; // a field the kind does not have
  };
  const TCase cases[] = {
      {0xD0, "length: 7\n", "vid", "max_power_fs"},
      {0xD2, "length: 13\n", "max_power_fs", "max_power_hs"},
      {0xD3, "length: 24\n", "write_protect", "nonexistent"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.signature);
    const std::string path = WriteFile("fixed.bin", FixedImage(c.signature));
    const TRun run = Run({"info", path});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr(c.length));
    EXPECT_THAT(run.out, HasSubstr("valid: yes"));
    EXPECT_THAT(run.out, HasSubstr("\n  " + std::string(c.field) + " "));
    EXPECT_THAT(run.out, Not(HasSubstr("\n  " + std::string(c.notField) + " ")));
  }
}

TEST_F(InfoTest, ShowsVidAsTheWindowDoes) {
  const TRun run =
      Run({"info", WriteFile("a.bin", Patched(FixedImage(0xD0), {{1, 0x34}, {2, 0x12}}))});
  ASSERT_EQ(run.code, 0);
  EXPECT_THAT(run.out, HasSubstr("VID"));
  EXPECT_THAT(run.out, HasSubstr("1234\n"));
}

TEST_F(InfoTest, DecodesStringsWithoutLoss) {
  // U+4E2D is outside the 8-bit set: shown exactly, never as '?'.
  const std::string path = WriteFile("s.bin", StringImage({0x0411}, 0x02, {{u"\u4E2D\u00E9"}}));
  const TRun run = Run({"info", path});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("languages: 0x0411"));
  EXPECT_THAT(run.out, HasSubstr("0x0411 product      \"\xE4\xB8\xAD\xC3\xA9\""));
}

TEST_F(InfoTest, JsonIsKeyedByFieldIdentifiers) {
  const TRun run = Run({"--json", "info", WriteFile("s.bin", SampleStringImage())});
  ASSERT_EQ(run.code, 0) << run.err;
  const TJson info = TJson::parse(run.out);
  EXPECT_EQ(info["kind"], "0xD4");
  EXPECT_EQ(info["fields"]["vid"], (TJson{{"caption", "VID"}, {"value", "0201"}}));
  EXPECT_EQ(info["languages"], (TJson{"0x0409", "0x0407"}));
  EXPECT_EQ(info["strings"]["0x0407"],
            (TJson{{"manufacturer", "Akme"}, {"product", "Verteiler"}, {"serial", "0001"}}));
}

// A file name is bytes; JSON is UTF-8 text: what is not UTF-8 comes out as U+FFFD.
TEST_F(InfoTest, JsonStaysValidForAFileNameThatIsNotUtf8) {
  const std::string path = WriteFile("caf\xE9.bin", FixedImage(0xD0));
  const TRun run = Run({"--json", "info", path});
  ASSERT_EQ(run.code, 0) << run.err;
  const TJson info = TJson::parse(run.out); // throws on invalid UTF-8
  EXPECT_EQ(info["file"], PathOf("caf\xEF\xBF\xBD.bin"));
}

TEST_F(InfoTest, ExitCodesForBadInput) {
  EXPECT_EQ(Run({"info", PathOf("missing.bin")}).code, kNoInput);
  EXPECT_EQ(Run({"info", FFolder.string()}).code, kNoInput);
  const TRun invalid = Run({"info", WriteFile("bad.bin", {0xD1, 1, 2})});
  EXPECT_EQ(invalid.code, kData);
  EXPECT_THAT(invalid.out, HasSubstr("valid: no"));
  EXPECT_EQ(Run({"info", WriteFile("empty.bin", {})}).code, kData);
  EXPECT_EQ(Run({"info"}).code, kUsage);
  EXPECT_EQ(Run({"info", "a", "b"}).code, kUsage);
}

class FieldsTest : public TCliTest {};

// The whitespace-separated words of the line that starts with `id`.
std::vector<std::string> LineWords(const std::string& text, const std::string& id) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> result;
    std::string word;
    while (words >> word) {
      result.push_back(word);
    }
    if (!result.empty() && result[0] == id) {
      return result;
    }
  }
  return {};
}

TEST_F(FieldsTest, ListsSettableFieldsWithOffsetsPerKind) {
  const TRun run = Run({"fields"});
  ASSERT_EQ(run.code, 0);
  // Relocated in a 0xD2 header; absent from 0xD0.
  const std::vector<std::string> maxPower = {"max_power_fs", "8", "-", "9", "8", "8"};
  std::vector<std::string> words = LineWords(run.out, "max_power_fs");
  words.resize(6);
  EXPECT_EQ(words, maxPower) << run.out;
  EXPECT_TRUE(LineWords(run.out, "signature").empty());
  EXPECT_TRUE(LineWords(run.out, "num_languages").empty());
  // Supported-strings bits are settable in a 0xD3 image but not in a 0xD4 one.
  const std::vector<std::string> product = {"string_product", "1", "-",       "-",
                                            "21.1",           "-", "iProduct"};
  EXPECT_EQ(LineWords(run.out, "string_product"), product) << run.out;
  // A 0xD4 image shows offset 10 as a read-only "Reserved" byte.
  EXPECT_EQ(LineWords(run.out, "internal_control").at(5), "-");
}

class SetTest : public TCliTest {};

TEST_F(SetTest, WritesFieldsAtTheOffsetsOfTheKind) {
  const std::string d2 = WriteFile("d2.bin", FixedImage(0xD2));
  const TRun run = Run({"set", d2, "vid=ABCD", "max_power_fs=7F", "active_port_3=1"});
  ASSERT_EQ(run.code, 0) << run.err;
  // max_power_fs is relocated to 9 in a 0xD2 header; active port 3 is bit 7 of the ports byte 8.
  const uint8_t ports = FixedImage(0xD2)[8] | 0x80;
  EXPECT_EQ(ReadFile(d2), Patched(FixedImage(0xD2), {{1, 0xCD}, {2, 0xAB}, {8, ports}, {9, 0x7F}}));
}

TEST_F(SetTest, OutputFileLeavesTheInputAlone) {
  const std::string in = WriteFile("in.bin", FixedImage(0xD3));
  const TRun run = Run({"set", in, "pid=0001", "-o", PathOf("out.bin")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(in), FixedImage(0xD3));
  EXPECT_EQ(ReadFile("out.bin"), Patched(FixedImage(0xD3), {{3, 0x01}, {4, 0x00}}));
}

TEST_F(SetTest, RefusalsChangeNothing) {
  const std::vector<uint8_t> d0 = FixedImage(0xD0);
  const std::vector<uint8_t> d3 = FixedImage(0xD3);
  ExpectRefusals({
      {"unknown field", d0, {"set", "@", "nonexistent=1"}, kUsage},
      {"signature never editable", d0, {"set", "@", "signature=D2"}, kUsage},
      {"reserved never editable", d0, {"set", "@", "reserved_5=00"}, kUsage},
      {"wider than the field", d0, {"set", "@", "vid=12345"}, kUsage},
      {"not the window's form", d0, {"set", "@", "vid=0x12"}, kUsage},
      {"bit out of range", d0, {"set", "@", "single_tt=2"}, kUsage},
      {"no such field in 0xD0", d0, {"set", "@", "max_power_hs=01"}, kUsage},
      {"no value", d0, {"set", "@", "vid"}, kUsage},
      {"offset 21 of 0xD4", SampleStringImage(), {"set", "@", "string_product=0"}, kUsage},
      {"offset 20 of 0xD4", SampleStringImage(), {"set", "@", "num_languages=05"}, kUsage},
      {"invalid image", Patched(d0, {{0, 0xD1}}), {"set", "@", "vid=1234"}, kData},
      {"one bad stops the others", d3, {"set", "@", "vid=1111", "bogus=1"}, kUsage},
      {"output cannot be created",
       d3,
       {"set", "@", "vid=1111", "-o", PathOf("no/such/folder/x.bin")},
       kCantCreate},
  });
}

} // namespace
} // namespace clitest
