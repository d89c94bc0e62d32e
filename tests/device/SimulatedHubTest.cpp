// The simulated hub: EEPROM files, the two vendor requests, every injected fault, and threads.
#include "SimulatedHub.h"
#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

namespace {

using TFaults = TSimulatedHubDriver::TFaults;

TBytes ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const TBytes& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// 512 bytes holding a valid 0xD2 image at the front and a pattern after it.
TBytes EepromPattern(uint8_t seed) {
  TBytes bytes = Pattern(512, seed, 3);
  bytes[0] = 0xD2;
  return bytes;
}

struct SimulatedHub : ::testing::Test {
  TTempDir FTemp;
  const fs::path& FDir = FTemp.Path();
  TSimulatedHubDriver FDriver;
  std::unique_ptr<TTargetDev> FDevice;

  // Adds a hub whose file (under FDir unless absolute) holds `bytes` (none: the file is left as
  // it is) and returns its path.
  std::string Add(const fs::path& name, const TBytes* bytes = nullptr) {
    const fs::path file = FDir / name;
    if (bytes != nullptr) {
      WriteFile(file, *bytes);
    }
    std::string error;
    EXPECT_TRUE(FDriver.AddHub(file.string(), error)) << error;
    return TSimulatedHubDriver::PathOf(file.string());
  }
  std::vector<std::string> Listed() {
    std::vector<std::string> paths;
    EXPECT_TRUE(FDriver.PresentInterfaces(paths));
    return paths;
  }
  TBytes Contents(const std::string& path) {
    TBytes bytes;
    EXPECT_TRUE(FDriver.Contents(path, bytes));
    return bytes;
  }
  void SetFaults(const std::string& path, const std::function<void(TFaults&)>& set) {
    TFaults faults;
    set(faults);
    EXPECT_TRUE(FDriver.SetFaults(path, faults));
  }
  TEepromOutcome Erase() {
    return EraseEeprom(FDriver, FDevice, [] { return true; });
  }
};

TEST_F(SimulatedHub, AMissingFileBecomesABlankEeprom) {
  const std::string path = Add("blank.bin");
  EXPECT_EQ(path, "sim:" + (FDir / "blank.bin").string());
  EXPECT_EQ(ReadFile(FDir / "blank.bin"), TBytes(512, 0xFF));

  std::unique_ptr<TEEImage> image;
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, image), TEepromOutcome::InvalidImage);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->GetByte(0), 0xFF);
  EXPECT_EQ(image->GetByte(511), 0xFF);
}

TEST_F(SimulatedHub, FilesOfAnyOtherSizeAreRefusedAndLeftAlone) {
  for (size_t size : {0, 1, 7, 511, 513, 1024}) {
    const fs::path file = FDir / ("image-" + std::to_string(size) + ".bin");
    const TBytes bytes(size, 0xD0);
    WriteFile(file, bytes);
    std::string error;
    EXPECT_FALSE(FDriver.AddHub(file.string(), error)) << size;
    EXPECT_NE(error.find("probably an image file, not an EEPROM"), std::string::npos) << error;
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    EXPECT_EQ(ReadFile(file), bytes);
  }
  std::string error;
  EXPECT_FALSE(FDriver.AddHub(FDir.string(), error)); // a folder is no EEPROM either
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(Listed().empty());
}

TEST_F(SimulatedHub, HubsAreListedInTheOrderAddedAndEachFileOnlyOnce) {
  const std::string b = Add("b.bin");
  const std::string a = Add("a.bin");
  std::string error;
  EXPECT_FALSE(FDriver.AddHub((FDir / "b.bin").string(), error));
  EXPECT_FALSE(FDriver.AddHub((FDir / "." / "a.bin").string(), error));
  // The same file under another name, also after it was written.
  ASSERT_EQ(Erase(), TEepromOutcome::Success);
  fs::create_symlink(FDir / "a.bin", FDir / "soft.bin");
  fs::create_hard_link(FDir / "b.bin", FDir / "hard.bin");
  EXPECT_FALSE(FDriver.AddHub((FDir / "soft.bin").string(), error));
  EXPECT_FALSE(FDriver.AddHub((FDir / "hard.bin").string(), error));
  EXPECT_NE(error.find("already a simulated hub"), std::string::npos) << error;
  EXPECT_EQ(Listed(), (std::vector<std::string>{b, a}));
}

TEST_F(SimulatedHub, ReadAfterWriteReturnsWhatWasWrittenAndTheFileKeepsIt) {
  const TBytes old = EepromPattern(1);
  const std::string path = Add("hub.bin", &old);
  TBytes fresh = EepromPattern(100);
  fresh[0] = 0xD3; // a 24-byte image: only those bytes are written
  std::unique_ptr<TEEImage> image = MakeImage(fresh);
  ASSERT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::Success);

  TBytes expected = old;
  std::copy(fresh.begin(), fresh.begin() + 24, expected.begin());
  EXPECT_EQ(Contents(path), expected);
  EXPECT_EQ(ReadFile(FDir / "hub.bin"), expected);

  std::unique_ptr<TEEImage> back;
  ASSERT_EQ(ReadEeprom(FDriver, FDevice, back), TEepromOutcome::Success);
  for (int32_t i = 0; i < 512; ++i) {
    ASSERT_EQ(back->GetByte(i), expected[i]) << i;
  }

  // A second driver on the same file sees what the first one saved.
  TSimulatedHubDriver again;
  std::string error;
  ASSERT_TRUE(again.AddHub((FDir / "hub.bin").string(), error)) << error;
  TBytes reloaded;
  ASSERT_TRUE(again.Contents(path, reloaded));
  EXPECT_EQ(reloaded, expected);
}

TEST_F(SimulatedHub, EraseOverwritesByteZeroOnly) {
  const TBytes old = EepromPattern(9);
  const std::string path = Add("hub.bin", &old);
  ASSERT_EQ(Erase(), TEepromOutcome::Success);
  TBytes expected = old;
  expected[0] = 0xFF;
  EXPECT_EQ(Contents(path), expected);
  EXPECT_EQ(ReadFile(FDir / "hub.bin"), expected);
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

TEST_F(SimulatedHub, AFailedSaveIsAFailedWriteAndChangesNothing) {
  fs::create_directory(FDir / "gone");
  const TBytes old = EepromPattern(5);
  const std::string path = Add("gone/hub.bin", &old);
  fs::remove_all(FDir / "gone"); // nowhere left to save to, even for root

  EXPECT_EQ(Erase(), TEepromOutcome::TransferFailed);
  ASSERT_TRUE(FDevice);
  EXPECT_EQ(FDevice->LastError(), THubError::Io);
  EXPECT_EQ(Contents(path), old);
}

// The EEPROM file is the user's: a write through a link lands in the file the link names, and
// the file keeps its permission bits.
TEST_F(SimulatedHub, AWriteKeepsTheLinkAndThePermissionsOfTheEepromFile) {
  const TBytes old = EepromPattern(6);
  const fs::path real = FDir / "real.bin";
  WriteFile(real, old);
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const fs::path link = FDir / "link.bin";
  fs::create_symlink(real, link);
  Add(link);

  ASSERT_EQ(Erase(), TEepromOutcome::Success);
  TBytes expected = old;
  expected[0] = 0xFF;
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_EQ(ReadFile(real), expected);
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
}

TEST_F(SimulatedHub, ThePageWriteDelayStillStoresEveryByte) {
  const std::string path = Add("slow.bin");
  FDriver.SetPageWriteDelay(16, std::chrono::microseconds(1));
  const TBytes fresh = EepromPattern(3);
  std::unique_ptr<TEEImage> image = MakeImage(fresh);
  ASSERT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::Success);
  EXPECT_EQ(Contents(path)[12], fresh[12]);
  EXPECT_EQ(Contents(path)[13], 0xFF);
}

// Each fault: the outcome of the command it hits, the reason, and an EEPROM left alone.

struct TFaultCase {
  const char* FName;
  std::function<void(TFaults&)> FSet;
  TCommand FCommand;
  TEepromOutcome FOutcome;
  THubError FWhy;
};

class SimulatedHubFault : public SimulatedHub, public ::testing::WithParamInterface<TFaultCase> {};

TEST_P(SimulatedHubFault, GivesItsOutcomeAndLeavesTheEepromAlone) {
  const TFaultCase& c = GetParam();
  const TBytes old = EepromPattern(7);
  const std::string path = Add("hub.bin", &old);
  SetFaults(path, c.FSet);

  std::unique_ptr<TEEImage> image = MakeImage(EepromPattern(200));
  TEEImage* before = image.get();
  EXPECT_EQ(RunCommand(c.FCommand, FDriver, FDevice, image), c.FOutcome);
  if (FDevice) {
    EXPECT_EQ(FDevice->LastError(), c.FWhy);
  } else {
    EXPECT_EQ(FDriver.LastError(), c.FWhy);
  }
  EXPECT_EQ(image.get(), before);
  EXPECT_EQ(Contents(path), old);
  EXPECT_EQ(ReadFile(FDir / "hub.bin"), old);
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimulatedHubFault,
    ::testing::Values(
        TFaultCase{"OpenFails", [](auto& f) { f.FOpenFails = true; }, TCommand::Read,
                   TEepromOutcome::NoDevice, THubError::AccessDenied},
        TFaultCase{"Gone", [](auto& f) { f.FGone = true; }, TCommand::Erase,
                   TEepromOutcome::NoDevice, THubError::None},
        TFaultCase{"IoControlFailsRead",
                   [](auto& f) {
                     f.FIoControlFails = true;
                     f.FIoControlError = THubError::Timeout;
                   },
                   TCommand::Read, TEepromOutcome::TransferFailed, THubError::Timeout},
        TFaultCase{"IoControlFailsWrite", [](auto& f) { f.FIoControlFails = true; },
                   TCommand::Write, TEepromOutcome::TransferFailed, THubError::Io},
        TFaultCase{"NegativeStatusRead", [](auto& f) { f.FNegativeStatus = true; }, TCommand::Read,
                   TEepromOutcome::TransferFailed, THubError::Stalled},
        TFaultCase{"NegativeStatusErase", [](auto& f) { f.FNegativeStatus = true; },
                   TCommand::Erase, TEepromOutcome::TransferFailed, THubError::Stalled},
        TFaultCase{"ShortRead",
                   [](auto& f) {
                     f.FShortRead = true;
                     f.FShortReadBytes = 511;
                   },
                   TCommand::Read, TEepromOutcome::TransferFailed, THubError::Io}),
    [](const auto& info) { return std::string(info.param.FName); });

TEST_F(SimulatedHub, AFailingEnumerationIsToldApartFromNoHub) {
  Add("hub.bin");
  FDriver.SetEnumerationFails(true);
  std::unique_ptr<TEEImage> image;
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, image), TEepromOutcome::EnumerationFailed);
  EXPECT_EQ(FDriver.LastError(), THubError::Io);
  FDriver.SetEnumerationFails(false);
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, image), TEepromOutcome::InvalidImage);
}

TEST_F(SimulatedHub, AGoneHubIsNotListedAndItsOpenHandleFails) {
  const std::string path = Add("hub.bin");
  TTargetDev open(FDriver, path);
  ASSERT_TRUE(open.Open());
  SetFaults(path, [](TFaults& f) { f.FGone = true; });

  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(EraseEepromOn(open), TEepromOutcome::TransferFailed);
  EXPECT_EQ(open.LastError(), THubError::NotFound);
  EXPECT_TRUE(open.Close()); // the handle can still be let go
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
  EXPECT_EQ(Contents(path), TBytes(512, 0xFF));

  TTargetDev again(FDriver, path);
  EXPECT_FALSE(again.Open());
  EXPECT_EQ(again.LastError(), THubError::NotFound);
}

TEST_F(SimulatedHub, AShortReadDeliversNoMoreThanItSays) {
  const TBytes old = EepromPattern(4);
  const std::string path = Add("hub.bin", &old);
  SetFaults(path, [](TFaults& f) {
    f.FShortRead = true;
    f.FShortReadBytes = 10;
  });
  TTargetDev open(FDriver, path);
  ASSERT_TRUE(open.Open());
  TBytes data(512, 0xEE);
  EXPECT_FALSE(open.ControlTransfer(false, data.data(), 512));
  EXPECT_EQ(TBytes(data.begin(), data.begin() + 10), TBytes(old.begin(), old.begin() + 10));
  EXPECT_EQ(data[10], 0x00);

  // A read no longer than what the fault lets through is whole, so it succeeds.
  EXPECT_TRUE(open.ControlTransfer(false, data.data(), 10));
}

TEST_F(SimulatedHub, ACorruptWriteReportsSuccessButStoresTheFlippedByte) {
  const std::string path = Add("hub.bin");
  TFaults faults;
  faults.FCorruptWrite = true;
  faults.FCorruptAddress = 5;
  faults.FCorruptMask = 0x81;
  ASSERT_TRUE(FDriver.SetFaults(path, faults));
  const TBytes fresh = EepromPattern(50); // a 13-byte image
  std::unique_ptr<TEEImage> image = MakeImage(fresh);
  ASSERT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::Success);

  TBytes expected(512, 0xFF);
  std::copy(fresh.begin(), fresh.begin() + 13, expected.begin());
  expected[5] ^= 0x81;
  EXPECT_EQ(Contents(path), expected);

  // Beyond what was written the fault finds nothing to corrupt.
  faults.FCorruptAddress = 13;
  ASSERT_TRUE(FDriver.SetFaults(path, faults));
  ASSERT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::Success);
  expected[5] ^= 0x81;
  EXPECT_EQ(Contents(path), expected);
}

TEST_F(SimulatedHub, ARefusedOpenFallsThroughToTheNextHub) {
  const std::string first = Add("first.bin");
  const std::string second = Add("second.bin");
  SetFaults(first, [](TFaults& f) { f.FOpenFails = true; });
  ASSERT_EQ(Erase(), TEepromOutcome::Success);
  EXPECT_EQ(FDevice->Path(), second);
  EXPECT_EQ(FDriver.RequestCount(first), 0u);
  EXPECT_EQ(FDriver.RequestCount(second), 1u);
  EXPECT_FALSE(FDriver.SetFaults("sim:unknown", TFaults{}));
}

// Records the channel would never send: the hub refuses each with a negative USB status.
struct TRecordCase {
  const char* FName;
  std::function<void(TBytes&)> FSpoil;
};

class SimulatedHubRecord : public SimulatedHub,
                           public ::testing::WithParamInterface<TRecordCase> {};

TEST_P(SimulatedHubRecord, IsRefusedWithANegativeStatusAndChangesNothing) {
  const TBytes old = EepromPattern(11);
  const std::string path = Add("hub.bin", &old);
  const THandle handle = FDriver.Open(path);
  ASSERT_NE(handle, kInvalidHandle);

  TBytes record = Record(0x40, 1, 4, 20);
  GetParam().FSpoil(record);

  EXPECT_TRUE(Send(FDriver, handle, record));
  EXPECT_LT(UsbStatus(record), 0);
  EXPECT_EQ(Contents(path), old);
  EXPECT_TRUE(FDriver.Close(handle));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimulatedHubRecord,
    ::testing::Values(
        TRecordCase{"ReadTypeWithWriteRequest", [](TBytes& r) { r[kRecRequestType] = 0xC0; }},
        TRecordCase{"UnknownRequest", [](TBytes& r) { r[kRecRequest] = 3; }},
        TRecordCase{"ClassRequestType", [](TBytes& r) { r[kRecRequestType] = 0x20; }},
        TRecordCase{"NonZeroValue", [](TBytes& r) { PutLe16(r.data() + kRecValue, 1); }},
        TRecordCase{"NonZeroIndex", [](TBytes& r) { PutLe16(r.data() + kRecIndex, 0x100); }},
        TRecordCase{"DataOffset", [](TBytes& r) { PutLe32(r.data() + kRecDataOffset, 40); }},
        TRecordCase{"DataLength", [](TBytes& r) { PutLe32(r.data() + kRecDataLength, 3); }},
        TRecordCase{"LengthBeyondBuffer",
                    [](TBytes& r) {
                      PutLe16(r.data() + kRecLength, 5);
                      PutLe32(r.data() + kRecDataLength, 5);
                    }}),
    [](const auto& info) { return std::string(info.param.FName); });

TEST_F(SimulatedHub, RequestsPastTheEepromsEndAreRefused) {
  const std::string path = Add("hub.bin");
  TTargetDev open(FDriver, path);
  ASSERT_TRUE(open.Open());
  TBytes data(513, 0x00);
  EXPECT_FALSE(open.ControlTransfer(false, data.data(), 513));
  EXPECT_FALSE(open.ControlTransfer(true, data.data(), 513));
  EXPECT_EQ(Contents(path), TBytes(512, 0xFF));
  EXPECT_TRUE(open.ControlTransfer(true, data.data(), 512));
  EXPECT_EQ(Contents(path), TBytes(512, 0x00));
}

TEST_F(SimulatedHub, TheDriverRefusesWhatIsNoRequestRecord) {
  const std::string path = Add("hub.bin");
  const THandle handle = FDriver.Open(path);
  TBytes record = Record(0xC0, 2, 0, 0);
  uint32_t returned = 0;
  EXPECT_TRUE(FDriver.IoControl(handle, kIoctlControlTransfer, record.data(), 38, &returned));
  EXPECT_EQ(returned, 38u);
  EXPECT_FALSE(FDriver.IoControl(handle, 0x00220024, record.data(), 38, &returned));
  EXPECT_EQ(FDriver.LastError(), THubError::Other);
  EXPECT_FALSE(FDriver.IoControl(handle, kIoctlControlTransfer, record.data(), 37, &returned));
  EXPECT_FALSE(FDriver.IoControl(handle, kIoctlControlTransfer, nullptr, 38, &returned));
  EXPECT_FALSE(FDriver.IoControl(handle + 100, kIoctlControlTransfer, record.data(), 38, nullptr));
  EXPECT_EQ(FDriver.LastError(), THubError::NotFound);
  EXPECT_TRUE(FDriver.Close(handle));
  EXPECT_FALSE(FDriver.Close(handle));
}

TEST_F(SimulatedHub, ThreadsOnDifferentHubsDoNotDisturbEachOther) {
  constexpr int kHubs = 4;
  constexpr int kRounds = 40;
  std::vector<std::string> paths;
  for (int i = 0; i < kHubs; ++i) {
    paths.push_back(Add("hub" + std::to_string(i) + ".bin"));
  }
  const std::string refused = Add("refused.bin");
  SetFaults(refused, [](TFaults& f) {
    f.FOpenFails = true;
    f.FOpenError = THubError::Timeout;
  });

  std::vector<int> failures(kHubs, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kHubs; ++i) {
    threads.emplace_back([&, i] {
      std::unique_ptr<TTargetDev> device;
      for (int round = 0; round < kRounds; ++round) {
        const TBytes bytes = EepromPattern(static_cast<uint8_t>(i * 50 + round));
        std::unique_ptr<TEEImage> image = MakeImage(bytes);
        std::unique_ptr<TEEImage> back;
        // Odd threads also fail to open a hub now and then: their error must stay their own.
        if (i % 2 == 1) {
          TTargetDev other(FDriver, refused);
          failures[i] += other.Open() || other.LastError() != THubError::Timeout ? 1 : 0;
        }
        if (OpenDeviceAt(FDriver, paths[i], device) != TDiscoveryStatus::Opened ||
            WriteEepromTo(*device, *image) != TEepromOutcome::Success ||
            ReadEepromFrom(*device, back) != TEepromOutcome::Success ||
            back->GetByte(12) != bytes[12] || !device->Close()) {
          ++failures[i];
        }
        if (i % 2 == 0 && FDriver.LastError() != THubError::None) {
          ++failures[i];
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < kHubs; ++i) {
    EXPECT_EQ(failures[i], 0) << i;
    const TBytes last = EepromPattern(static_cast<uint8_t>(i * 50 + kRounds - 1));
    const TBytes stored = Contents(paths[i]);
    EXPECT_EQ(TBytes(stored.begin(), stored.begin() + 13), TBytes(last.begin(), last.begin() + 13));
  }
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

} // namespace
