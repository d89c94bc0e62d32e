// The command line as the parser reads it: help made from the command table, names matched
// without regard to case with suggestions for near misses, and arguments that look like options.

#include <sstream>

#include "CliCommandTable.h"
#include "CliImageSupport.h"
#include "CliTestSupport.h"
#include "Eeimage.h"

namespace clitest {
namespace {

class CommandLineTest : public TCliTest {};

TEST_F(CommandLineTest, HelpComesFromTheOneTableOfCommands) {
  const TRun tool = Run({"--help"});
  ASSERT_EQ(tool.code, kOk);
  EXPECT_EQ(Run({"help"}).out, tool.out);
  for (const TCliOption& option : TCliCommandTable::GlobalOptions()) {
    EXPECT_THAT(tool.out, HasSubstr(std::string(option.help)));
  }
  for (const TCliExitCode& code : TCliCommandTable::ExitCodes()) {
    EXPECT_THAT(tool.out, HasSubstr(std::to_string(code.code) + "  "));
  }
  for (const TCliCommand& command : TCliCommandTable::Commands()) {
    SCOPED_TRACE(command.name);
    // "ledger list" is two words: the group's help lists what it holds.
    std::vector<std::string> words;
    std::istringstream name{std::string(command.name)};
    for (std::string word; name >> word;) {
      words.push_back(word);
    }
    const std::string listing = words.size() == 1 ? tool.out : Run({words.front(), "--help"}).out;
    EXPECT_THAT(listing, HasSubstr(std::string(command.summary)));
    std::vector<std::string> asked = words;
    asked.push_back("--help");
    const TRun own = Run(asked);
    EXPECT_EQ(own.code, kOk);
    EXPECT_THAT(own.out, HasSubstr("usage: korvane-cli " + std::string(command.synopsis) + "\n"));
    for (const TCliOption& option : command.options) {
      EXPECT_THAT(own.out, HasSubstr(std::string(option.help)));
      // The synopsis (the help's and the page's usage line) names every option too.
      EXPECT_THAT(std::string(command.synopsis),
                  HasSubstr(std::string(option.name) +
                            (option.value.empty() ? "" : " " + std::string(option.value))));
    }
    words.insert(words.begin(), "help");
    EXPECT_EQ(Run(words).out, own.out);
  }
  const TRun none = Run({});
  EXPECT_EQ(none.code, kUsage);
  EXPECT_EQ(none.err, tool.out);
}

TEST_F(CommandLineTest, UsageErrorsSayWhatWasMeant) {
  const std::string image = WriteFile("s.bin", SampleStringImage());
  struct TCase {
    std::vector<std::string> args;
    const char* says;
  };
  const TCase cases[] = {
      {{"infp", image}, "unknown command `infp`: did you mean `info`?"},
      {{"frobnicate"}, "unknown command `frobnicate` (korvane-cli --help lists them)"},
      {{"help", "frobnicate"}, "unknown command \"frobnicate\""},
      {{"set", image, "vdi=1234"}, "unknown field `vdi`: did you mean `vid`?"},
      {{"set", image, "Max_Power_FZ=01"}, "did you mean `max_power_fs`?"},
      {{"set", image, "nothing=1"}, "unknown field `nothing` (see korvane-cli fields)"},
      {{"string", image, "--lang", "0409", "--kind", "prodcut", "x"},
       "unknown string kind `prodcut`: did you mean `product`?"},
      {{"strings", image, "+serail"}, "did you mean `serial`?"},
      {{"info", image, "--frobnicate"}, "unknown option --frobnicate (korvane-cli info --help)"},
      {{"info", "--device"}, "--device"},
      {{"set", image}, "usage: korvane-cli set IMAGE ID=VALUE... [-o OUT]"},
      {{"read", "-o"}, "-o"},
      {{"erase", "--yes=1"}, "yes was given a disallowed flag override"},
      {{"ledger", "lsit"}, "unknown command `lsit`: did you mean `list`?"},
      {{"ledger", "frob"}, "unknown command `frob` (korvane-cli ledger --help lists them)"},
      // CLI11 alone would take these for -h and show the help, storing nothing, with success.
      {{"serial", image, "-h1"}, "unknown option -h1"},
      {{"-h1"}, "unknown option -h1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const TRun run = Run(c.args);
    EXPECT_EQ(run.code, kUsage);
    EXPECT_THAT(run.err, HasSubstr(c.says));
  }
  EXPECT_EQ(ReadFile("s.bin"), SampleStringImage());
  const TRun help = Run({"serial", image, "-h"});
  EXPECT_EQ(help.code, kOk);
  EXPECT_EQ(help.out, Run({"serial", "--help"}).out);
}

TEST_F(CommandLineTest, NamesAreMatchedWithoutRegardToCase) {
  const std::string image = WriteFile("s.bin", SampleStringImage());
  ASSERT_EQ(Run({"set", image, "VID=abcd", "Single_TT=1"}).code, kOk);
  ASSERT_EQ(Run({"strings", image, "+Config-FS,-PRODUCT"}).code, kOk);
  ASSERT_EQ(Run({"string", image, "--lang", "0409", "--kind", "Manufacturer", "Acme Ltd"}).code,
            kOk);
  const TEEImage result(image);
  EXPECT_EQ(result.GetByte(1), 0xCD);
  EXPECT_EQ(result.GetByte(2), 0xAB);
  EXPECT_EQ(result.GetSupportedStrings(), 0x0D);
  EXPECT_EQ(TCliImageSupport::ReadString(result, 0x0409, TEEImage::kManufacturer), "Acme Ltd");
}

// Arguments are the command's in the order given, also when they look like options or commands.
TEST_F(CommandLineTest, ItemsThatLookLikeOptionsOrCommandsKeepTheirPlace) {
  const std::string image = WriteFile("s.bin", SampleStringImage());
  // The last of two opposite changes wins, so the order of "-serial" among the others counts.
  ASSERT_EQ(Run({"strings", image, "+serial", "-serial", "-o", PathOf("a.bin")}).code, kOk);
  EXPECT_EQ(TEEImage(PathOf("a.bin")).GetSupportedStrings(), 0x03);
  ASSERT_EQ(Run({"strings", image, "-serial", "+serial", "-o", PathOf("b.bin")}).code, kOk);
  EXPECT_EQ(TEEImage(PathOf("b.bin")).GetSupportedStrings(), 0x07);
  ASSERT_EQ(Run({"languages", image, "-0x0407"}).code, kOk);
  EXPECT_EQ(TCliImageSupport::Languages(TEEImage(image)), std::vector<uint16_t>{0x0409});

  const std::pair<std::vector<std::string>, std::string> texts[] = {
      {{"--lang", "0409", "--kind", "product", "info"}, "info"},
      {{"--lang", "0409", "--kind", "product", "-x-"}, "-x-"},
      {{"--lang", "0409", "--kind", "product", "--", "--help"}, "--help"},
      {{"--kind", "product", "--lang=0409", "--json", "Hub"}, "Hub"}, // a global option after
  };
  for (const auto& [options, expected] : texts) {
    SCOPED_TRACE(expected);
    std::vector<std::string> args = {"string", image};
    args.insert(args.end(), options.begin(), options.end());
    const TRun run = Run(args);
    ASSERT_EQ(run.code, kOk) << run.err;
    EXPECT_EQ(run.out, expected + "\n");
    EXPECT_EQ(TCliImageSupport::ReadString(TEEImage(image), 0x0409, TEEImage::kProduct), expected);
  }
}

} // namespace
} // namespace clitest
