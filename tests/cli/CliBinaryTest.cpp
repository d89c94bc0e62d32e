#include "CliError.h"
#include "CliTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace clitest {
namespace {

// The real korvane-cli, for what only a process shows: its exit code.
class BinaryTest : public TCliTest {
protected:
  // Runs the binary with stdout going to `stdoutPath` (/dev/null by default); the exit code.
  int Exec(const std::vector<std::string>& args, const char* stdoutPath = "/dev/null") {
    std::vector<std::string> all = {KORVANE_CLI_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath, O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
      {{"--help"}, cliexit::kOk},
      {{"write", "--help"}, cliexit::kOk},
      {{}, cliexit::kUsage},
      {{"frobnicate"}, cliexit::kUsage},
      {{"info", good}, cliexit::kOk},
      {{"info", PathOf("missing.bin")}, cliexit::kNoInput},
      {{"info", bad}, cliexit::kData},
      {{"diff", good, good}, cliexit::kOk},
      {{"diff", good, other}, cliexit::kDiffers},
      {{"set", other, "nosuchfield=1"}, cliexit::kUsage},
      {{"set", other, "vid=1234", "-o", PathOf("no/folder/x.bin")}, cliexit::kCantCreate},
      {{"info", good, "--frobnicate"}, cliexit::kUsage},
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
  EXPECT_EQ(Exec({"--simulate", a, "--simulate", b, "write", image}), cliexit::kUsage);
  EXPECT_EQ(Exec({"--simulate", a, "--simulate", b, "write", image, "--all", "--backup-dir",
                  FFolder.string()}),
            cliexit::kOk);
  EXPECT_EQ(Exec({"--simulate", a, "verify", image}), cliexit::kOk);
  EXPECT_EQ(Exec({"--simulate", a, "read", "-o", PathOf("back.bin")}), cliexit::kOk);
  EXPECT_EQ(ReadFile("back.bin"), SampleStringImage());
  EXPECT_EQ(Exec({"--simulate", b, "erase", "--backup-dir", FFolder.string()}), cliexit::kUsage);
  EXPECT_EQ(Exec({"--simulate", b, "erase", "--yes", "--backup-dir", FFolder.string()}),
            cliexit::kOk);
  EXPECT_EQ(Exec({"--simulate", b, "verify", image}), cliexit::kIoError);
  EXPECT_EQ(Exec({"--simulate", b, "read", "-o", PathOf("erased.bin")}), cliexit::kData);
}

TEST_F(BinaryTest, OutputThatCannotBeWrittenIsAFailure) {
  // A script must not take a listing that never arrived for success.
  EXPECT_EQ(Exec({"fields"}, "/dev/full"), cliexit::kIoError);
}

} // namespace
} // namespace clitest
