// What the tool does to files when things go wrong: every failed save says the system's reason,
// and two edits of one image file at once both take effect.

#include "CliTestSupport.h"
#include "FileLock.h"

#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace clitest {
namespace {

class FileSafety : public TCliTest {
protected:
  // Runs the real tool as an ordinary user with a file-size limit of `blocks` (shell `ulimit -f`);
  // its exit code, with what it printed in `output`. The output goes through a pipe, since the
  // limit would stop the tool's own writes to a file too.
  // The tool runs from a copy in the test's folder: the build folder may be out of that user's
  // reach (a checkout in a folder only its owner may enter).
  int AsOrdinaryUser(const std::vector<std::string>& args, int blocks, std::string& output) const {
    const std::string tool = PathOf("korvane-cli");
    std::filesystem::copy_file(KORVANE_CLI_BINARY, tool,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(
        tool, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                  std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                  std::filesystem::perms::others_exec);
    std::vector<std::string> command = {"/usr/bin/setpriv",
                                        "--reuid=65534",
                                        "--regid=65534",
                                        "--clear-groups",
                                        "/bin/sh",
                                        "-c",
                                        "{ (ulimit -f " + std::to_string(blocks) +
                                            " && exec \"$0\" \"$@\"); echo \"exit $?\"; } "
                                            "2>&1 | cat",
                                        tool};
    command.insert(command.end(), args.begin(), args.end());
    EXPECT_EQ(WaitProgram(StartProgram(command, PathOf("out.txt"))), 0);
    const std::vector<uint8_t> text = ReadFile("out.txt");
    output.assign(text.begin(), text.end());
    const size_t exit = output.rfind("exit ");
    return exit == std::string::npos ? -1 : std::stoi(output.substr(exit + 5));
  }
};

TEST_F(FileSafety, FailedSavesNameTheSystemsReason) {
  const std::string image = WriteFile("image.bin", SampleStringImage());
  const std::string hub = WriteFile("hub.eeprom", Eeprom(SampleStringImage()));
  std::filesystem::create_directory(PathOf("folder"));
  struct TCase {
    std::vector<std::string> args;
    const char* reason;
  };
  const TCase cases[] = {
      {{"set", image, "vid=1234", "-o", "/dev/full"}, "No space left on device"},
      {{"set", image, "vid=1234", "-o", PathOf("folder")}, "Is a directory"},
      {{"serial", image, "SN-1", "-o", PathOf("image.bin/below")}, "Not a directory"},
      {{"export", image, "-o", "/dev/full"}, "No space left on device"},
      {{"--simulate", hub, "read", "--raw", "-o", "/dev/full"}, "No space left on device"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const TRun run = Run(c.args);
    EXPECT_EQ(run.code, kCantCreate);
    EXPECT_THAT(run.err, HasSubstr(std::string("cannot be written: ") + c.reason));
  }
  EXPECT_EQ(ReadFile("image.bin"), SampleStringImage());
}

TEST_F(FileSafety, OrdinaryUsersSeePermissionAndSizeLimits) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to run the tool as another user";
  }
  std::filesystem::permissions(FFolder, std::filesystem::perms::all);
  const std::string hub = WriteFile("hub.eeprom", Eeprom(SampleStringImage()));
  const std::string image = WriteFile("image.bin", SampleStringImage());
  std::filesystem::create_directory(PathOf("locked"));
  const std::string kept = WriteFile("locked/image.bin", FixedImage(0xD0));
  ::chmod(kept.c_str(), 0666);
  ::chmod(PathOf("locked").c_str(), 0555);
  std::string err;

  // The folder takes no new file, so the edit is written in place, where the limit stops it
  // before the file changes.
  EXPECT_EQ(AsOrdinaryUser({"set", kept, "device_revision=42"}, 0, err), kCantCreate);
  EXPECT_THAT(err, HasSubstr("cannot be written: File too large"));
  EXPECT_EQ(ReadFile(kept), FixedImage(0xD0));

  EXPECT_EQ(AsOrdinaryUser({"--simulate", hub, "write", image, "--backup-dir", PathOf("locked")},
                           1000, err),
            kCantCreate);
  EXPECT_THAT(err, HasSubstr("the backup could not be written in " + PathOf("locked") +
                             ": Permission denied; nothing was written"));

  const std::string closed = WriteFile("closed.eeprom", Eeprom(SampleStringImage()));
  ::chmod(closed.c_str(), 0);
  EXPECT_EQ(AsOrdinaryUser({"--simulate", closed, "list"}, 1000, err), kNoInput);
  EXPECT_THAT(err, HasSubstr(closed + ": could not be read: Permission denied"));
}

// A pipe nobody writes to, a device, a folder, a socket: every command that reads a file refuses
// them at once (a blocking open of the pipe would wait for ever).
TEST_F(FileSafety, InputsThatAreNoRegularFileAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(PathOf("pipe").c_str(), 0644), 0);
  const std::string good = WriteFile("good.bin", SampleStringImage());
  const std::string hub = WriteFile("hub.eeprom", Eeprom(SampleStringImage()));
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = PathOf("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(listening);
  for (const std::string& input :
       {PathOf("pipe"), std::string("/dev/zero"), FFolder.string(), socketPath}) {
    const std::vector<std::vector<std::string>> commands = {
        {"info", input},
        {"set", input, "vid=1234"},
        {"strings", input, "+serial"},
        {"languages", input, "+0407"},
        {"string", input, "--lang", "0409", "--kind", "product", "x"},
        {"serial", input, "--generate"},
        {"export", input},
        {"import", input, "-o", PathOf("out.bin")},
        {"diff", good, input},
        {"--simulate", hub, "write", input},
        {"--simulate", hub, "verify", input},
        {"--simulate", input, "read", "-o", PathOf("out.bin")},
    };
    for (const auto& args : commands) {
      SCOPED_TRACE(::testing::PrintToString(args));
      const TRun run = Run(args);
      EXPECT_EQ(run.code, kNoInput);
      EXPECT_THAT(run.err, HasSubstr("not a regular file"));
    }
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("out.bin")));
}

TEST_F(FileSafety, ASimulatedEepromThatCannotBeReadIsAnUnreadableInput) {
  const std::string image = WriteFile("image.bin", SampleStringImage());
  struct TCase {
    std::string file;
    int code;
  };
  const TCase cases[] = {
      {image, kData}, // readable, but an image rather than a 512-byte EEPROM
      {PathOf("no/folder/hub.eeprom"), kCantCreate},
      {FFolder.string(), kNoInput},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Run({"--simulate", c.file, "list"}).code, c.code);
  }
}

TEST_F(FileSafety, TwoEditsOfOneFileAtOnceBothTakeEffect) {
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE(trial);
    const std::string image = WriteFile("image.bin", FixedImage(0xD3));
    const pid_t first = StartProgram({KORVANE_CLI_BINARY, "set", image, "vid=1111"}, "/dev/null");
    const pid_t second = StartProgram({KORVANE_CLI_BINARY, "set", image, "pid=2222"}, "/dev/null");
    EXPECT_EQ(WaitProgram(first), kOk);
    EXPECT_EQ(WaitProgram(second), kOk);
    EXPECT_EQ(ReadFile("image.bin"),
              Patched(FixedImage(0xD3), {{1, 0x11}, {2, 0x11}, {3, 0x22}, {4, 0x22}}));
  }
}

TEST_F(FileSafety, AnEditWaitsOnlySoLongForAnotherProcess) {
  const std::string image = WriteFile("image.bin", SampleStringImage());
  TFileLock other;
  ASSERT_EQ(other.Acquire(image, std::chrono::milliseconds(0)), TFileLock::TResult::Locked);
  FLockWait = std::chrono::milliseconds(100);
  const TRun run = Run({"serial", image, "SN-2"});
  EXPECT_EQ(run.code, kTempFail);
  EXPECT_THAT(run.err, HasSubstr(image + " is being changed by another process"));
  EXPECT_EQ(ReadFile("image.bin"), SampleStringImage());
}

} // namespace
} // namespace clitest
