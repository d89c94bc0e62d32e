#include "CliError.h"
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
    EXPECT_NE(run.out.find(c.length), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("valid: yes"), std::string::npos);
    EXPECT_NE(run.out.find("\n  " + std::string(c.field) + " "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\n  " + std::string(c.notField) + " "), std::string::npos);
  }
}

TEST_F(InfoTest, ShowsVidAsTheWindowDoes) {
  std::vector<uint8_t> bytes = FixedImage(0xD0);
  bytes[1] = 0x34;
  bytes[2] = 0x12;
  const TRun run = Run({"info", WriteFile("a.bin", bytes)});
  ASSERT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("VID"), std::string::npos);
  EXPECT_NE(run.out.find("1234\n"), std::string::npos) << run.out;
}

TEST_F(InfoTest, DecodesStringsWithoutLoss) {
  // U+4E2D is outside the 8-bit set: shown exactly, never as '?'.
  const std::string path = WriteFile("s.bin", StringImage({0x0411}, 0x02, {{u"\u4E2D\u00E9"}}));
  const TRun run = Run({"info", path});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("languages: 0x0411"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x0411 product      \"\xE4\xB8\xAD\xC3\xA9\""), std::string::npos)
      << run.out;
}

TEST_F(InfoTest, JsonIsKeyedByFieldIdentifiers) {
  const TRun run = Run({"--json", "info", WriteFile("s.bin", SampleStringImage())});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"kind\": \"0xD4\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"vid\": {\"caption\": \"VID\", \"value\": \"0201\"}"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"languages\": [\"0x0409\", \"0x0407\"]"), std::string::npos);
  EXPECT_NE(run.out.find("\"0x0407\": {\"manufacturer\": \"Akme\", \"product\": \"Verteiler\", "
                         "\"serial\": \"0001\"}"),
            std::string::npos)
      << run.out;
}

TEST_F(InfoTest, ExitCodesForBadInput) {
  EXPECT_EQ(Run({"info", PathOf("missing.bin")}).code, cliexit::kNoInput);
  EXPECT_EQ(Run({"info", FFolder.string()}).code, cliexit::kNoInput);
  const TRun invalid = Run({"info", WriteFile("bad.bin", {0xD1, 1, 2})});
  EXPECT_EQ(invalid.code, cliexit::kData);
  EXPECT_NE(invalid.out.find("valid: no"), std::string::npos);
  EXPECT_EQ(Run({"info", WriteFile("empty.bin", {})}).code, cliexit::kData);
  EXPECT_EQ(Run({"info"}).code, cliexit::kUsage);
  EXPECT_EQ(Run({"info", "a", "b"}).code, cliexit::kUsage);
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
  std::vector<uint8_t> expected = FixedImage(0xD2);
  expected[1] = 0xCD;
  expected[2] = 0xAB;
  expected[9] = 0x7F;  // relocated in a 0xD2 header
  expected[8] |= 0x80; // active port 3: bit 7 of the shared ports byte
  EXPECT_EQ(ReadFile(d2), expected);
}

TEST_F(SetTest, OutputFileLeavesTheInputAlone) {
  const std::string in = WriteFile("in.bin", FixedImage(0xD3));
  const TRun run = Run({"set", in, "pid=0001", "-o", PathOf("out.bin")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(in), FixedImage(0xD3));
  std::vector<uint8_t> expected = FixedImage(0xD3);
  expected[3] = 0x01;
  expected[4] = 0x00;
  EXPECT_EQ(ReadFile("out.bin"), expected);
}

TEST_F(SetTest, RefusalsChangeNothing) {
  struct TCase {
    std::vector<uint8_t> image;
    const char* assignment;
    int code;
  };
  std::vector<uint8_t> invalid = FixedImage(0xD0);
  invalid[0] = 0xD1;
  const TCase cases[] = {
      {FixedImage(0xD0), "nonexistent=1", cliexit::kUsage},
      {FixedImage(0xD0), "signature=D2", cliexit::kUsage},  // never editable
      {FixedImage(0xD0), "reserved_5=00", cliexit::kUsage}, // never editable
      {FixedImage(0xD0), "vid=12345", cliexit::kUsage},     // wider than the field
      {FixedImage(0xD0), "vid=0x12", cliexit::kUsage},      // not the window's form
      {FixedImage(0xD0), "single_tt=2", cliexit::kUsage},
      {FixedImage(0xD0), "max_power_hs=01", cliexit::kUsage}, // no such field in 0xD0
      {FixedImage(0xD0), "vid", cliexit::kUsage},
      {SampleStringImage(), "string_product=0", cliexit::kUsage}, // offset 21 of 0xD4
      {SampleStringImage(), "num_languages=05", cliexit::kUsage}, // offset 20
      {invalid, "vid=1234", cliexit::kData},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.assignment);
    const std::string path = WriteFile("img.bin", c.image);
    const TRun run = Run({"set", path, c.assignment});
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(ReadFile(path), c.image);
  }
}

TEST_F(SetTest, OneBadAssignmentStopsTheOthers) {
  const std::string path = WriteFile("img.bin", FixedImage(0xD3));
  EXPECT_EQ(Run({"set", path, "vid=1111", "bogus=1"}).code, cliexit::kUsage);
  EXPECT_EQ(ReadFile(path), FixedImage(0xD3));
}

TEST_F(SetTest, OutputThatCannotBeCreated) {
  const std::string path = WriteFile("img.bin", FixedImage(0xD3));
  EXPECT_EQ(Run({"set", path, "vid=1111", "-o", PathOf("no/such/folder/x.bin")}).code,
            cliexit::kCantCreate);
  EXPECT_EQ(ReadFile(path), FixedImage(0xD3));
}

} // namespace
} // namespace clitest
