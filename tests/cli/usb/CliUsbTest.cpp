// korvane-cli driven as a process against a hub emulated by umockdev: the emulated hub in this
// process answers the requests the tool's libusb sends.
#include "CliError.h"
#include "UsbTestbed.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr TUsbId kBoundId{0x1234, 0x5678};
constexpr TUsbId kOtherId{0x1234, 0x9999};

// A 0xD3 image (24 bytes) whose VID:PID is the bound one.
std::vector<uint8_t> Image() {
  std::vector<uint8_t> bytes(24);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(0x40 + i);
  }
  bytes[0] = 0xD3;
  bytes[1] = 0x34;
  bytes[2] = 0x12;
  bytes[3] = 0x78;
  bytes[4] = 0x56;
  return bytes;
}

class CliUsbTest : public ::testing::Test {
protected:
  TUsbTestbed FBed;
  TEmulatedHub& FParent = FBed.AddDevice("1-1", TUsbId{0xAAAA, 0x0001});
  TEmulatedHub& FHub = FBed.AddDevice("1-1.4", kBoundId);
  TEmulatedHub& FUnbound = FBed.AddDevice("1-2", kOtherId);
  std::filesystem::path FFolder;

  void SetUp() override {
    FFolder = std::filesystem::temp_directory_path() /
              ("korvane-cli-usb-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FFolder);
    ::setenv("XDG_CONFIG_HOME", FFolder.c_str(), 1); // no binding file of this machine
    std::lock_guard lock(FHub.Lock);
    FHub.Eeprom.fill(0xFF);
  }
  void TearDown() override {
    // Whatever the tool did, nothing reached a device that is not bound.
    EXPECT_TRUE(FUnbound.SeenRequests().empty());
    EXPECT_TRUE(FParent.SeenRequests().empty());
    std::filesystem::remove_all(FFolder);
  }

  std::string Path(const std::string& name) const { return (FFolder / name).string(); }

  std::string WriteImage(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream file(Path(name), std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }

  // Runs the binary, its output into FFolder/out.txt; the exit code.
  int Exec(std::vector<std::string> args) {
    args.insert(args.begin(), KORVANE_CLI_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string out = Path("out.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Output() const {
    std::ifstream file(Path("out.txt"));
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  std::vector<uint8_t> Eeprom(size_t n) {
    std::lock_guard lock(FHub.Lock);
    return std::vector<uint8_t>(FHub.Eeprom.begin(), FHub.Eeprom.begin() + n);
  }
};

TEST_F(CliUsbTest, WriteBacksUpWritesAndReadsBack) {
  const std::string image = WriteImage("image.bin", Image());
  const int code = Exec({"--vidpid", "1234:5678", "write", image, "--backup-dir", FFolder});
  ASSERT_EQ(code, 0) << Output();
  EXPECT_EQ(Eeprom(24), Image());
  const std::vector<TSeenRequest> seen = FHub.SeenRequests();
  ASSERT_EQ(seen.size(), 3u); // backup read, write, read-back
  EXPECT_EQ(seen[0].RequestType, 0xC0);
  EXPECT_EQ(seen[0].Length, 512);
  EXPECT_EQ(seen[1].RequestType, 0x40);
  EXPECT_EQ(seen[1].Request, 1);
  EXPECT_EQ(seen[1].Data, Image());
  EXPECT_EQ(seen[2].RequestType, 0xC0);
  bool backedUp = false;
  for (const auto& entry : std::filesystem::directory_iterator(FFolder)) {
    backedUp = backedUp || entry.path().filename().string().find("usb_1-1.4") != std::string::npos;
  }
  EXPECT_TRUE(backedUp);
}

TEST_F(CliUsbTest, ReadVerifyAndList) {
  {
    std::lock_guard lock(FHub.Lock);
    const std::vector<uint8_t> image = Image();
    std::copy(image.begin(), image.end(), FHub.Eeprom.begin());
  }
  ASSERT_EQ(Exec({"--vidpid", "1234:5678", "read", "-o", Path("back.bin")}), 0) << Output();
  std::ifstream file(Path("back.bin"), std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}), Image());
  EXPECT_EQ(Exec({"--vidpid", "1234:5678", "verify", Path("back.bin")}), 0) << Output();
  EXPECT_EQ(Exec({"--vidpid", "1234:5678", "list"}), 0);
  EXPECT_NE(Output().find("usb:1-1.4"), std::string::npos) << Output();
  EXPECT_NE(Output().find("bound"), std::string::npos);
}

TEST_F(CliUsbTest, FailuresAreNeverSuccess) {
  const std::string image = WriteImage("image.bin", Image());
  EXPECT_EQ(Exec({"write", image, "--backup-dir", FFolder}), cliexit::kNoHub) << Output();
  FHub.SetFault(THubFault::Stall);
  EXPECT_EQ(Exec({"--vidpid", "1234:5678", "write", image, "--backup-dir", FFolder}),
            cliexit::kIoError)
      << Output();
  EXPECT_EQ(Eeprom(24), std::vector<uint8_t>(24, 0xFF));
}

} // namespace
