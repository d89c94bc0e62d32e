#include "CliTestSupport.h"

#include <cstdlib>

namespace clitest {
namespace {

// The real korvane-cli, for what only a process shows: its exit code.
class BinaryTest : public TCliTest {
protected:
  // Runs the binary with stdout going to `stdoutPath` and stderr to /dev/null; the exit code.
  int Exec(const std::vector<std::string>& args, const char* stdoutPath = "/dev/null") {
    return SpawnCli(args, stdoutPath, "/dev/null");
  }
  std::string Text(const std::string& path) const {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }
};

TEST_F(BinaryTest, ExitCodes) {
  const std::string good = WriteFile("good.bin", SampleStringImage());
  const std::string other = WriteFile("other.bin", FixedImage(0xD3));
  const std::string bad = WriteFile("bad.bin", {0x00, 0x01});
  struct TCase {
    std::vector<std::string> args;
    int code;
  };
  const TCase cases[] = {
      {{"--help"}, kOk},
      {{"write", "--help"}, kOk},
      {{}, kUsage},
      {{"frobnicate"}, kUsage},
      {{"info", good}, kOk},
      {{"info", PathOf("missing.bin")}, kNoInput},
      {{"info", bad}, kData},
      {{"diff", good, good}, kOk},
      {{"diff", good, other}, kDiffers},
      {{"set", other, "nosuchfield=1"}, kUsage},
      {{"set", other, "vid=1234", "-o", PathOf("no/folder/x.bin")}, kCantCreate},
      {{"info", good, "--frobnicate"}, kUsage},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(Exec(c.args), c.code);
  }
}

TEST_F(BinaryTest, DeviceCommandsOnSimulatedHubs) {
  const std::string a = PathOf("a.eeprom"); // created blank by the simulated hub
  const std::string b = PathOf("b.eeprom");
  const std::string image = WriteFile("image.bin", SampleStringImage());
  EXPECT_EQ(Exec({"--simulate", a, "--simulate", b, "write", image}), kUsage);
  EXPECT_EQ(Exec({"--simulate", a, "--simulate", b, "write", image, "--all", "--backup-dir",
                  FFolder.string()}),
            kOk);
  EXPECT_EQ(Exec({"--simulate", a, "verify", image}), kOk);
  EXPECT_EQ(Exec({"--simulate", a, "read", "-o", PathOf("back.bin")}), kOk);
  EXPECT_EQ(ReadFile("back.bin"), SampleStringImage());
  EXPECT_EQ(Exec({"--simulate", b, "erase", "--backup-dir", FFolder.string()}), kUsage);
  EXPECT_EQ(Exec({"--simulate", b, "erase", "--yes", "--backup-dir", FFolder.string()}), kOk);
  EXPECT_EQ(Exec({"--simulate", b, "verify", image}), kIoError);
  EXPECT_EQ(Exec({"--simulate", b, "read", "-o", PathOf("erased.bin")}), kData);
}

// A script must not take output that never arrived for success, and the user is told why.
TEST_F(BinaryTest, OutputThatCannotBeWrittenIsAFailure) {
  const std::string good = WriteFile("good.bin", SampleStringImage());
  const std::string other = WriteFile("other.bin", FixedImage(0xD3));
  const std::string hub = WriteFile("hub.eeprom", Eeprom(SampleStringImage()));
  const std::vector<std::string> commands[] = {
      {"fields"},
      {"--help"},
      {"info", good},
      {"export", good},
      {"--json", "info", good},
      {"diff", good, other}, // differences found, but the report was lost
      {"--simulate", hub, "list"},
      {"--simulate", hub, "--json", "verify", good},
  };
  const std::string err = PathOf("err.txt");
  for (const auto& args : commands) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(SpawnCli(args, "/dev/full", err), kIoError);
    EXPECT_THAT(
        Text(err),
        HasSubstr("korvane-cli: standard output cannot be written: No space left on device"));
  }
  // A failure of the command's own keeps its code.
  EXPECT_EQ(SpawnCli({"info", PathOf("missing.bin")}, "/dev/full", err), kNoInput);
}

// The USB stack and the ledger's databases are modules: a command that needs a missing one
// fails and says so; one that needs none runs without them.
TEST_F(BinaryTest, MissingModulesFailOnlyWhatNeedsThem) {
  const std::string image = WriteFile("good.bin", SampleStringImage());
  const char* kept = std::getenv("KORVANE_MODULE_DIR");
  const std::string folder = kept != nullptr ? kept : "";
  ::setenv("KORVANE_MODULE_DIR", PathOf("nowhere").c_str(), 1);
  const std::string err = PathOf("err.txt");
  EXPECT_EQ(Exec({"info", image}), kOk);
  EXPECT_EQ(SpawnCli({"list"}, "/dev/null", err), kSoftware);
  EXPECT_THAT(Text(err), HasSubstr("the module korvane-usb cannot be loaded"));
  WriteFile("l.sqlite", {}); // an empty database file
  EXPECT_EQ(
      SpawnCli({"ledger", "list", "--ledger", "sqlite:" + PathOf("l.sqlite")}, "/dev/null", err),
      kTempFail);
  EXPECT_THAT(Text(err), HasSubstr("the module korvane-sqlite cannot be loaded"));
  if (kept != nullptr) {
    ::setenv("KORVANE_MODULE_DIR", folder.c_str(), 1);
  } else {
    ::unsetenv("KORVANE_MODULE_DIR");
  }
}

} // namespace
} // namespace clitest
