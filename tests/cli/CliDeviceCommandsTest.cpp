#include "CliTestSupport.h"
#include "SimulatedHub.h"

#include <map>

namespace clitest {
namespace {

using TFaults = TSimulatedHubDriver::TFaults;

class DeviceTest : public TCliTest {
protected:
  // A hub whose EEPROM holds `image` (the rest erased).
  std::string Hub(const std::string& name, const std::vector<uint8_t>& image = {}) {
    return WriteFile(name, Eeprom(image));
  }

  static decltype(TCliContext::makeDriver) Hubs(std::vector<std::string> files,
                                                std::map<std::string, TFaults> faults = {}) {
    return SimulatedHubs(std::move(files), std::move(faults));
  }

  std::vector<std::filesystem::path> Backups() const {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FFolder)) {
      if (entry.path().filename().string().rfind("korvane-backup-", 0) == 0) {
        found.push_back(entry.path());
      }
    }
    return found;
  }

  std::vector<std::string> BackupTo() const { return {"--backup-dir", FFolder.string()}; }
  static std::vector<std::string> Cat(std::vector<std::string> a, std::vector<std::string> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

// Commands that stop with an exit code before any hub, output file or backup is touched.
TEST_F(DeviceTest, RefusalsLeaveEveryHubAlone) {
  const std::string a = Hub("a.eeprom", FixedImage(0xD2));
  const std::string b = Hub("b.eeprom");
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  const std::string out = PathOf("x.bin");
  struct TCase {
    const char* name;
    std::vector<std::string> hubs;
    std::map<std::string, TFaults> faults;
    std::vector<std::string> args;
    int code;
  };
  const TCase cases[] = {
      {"write, two hubs", {a, b}, {}, {"write", image}, kUsage},
      {"read, two hubs", {a, b}, {}, {"read", "-o", out}, kUsage},
      {"verify, two hubs", {a, b}, {}, {"verify", image}, kUsage},
      {"erase, two hubs", {a, b}, {}, {"erase", "--yes"}, kUsage},
      {"unknown device", {a, b}, {}, {"read", "-o", out, "--device", "sim:nowhere"}, kNoHub},
      {"write, no hub", {}, {}, {"write", image}, kNoHub},
      {"read, no hub", {}, {}, {"read", "-o", out}, kNoHub},
      {"stalled", {a}, {{a, {.FNegativeStatus = true}}}, {"read", "-o", out}, kIoError},
      {"invalid image", {a}, {}, {"write", WriteFile("bad.bin", {0xD1, 0, 0})}, kData},
      {"missing image", {a}, {}, {"write", PathOf("missing.bin")}, kNoInput},
      {"no backup folder",
       {a},
       {},
       {"write", image, "--backup-dir", PathOf("nowhere")},
       kCantCreate},
      {"erase without --yes", {a}, {}, {"erase"}, kUsage},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(c.args, Hubs(c.hubs, c.faults)).code, c.code);
    EXPECT_EQ(ReadFile(a), Eeprom(FixedImage(0xD2)));
    EXPECT_EQ(ReadFile(b), Eeprom());
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(Backups().empty());
  }
  // Naming every hub lets the user pick one.
  const TRun run = Run({"write", image}, Hubs({a, b}));
  EXPECT_THAT(run.err, HasSubstr("sim:" + a));
  EXPECT_THAT(run.err, HasSubstr("sim:" + b));
  EXPECT_EQ(Run({"--simulate", image, "read", "-o", out}).code, kData); // no EEPROM file
}

TEST_F(DeviceTest, ReadSavesExactlyTheImage) {
  const std::string hub = Hub("hub.eeprom", SampleStringImage());
  const TRun run = Run({"read", "-o", PathOf("out.bin")}, Hubs({hub}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile("out.bin"), SampleStringImage());
  EXPECT_THAT(run.out, HasSubstr("sim:" + hub + ": read a 0xD4 image of"));
}

TEST_F(DeviceTest, ReadOfAnErasedHubNeedsRaw) {
  const std::string hub = Hub("hub.eeprom");
  EXPECT_EQ(Run({"read", "-o", PathOf("out.bin")}, Hubs({hub})).code, kData);
  EXPECT_FALSE(std::filesystem::exists(PathOf("out.bin")));
  ASSERT_EQ(Run({"read", "-o", PathOf("out.bin"), "--raw"}, Hubs({hub})).code, 0);
  EXPECT_EQ(ReadFile("out.bin"), Eeprom());
  ExpectSavedThroughLink(
      [&](const std::string& link) {
        return Run({"read", "-o", link, "--raw"}, Hubs({hub}));
      },
      Eeprom());
}

TEST_F(DeviceTest, WriteBacksUpWritesAndVerifies) {
  const std::string hub = Hub("hub.eeprom", FixedImage(0xD3));
  const std::string image = WriteFile("image.bin", SampleStringImage());
  std::filesystem::create_directory(PathOf("backups"));
  const TRun run = Run({"write", image, "--backup-dir", PathOf("backups")}, Hubs({hub}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("verified"));
  EXPECT_EQ(ReadFile(hub), Eeprom(SampleStringImage()));
  const auto backups = Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(backups[0].parent_path(), PathOf("backups"));
  // The backup keeps all 512 bytes the hub held before.
  EXPECT_EQ(ReadFile(backups[0].string()), Eeprom(FixedImage(0xD3)));
  EXPECT_THAT(backups[0].filename().string(), HasSubstr("sim_"));
}

TEST_F(DeviceTest, WriteCatchesAWrongByteOnReadBack) {
  const std::string hub = Hub("hub.eeprom");
  const std::string image = WriteFile("image.bin", SampleStringImage());
  const std::map<std::string, TFaults> faults = {
      {hub, {.FCorruptWrite = true, .FCorruptAddress = 0x2A}}};
  const TRun run = Run(Cat({"write", image}, BackupTo()), Hubs({hub}, faults));
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.err, HasSubstr("at 0x02A"));
  // Without the read-back the same fault goes unseen.
  const TRun unverified =
      Run(Cat({"write", image, "--no-verify"}, BackupTo()), Hubs({hub}, faults));
  EXPECT_EQ(unverified.code, 0) << unverified.err;
  EXPECT_THAT(unverified.out, HasSubstr("not verified"));
}

TEST_F(DeviceTest, DeviceChoosesOneHub) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  const TRun run = Run(Cat({"write", image, "--device", "sim:" + b}, BackupTo()), Hubs({a, b}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(a), Eeprom());
  EXPECT_EQ(ReadFile(b), Eeprom(FixedImage(0xD0)));
}

TEST_F(DeviceTest, AllWritesEveryHubAndReportsEachOne) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  const std::string c = Hub("c.eeprom");
  const std::string image = WriteFile("image.bin", SampleStringImage());
  const TRun run = Run(Cat({"write", image, "--all"}, BackupTo()),
                       Hubs({a, b, c}, {{b, {.FIoControlFails = true}}}));
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.out, HasSubstr("sim:" + a + ": wrote"));
  EXPECT_THAT(run.out, HasSubstr("sim:" + b + ": FAILED"));
  EXPECT_THAT(run.out, HasSubstr("sim:" + c + ": wrote"));
  EXPECT_EQ(ReadFile(a), Eeprom(SampleStringImage()));
  EXPECT_EQ(ReadFile(c), Eeprom(SampleStringImage()));
  EXPECT_EQ(ReadFile(b), Eeprom());

  const TRun good = Run(Cat({"--json", "write", image, "--all"}, BackupTo()), Hubs({a, c}));
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_THAT(good.out, HasSubstr("\"ok\": true"));
}

TEST_F(DeviceTest, FailedBackupReadWritesNothing) {
  const std::string hub = Hub("hub.eeprom", FixedImage(0xD2));
  const std::string image = WriteFile("image.bin", FixedImage(0xD0));
  const TRun run = Run(Cat({"write", image}, BackupTo()),
                       Hubs({hub}, {{hub, {.FShortRead = true, .FShortReadBytes = 100}}}));
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.err, HasSubstr("nothing was written"));
  EXPECT_EQ(ReadFile(hub), Eeprom(FixedImage(0xD2)));
}

TEST_F(DeviceTest, AccessDeniedPointsToTheUdevRule) {
  const std::string hub = Hub("hub.eeprom");
  const TFaults denied{.FOpenFails = true, .FOpenError = THubError::AccessDenied};
  const TRun run = Run({"read", "-o", PathOf("x.bin")}, Hubs({hub}, {{hub, denied}}));
  EXPECT_EQ(run.code, kNoPerm);
  EXPECT_THAT(run.err, HasSubstr("korvane-cli udev-rule"));
}

TEST_F(DeviceTest, EraseBacksUpAndChecks) {
  const std::string hub = Hub("hub.eeprom", FixedImage(0xD3));
  const TRun run = Run(Cat({"erase", "--yes"}, BackupTo()), Hubs({hub}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(hub), Eeprom(Patched(FixedImage(0xD3), {{0, 0xFF}})));
  ASSERT_EQ(Backups().size(), 1u);
  EXPECT_EQ(ReadFile(Backups()[0].string())[0], 0xD3);
  // A hub that keeps a wrong first byte is reported.
  const TFaults faults{.FCorruptWrite = true, .FCorruptAddress = 0};
  EXPECT_EQ(Run(Cat({"erase", "--yes"}, BackupTo()), Hubs({hub}, {{hub, faults}})).code, kIoError);
}

TEST_F(DeviceTest, VerifyComparesWithTheFile) {
  const std::string hub = Hub("hub.eeprom", SampleStringImage());
  EXPECT_EQ(Run({"verify", WriteFile("same.bin", SampleStringImage())}, Hubs({hub})).code, 0);
  std::vector<uint8_t> other = SampleStringImage();
  other[5] ^= 0x10;
  const TRun run = Run({"verify", WriteFile("other.bin", other)}, Hubs({hub}));
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.err, HasSubstr("at 0x005: expected 15, read 05"));
}

TEST_F(DeviceTest, WriteWarnsAboutAnUnboundVidPid) {
  const std::string hub = Hub("hub.eeprom");
  const std::string image = WriteFile(
      "image.bin", Patched(FixedImage(0xD0), {{1, 0x2B}, {2, 0x1A}, {3, 0x4D}, {4, 0x3C}}));
  const TRun run =
      Run(Cat({"--simulate", hub, "--vidpid", "1234:5678", "write", image}, BackupTo()));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("1a2b:3c4d is not bound"));
  const TRun bound =
      Run(Cat({"--simulate", hub, "--vidpid", "1a2b:3c4d", "write", image}, BackupTo()));
  EXPECT_EQ(bound.err, "");
}

TEST_F(DeviceTest, ListShowsEveryHub) {
  const std::string a = Hub("a.eeprom");
  const std::string b = Hub("b.eeprom");
  const TRun run = Run({"list"}, Hubs({a, b}, {{b, {.FOpenFails = true}}}));
  EXPECT_EQ(run.code, 0);
  EXPECT_THAT(run.out, HasSubstr("sim:" + a));
  EXPECT_THAT(run.out, HasSubstr("not accessible: access denied"));
  EXPECT_THAT(run.err, HasSubstr("udev-rule"));
}

TEST_F(DeviceTest, UdevRuleForTheBoundIds) {
  const TRun run = Run({"--vidpid", "1a2b:3c4d", "udev-rule"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("ATTR{idVendor}==\"1a2b\", ATTR{idProduct}==\"3c4d\""));
  EXPECT_THAT(run.out, HasSubstr("TAG+=\"korvane\""));
  EXPECT_EQ(Run({"udev-rule"}).code, kUsage);
  EXPECT_EQ(Run({"--vidpid", "nonsense", "udev-rule"}).code, kUsage);
}

} // namespace
} // namespace clitest
