#include "CliError.h"
#include "CliTestSupport.h"
#include "SimulatedHub.h"

#include <cstdlib>
#include <map>

namespace clitest {
namespace {

using TFaults = TSimulatedHubDriver::TFaults;

class DeviceTest : public TCliTest {
protected:
  void SetUp() override {
    TCliTest::SetUp();
    // No binding file of this machine may leak into the tests.
    const char* home = std::getenv("XDG_CONFIG_HOME");
    FOldConfig = home ? home : "";
    FHadConfig = home != nullptr;
    ::setenv("XDG_CONFIG_HOME", PathOf("config").c_str(), 1);
  }
  void TearDown() override {
    if (FHadConfig) {
      ::setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    TCliTest::TearDown();
  }

  // A hub whose EEPROM holds `image` (the rest erased).
  std::string Hub(const std::string& name, const std::vector<uint8_t>& image = {}) {
    std::vector<uint8_t> eeprom(512, 0xFF);
    std::copy(image.begin(), image.end(), eeprom.begin());
    return WriteFile(name, eeprom);
  }

  // Simulated hubs on these EEPROM files, with faults per file.
  decltype(TCliContext::makeDriver) Hubs(std::vector<std::string> files,
                                         std::map<std::string, TFaults> faults = {}) {
    return [files, faults](const TCliContext&, TUsbBinding&) -> std::unique_ptr<THubDriver> {
      auto driver = std::make_unique<TSimulatedHubDriver>();
      for (const std::string& file : files) {
        std::string error;
        EXPECT_TRUE(driver->AddHub(file, error)) << error;
        const auto fault = faults.find(file);
        if (fault != faults.end()) {
          driver->SetFaults(TSimulatedHubDriver::PathOf(file), fault->second);
        }
      }
      return driver;
    };
  }

  std::vector<std::filesystem::path> Backups(const std::string& folder) const {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename().string().rfind("korvane-backup-", 0) == 0) {
        found.push_back(entry.path());
      }
    }
    return found;
  }

  std::vector<uint8_t> Prefix(const std::string& file, size_t length) const {
    std::vector<uint8_t> bytes = ReadFile(file);
    bytes.resize(std::min(length, bytes.size()));
    return bytes;
  }

  std::string FOldConfig;
  bool FHadConfig = false;
};

TEST_F(DeviceTest, ReadSavesExactlyTheImage) {
  const std::string hub = Hub("hub.eeprom", SampleStringImage());
  const TRun run = Run({"read", "-o", PathOf("out.bin")}, Hubs({hub}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile("out.bin"), SampleStringImage());
  EXPECT_NE(run.out.find("sim:" + hub + ": read a 0xD4 image of"), std::string::npos) << run.out;
}

TEST_F(DeviceTest, ReadOfAnErasedHubNeedsRaw) {
  const std::string hub = Hub("hub.eeprom");
  EXPECT_EQ(Run({"read", "-o", PathOf("out.bin")}, Hubs({hub})).code, cliexit::kData);
  EXPECT_FALSE(std::filesystem::exists(PathOf("out.bin")));
  ASSERT_EQ(Run({"read", "-o", PathOf("out.bin"), "--raw"}, Hubs({hub})).code, 0);
  EXPECT_EQ(ReadFile("out.bin"), std::vector<uint8_t>(512, 0xFF));
}

TEST_F(DeviceTest, ReadSavesAsImagesAreSaved) {
  // Over a link to an existing file: the link stays, its target gets the bytes and keeps its
  // permissions, as when an edited image is saved.
  namespace fs = std::filesystem;
  const std::string hub = Hub("hub.eeprom");
  const std::string target = WriteFile("real.bin", {1, 2, 3});
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(target, PathOf("link.bin"));
  ASSERT_EQ(Run({"read", "-o", PathOf("link.bin"), "--raw"}, Hubs({hub})).code, 0);
  EXPECT_TRUE(fs::is_symlink(PathOf("link.bin")));
  EXPECT_EQ(ReadFile("real.bin"), std::vector<uint8_t>(512, 0xFF));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(DeviceTest, WriteBacksUpWritesAndVerifies) {
  std::vector<uint8_t> old = FixedImage(0xD3);
  const std::string hub = Hub("hub.eeprom", old);
  const std::string image = WriteFile("image.bin", SampleStringImage());
  std::filesystem::create_directory(PathOf("backups"));
  const TRun run = Run({"write", image, "--backup-dir", PathOf("backups")}, Hubs({hub}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("verified"), std::string::npos) << run.out;
  EXPECT_EQ(Prefix(hub, SampleStringImage().size()), SampleStringImage());
  const auto backups = Backups(PathOf("backups"));
  ASSERT_EQ(backups.size(), 1u);
  // The backup keeps all 512 bytes the hub held before.
  std::vector<uint8_t> before(512, 0xFF);
  std::copy(old.begin(), old.end(), before.begin());
  EXPECT_EQ(ReadFile(backups[0].string()), before);
  EXPECT_NE(backups[0].filename().string().find("sim_"), std::string::npos);
}

TEST_F(DeviceTest, WriteCatchesAWrongByteOnReadBack) {
  const std::string hub = Hub("hub.eeprom");
  const std::string image = WriteFile("image.bin", SampleStringImage());
  TFaults faults;
  faults.FCorruptWrite = true;
  faults.FCorruptAddress = 0x2A;
  const TRun run =
      Run({"write", image, "--backup-dir", FFolder.string()}, Hubs({hub}, {{hub, faults}}));
  EXPECT_EQ(run.code, cliexit::kIoError);
  EXPECT_NE(run.err.find("at 0x02A"), std::string::npos) << run.err;
  // Without the read-back the same fault goes unseen.
  const TRun unverified = Run({"write", image, "--no-verify", "--backup-dir", FFolder.string()},
                              Hubs({hub}, {{hub, faults}}));
  EXPECT_EQ(unverified.code, 0) << unverified.err;
  EXPECT_NE(unverified.out.find("not verified"), std::string::npos);
}

TEST_F(DeviceTest, SeveralHubsNeedDeviceOrAll) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  const TRun run = Run({"write", image}, Hubs({a, b}));
  EXPECT_EQ(run.code, cliexit::kUsage);
  EXPECT_NE(run.err.find("sim:" + a), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("sim:" + b), std::string::npos);
  EXPECT_EQ(ReadFile(a), std::vector<uint8_t>(512, 0xFF));
  EXPECT_EQ(ReadFile(b), std::vector<uint8_t>(512, 0xFF));
  EXPECT_TRUE(Backups(FFolder.string()).empty());
  EXPECT_EQ(Run({"read", "-o", PathOf("x.bin")}, Hubs({a, b})).code, cliexit::kUsage);
  EXPECT_EQ(Run({"verify", image}, Hubs({a, b})).code, cliexit::kUsage);
  EXPECT_EQ(Run({"erase", "--yes"}, Hubs({a, b})).code, cliexit::kUsage);
}

TEST_F(DeviceTest, DeviceChoosesOneHub) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  const TRun run =
      Run({"write", image, "--device", "sim:" + b, "--backup-dir", FFolder.string()}, Hubs({a, b}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(a), std::vector<uint8_t>(512, 0xFF));
  EXPECT_EQ(Prefix(b, 7), FixedImage(0xD0));
  EXPECT_EQ(Run({"read", "-o", PathOf("x.bin"), "--device", "sim:nowhere"}, Hubs({a, b})).code,
            cliexit::kNoHub);
}

TEST_F(DeviceTest, AllWritesEveryHubAndReportsEachOne) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  const std::string c = Hub("c.eeprom");
  const std::string image = WriteFile("image.bin", SampleStringImage());
  TFaults broken;
  broken.FIoControlFails = true;
  const TRun run = Run({"write", image, "--all", "--backup-dir", FFolder.string()},
                       Hubs({a, b, c}, {{b, broken}}));
  EXPECT_EQ(run.code, cliexit::kIoError);
  EXPECT_NE(run.out.find("sim:" + a + ": wrote"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("sim:" + b + ": FAILED"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("sim:" + c + ": wrote"), std::string::npos) << run.out;
  EXPECT_EQ(Prefix(a, SampleStringImage().size()), SampleStringImage());
  EXPECT_EQ(Prefix(c, SampleStringImage().size()), SampleStringImage());
  EXPECT_EQ(ReadFile(b), std::vector<uint8_t>(512, 0xFF));

  const TRun good =
      Run({"--json", "write", image, "--all", "--backup-dir", FFolder.string()}, Hubs({a, c}));
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_NE(good.out.find("\"ok\": true"), std::string::npos) << good.out;
}

TEST_F(DeviceTest, WriteRefusesBeforeTouchingTheHub) {
  const std::string hub = Hub("hub.eeprom", FixedImage(0xD2));
  const std::string invalid = WriteFile("bad.bin", {0xD1, 0, 0});
  EXPECT_EQ(Run({"write", invalid}, Hubs({hub})).code, cliexit::kData);
  EXPECT_EQ(Run({"write", PathOf("missing.bin")}, Hubs({hub})).code, cliexit::kNoInput);
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  EXPECT_EQ(Run({"write", image, "--backup-dir", PathOf("nowhere")}, Hubs({hub})).code,
            cliexit::kCantCreate);
  EXPECT_EQ(Prefix(hub, 13), FixedImage(0xD2));
}

TEST_F(DeviceTest, FailedBackupReadWritesNothing) {
  const std::string hub = Hub("hub.eeprom", FixedImage(0xD2));
  TFaults faults;
  faults.FShortRead = true;
  faults.FShortReadBytes = 100;
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  const TRun run =
      Run({"write", image, "--backup-dir", FFolder.string()}, Hubs({hub}, {{hub, faults}}));
  EXPECT_EQ(run.code, cliexit::kIoError);
  EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;
  EXPECT_EQ(Prefix(hub, 13), FixedImage(0xD2));
}

TEST_F(DeviceTest, NoHubAndAccessDenied) {
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  EXPECT_EQ(Run({"write", image}, Hubs({})).code, cliexit::kNoHub);
  EXPECT_EQ(Run({"read", "-o", PathOf("x.bin")}, Hubs({})).code, cliexit::kNoHub);
  const std::string hub = Hub("hub.eeprom");
  TFaults denied;
  denied.FOpenFails = true;
  denied.FOpenError = THubError::AccessDenied;
  const TRun run = Run({"read", "-o", PathOf("x.bin")}, Hubs({hub}, {{hub, denied}}));
  EXPECT_EQ(run.code, cliexit::kNoPerm);
  EXPECT_NE(run.err.find("korvane-cli udev-rule"), std::string::npos) << run.err;
  TFaults stalled;
  stalled.FNegativeStatus = true;
  EXPECT_EQ(Run({"read", "-o", PathOf("x.bin")}, Hubs({hub}, {{hub, stalled}})).code,
            cliexit::kIoError);
}

TEST_F(DeviceTest, EraseNeedsYesBacksUpAndChecks) {
  const std::string hub = Hub("hub.eeprom", FixedImage(0xD3));
  EXPECT_EQ(Run({"erase"}, Hubs({hub})).code, cliexit::kUsage);
  EXPECT_EQ(Prefix(hub, 24), FixedImage(0xD3));
  const TRun run = Run({"erase", "--yes", "--backup-dir", FFolder.string()}, Hubs({hub}));
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<uint8_t> erased = FixedImage(0xD3);
  erased[0] = 0xFF;
  EXPECT_EQ(Prefix(hub, 24), erased);
  ASSERT_EQ(Backups(FFolder.string()).size(), 1u);
  EXPECT_EQ(ReadFile(Backups(FFolder.string())[0].string())[0], 0xD3);

  // A hub that keeps a wrong first byte is reported.
  TFaults faults;
  faults.FCorruptWrite = true;
  faults.FCorruptAddress = 0;
  EXPECT_EQ(
      Run({"erase", "--yes", "--backup-dir", FFolder.string()}, Hubs({hub}, {{hub, faults}})).code,
      cliexit::kIoError);
}

TEST_F(DeviceTest, VerifyComparesWithTheFile) {
  const std::string hub = Hub("hub.eeprom", SampleStringImage());
  const std::string same = WriteFile("same.bin", SampleStringImage());
  EXPECT_EQ(Run({"verify", same}, Hubs({hub})).code, 0);
  std::vector<uint8_t> other = SampleStringImage();
  other[5] ^= 0x10;
  const TRun run = Run({"verify", WriteFile("other.bin", other)}, Hubs({hub}));
  EXPECT_EQ(run.code, cliexit::kIoError);
  EXPECT_NE(run.err.find("at 0x005: expected 15, read 05"), std::string::npos) << run.err;
}

TEST_F(DeviceTest, WriteWarnsAboutAnUnboundVidPid) {
  const std::string hub = Hub("hub.eeprom");
  std::vector<uint8_t> bytes = FixedImage(0xD0);
  bytes[1] = 0x2B;
  bytes[2] = 0x1A;
  bytes[3] = 0x4D;
  bytes[4] = 0x3C;
  const std::string image = WriteFile("image.bin", bytes);
  const std::vector<std::string> args = {"--simulate", hub,   "--vidpid",     "1234:5678",
                                         "write",      image, "--backup-dir", FFolder.string()};
  const TRun run = Run(args);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("1a2b:3c4d is not bound"), std::string::npos) << run.err;
  const TRun bound = Run({"--simulate", hub, "--vidpid", "1a2b:3c4d", "write", image,
                          "--backup-dir", FFolder.string()});
  EXPECT_EQ(bound.err, "");
}

TEST_F(DeviceTest, SimulateRefusesAFileThatIsNoEeprom) {
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  EXPECT_EQ(Run({"--simulate", image, "read", "-o", PathOf("x.bin")}).code, cliexit::kData);
}

TEST_F(DeviceTest, ListShowsEveryHub) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  TFaults denied;
  denied.FOpenFails = true;
  const TRun run = Run({"list"}, Hubs({a, b}, {{b, denied}}));
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("sim:" + a), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("not accessible: access denied"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("udev-rule"), std::string::npos);
}

TEST_F(DeviceTest, UdevRuleForTheBoundIds) {
  const TRun run = Run({"--vidpid", "1a2b:3c4d", "udev-rule"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("ATTR{idVendor}==\"1a2b\", ATTR{idProduct}==\"3c4d\""), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("TAG+=\"korvane\""), std::string::npos);
  EXPECT_EQ(Run({"udev-rule"}).code, cliexit::kUsage);
  EXPECT_EQ(Run({"--vidpid", "nonsense", "udev-rule"}).code, cliexit::kUsage);
}

} // namespace
} // namespace clitest
