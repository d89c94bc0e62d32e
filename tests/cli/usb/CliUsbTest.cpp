// korvane-cli driven as a process against a hub emulated by umockdev: the emulated hub in this
// process answers the requests the tool's libusb sends.
#include "CliError.h"
#include "CliTestIo.h"
#include "UsbTestbed.h"

#include <gtest/gtest.h>

namespace {

using namespace clitest;

constexpr TUsbId kBoundId{0x1234, 0x5678};
constexpr TUsbId kOtherId{0x1234, 0x9999};

// A 0xD3 image (24 bytes) whose VID:PID is the bound one.
std::vector<uint8_t> Image() {
  std::vector<uint8_t> bytes = {0xD3, 0x34, 0x12, 0x78, 0x56};
  while (bytes.size() < 24) {
    bytes.push_back(static_cast<uint8_t>(0x40 + bytes.size()));
  }
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
    FFolder = FreshTestFolder("korvane-cli-usb-");
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
    WriteBytes(Path(name), bytes);
    return Path(name);
  }

  // Runs the binary, its output into FFolder/out.txt; the exit code.
  int Exec(const std::vector<std::string>& args) { return SpawnCli(args, Path("out.txt")); }

  std::string Output() const {
    const std::vector<uint8_t> bytes = ReadBytes(Path("out.txt"));
    return std::string(bytes.begin(), bytes.end());
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
  EXPECT_EQ(ReadBytes(Path("back.bin")), Image());
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
