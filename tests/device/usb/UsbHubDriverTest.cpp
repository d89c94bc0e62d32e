// The libusb backend end to end: libusb sees hubs emulated by umockdev and talks to them through
// the kernel's usbfs calls, which the emulated hub answers.
#include "UsbHubDriver.h"
#include "UsbTestbed.h"

#include "DeviceTestSupport.h"
#include "Discovery.h"
#include "Trgtdev.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

namespace {

constexpr TUsbId kBoundId{0x1234, 0x5678};
constexpr TUsbId kOtherId{0x1234, 0x9999}; // same maker, another product: not ours
constexpr TUsbId kParentId{0xAAAA, 0x0001};

TUsbBinding BindingOf(std::initializer_list<TUsbId> ids) {
  TUsbBinding binding;
  for (TUsbId id : ids)
    binding.Add(id);
  return binding;
}

// A parent hub, our bound hub below it and an unbound hub of the same maker on the same bus.
class UsbHubDriverTest : public ::testing::Test {
protected:
  TUsbTestbed FBed;
  TEmulatedHub& FParent = FBed.AddDevice("1-1", kParentId);
  TEmulatedHub& FHub = FBed.AddDevice("1-1.4", kBoundId);
  TEmulatedHub& FUnbound = FBed.AddDevice("1-2", kOtherId);
  TUsbHubDriver FDriver{BindingOf({kBoundId})};

  void TearDown() override {
    // Whatever a test did, nothing reached a hub that is not bound.
    EXPECT_TRUE(FUnbound.SeenRequests().empty());
    EXPECT_TRUE(FParent.SeenRequests().empty());
  }

  // The bound hub's handle; the test fails here if it does not open.
  THandle OpenHub() {
    const THandle handle = FDriver.Open("usb:1-1.4");
    EXPECT_NE(handle, kInvalidHandle);
    return handle;
  }
  std::vector<std::string> Present() {
    std::vector<std::string> paths;
    EXPECT_TRUE(FDriver.PresentInterfaces(paths));
    return paths;
  }
};

TEST_F(UsbHubDriverTest, PublishesOnlyTheBoundHub) {
  EXPECT_EQ(Present(), std::vector<std::string>{"usb:1-1.4"});
}

TEST_F(UsbHubDriverTest, UnboundHubDoesNotOpen) {
  for (const char* path : {"usb:1-2", "usb:1-1", "usb:9-9", "", "sim:usb:1-1.4"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(FDriver.Open(path), kInvalidHandle);
    EXPECT_EQ(FDriver.LastError(), THubError::NotFound);
  }
}

// The search every device command makes finds the bound hub, not the unbound one before it.
TEST_F(UsbHubDriverTest, DiscoveryOpensTheBoundHub) {
  std::unique_ptr<TTargetDev> device;
  ASSERT_EQ(OpenDevice(FDriver, device), TDiscoveryStatus::Opened);
  EXPECT_EQ(device->Path(), "usb:1-1.4");
  EXPECT_TRUE(device->Close());
}

TEST_F(UsbHubDriverTest, ReadReturnsTheEepromAndSendsOneReadRequest) {
  auto contents = Pattern(512, 3, 7);
  std::copy(contents.begin(), contents.end(), FHub.Eeprom.begin());

  TTargetDev device(FDriver, "usb:1-1.4");
  ASSERT_TRUE(device.Open());
  std::vector<uint8_t> data(512, 0);
  ASSERT_TRUE(device.ControlTransfer(false, data.data(), 512));
  EXPECT_EQ(data, contents);

  auto seen = FHub.SeenRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].RequestType, 0xC0);
  EXPECT_EQ(seen[0].Request, 2);
  EXPECT_EQ(seen[0].Value, 0);
  EXPECT_EQ(seen[0].Index, 0);
  EXPECT_EQ(seen[0].Length, 512);
}

TEST_F(UsbHubDriverTest, WriteStoresExactlyTheBytesSent) {
  for (uint32_t n : {1u, 7u, 64u, 300u, 512u}) {
    SCOPED_TRACE(n);
    FHub.Eeprom.fill(0xFF);
    auto bytes = Pattern(n, static_cast<uint8_t>(n), 7);
    TTargetDev device(FDriver, "usb:1-1.4");
    ASSERT_TRUE(device.Open());
    ASSERT_TRUE(device.ControlTransfer(true, bytes.data(), n));
    ASSERT_TRUE(device.Close());

    auto seen = FHub.SeenRequests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().RequestType, 0x40);
    EXPECT_EQ(seen.back().Request, 1);
    EXPECT_EQ(seen.back().Length, n);
    EXPECT_EQ(seen.back().Data, bytes);
    std::vector<uint8_t> stored(FHub.Eeprom.begin(), FHub.Eeprom.begin() + n);
    EXPECT_EQ(stored, bytes);
    EXPECT_TRUE(std::all_of(FHub.Eeprom.begin() + n, FHub.Eeprom.end(),
                            [](uint8_t b) { return b == 0xFF; }));
  }
}

TEST_F(UsbHubDriverTest, RecordCarriesStatusAndReturnedSize) {
  const THandle handle = OpenHub();
  auto record = Record(0xC0, 2, 16, 20);
  PutLe32(&record[kRecUsbStatus], 0x7F7F7F7F);
  uint32_t returned = 0;
  ASSERT_TRUE(Send(FDriver, handle, record, &returned));
  EXPECT_EQ(UsbStatus(record), 0);
  EXPECT_EQ(returned, record.size());
  EXPECT_TRUE(FDriver.Close(handle));
}

// Every way a transfer can go wrong on the wire gives a failure with its own reason, and a
// negative USB status in the record, never a success.
struct TFaultCase {
  const char* Name;
  THubFault Fault;
  bool Write;
  THubError Expected;
};

class UsbHubFaultTest : public UsbHubDriverTest,
                        public ::testing::WithParamInterface<TFaultCase> {};

TEST_P(UsbHubFaultTest, FailsWithItsReason) {
  const TFaultCase& c = GetParam();
  const THandle handle = OpenHub();
  FHub.SetFault(c.Fault);

  const uint16_t n = 512;
  auto record = Record(c.Write ? 0x40 : 0xC0, c.Write ? 1 : 2, n, 20);
  if (c.Write) {
    auto bytes = Pattern(n, 9, 7);
    std::copy(bytes.begin(), bytes.end(), record.begin() + kRecHeaderSize);
  }
  uint32_t returned = 123;
  EXPECT_FALSE(Send(FDriver, handle, record, &returned));
  EXPECT_EQ(FDriver.LastError(), c.Expected);
  EXPECT_LT(UsbStatus(record), 0);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(FHub.SeenRequests().size(), 1u);
  EXPECT_TRUE(FDriver.Close(handle));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UsbHubFaultTest,
    ::testing::Values(
        TFaultCase{"StalledRead", THubFault::Stall, false, THubError::Stalled},
        TFaultCase{"StalledWrite", THubFault::Stall, true, THubError::Stalled},
        TFaultCase{"ShortRead", THubFault::ShortRead, false, THubError::Io},
        TFaultCase{"UnplugMidWrite", THubFault::UnplugMidRequest, true, THubError::NotFound},
        TFaultCase{"UnplugMidRead", THubFault::UnplugMidRequest, false, THubError::NotFound}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(UsbHubDriverTest, StallFailsThroughTheChannel) {
  FHub.SetFault(THubFault::Stall);
  TTargetDev device(FDriver, "usb:1-1.4");
  ASSERT_TRUE(device.Open());
  uint8_t erase = 0xFF;
  EXPECT_FALSE(device.ControlTransfer(true, &erase, 1));
  EXPECT_EQ(device.LastError(), THubError::Stalled);
}

TEST_F(UsbHubDriverTest, UnansweredRequestTimesOutAndTheNextTransferWorks) {
  const THandle handle = OpenHub();
  FHub.SetFault(THubFault::NoAnswer);
  auto record = Record(0xC0, 2, 64, 1);
  EXPECT_FALSE(Send(FDriver, handle, record));
  EXPECT_EQ(FDriver.LastError(), THubError::Timeout);
  EXPECT_LT(UsbStatus(record), 0);

  FHub.SetFault(THubFault::None);
  auto again = Record(0xC0, 2, 64, 20);
  EXPECT_TRUE(Send(FDriver, handle, again));
  EXPECT_EQ(UsbStatus(again), 0);
  EXPECT_TRUE(FDriver.Close(handle));
}

// Read as milliseconds, a time-out of 5 would give up long before a hub that answers after a
// tenth of a second; read as seconds, the answer is waited for.
TEST_F(UsbHubDriverTest, TimeOutFieldCountsSeconds) {
  const THandle handle = OpenHub();
  FHub.SetFault(THubFault::NoAnswer);
  auto record = Record(0x40, 1, 4, 5);
  std::thread late([&] {
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (FHub.AnswerUnanswered())
        break;
    }
  });
  EXPECT_TRUE(Send(FDriver, handle, record));
  late.join();
  EXPECT_EQ(UsbStatus(record), 0);
  EXPECT_TRUE(FDriver.Close(handle));
}

TEST_F(UsbHubDriverTest, UnpluggedHubFailsAndDisappears) {
  TTargetDev device(FDriver, "usb:1-1.4");
  ASSERT_TRUE(device.Open());
  FBed.Unplug(FHub);

  std::vector<uint8_t> bytes = Pattern(100, 1, 7);
  EXPECT_FALSE(device.ControlTransfer(true, bytes.data(), 100));
  EXPECT_EQ(device.LastError(), THubError::NotFound);
  EXPECT_TRUE(FHub.SeenRequests().empty());

  // libusb learns of the removal on its own thread: wait for it, then the hub is gone for good.
  std::vector<std::string> paths{"usb:1-1.4"};
  for (int i = 0; i < 500 && !paths.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    paths = Present();
  }
  EXPECT_TRUE(paths.empty());
  EXPECT_EQ(FDriver.Open("usb:1-1.4"), kInvalidHandle);
  EXPECT_EQ(FDriver.LastError(), THubError::NotFound);
}

// Records the channel never builds are refused before anything reaches the hub.
TEST_F(UsbHubDriverTest, MalformedRecordsAreRefusedUnsent) {
  const THandle handle = OpenHub();
  struct TCase {
    const char* Name;
    uint32_t Code;
    void (*Spoil)(TBytes&);
    size_t Size; // 0: the record's own size
  };
  const TCase cases[] = {
      {"wrong code", 0x00220024, [](TBytes&) {}, 0},
      {"header cut short", kIoctlControlTransfer, [](TBytes&) {}, 37},
      {"size beyond wLength", kIoctlControlTransfer, [](TBytes&) {}, 38 + 15},
      {"data offset 37", kIoctlControlTransfer, [](TBytes& r) { PutLe32(&r[kRecDataOffset], 37); },
       0},
      {"data length not wLength", kIoctlControlTransfer,
       [](TBytes& r) { PutLe32(&r[kRecDataLength], 15); }, 0},
      {"wLength beyond the buffer", kIoctlControlTransfer,
       [](TBytes& r) {
         PutLe16(&r[kRecLength], 17);
         PutLe32(&r[kRecDataLength], 17);
       },
       0},
      {"no time-out", kIoctlControlTransfer, [](TBytes& r) { PutLe32(&r[kRecTimeout], 0); }, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto record = Record(0x40, 1, 16, 20);
    c.Spoil(record);
    uint32_t size = c.Size ? static_cast<uint32_t>(c.Size) : static_cast<uint32_t>(record.size());
    EXPECT_FALSE(FDriver.IoControl(handle, c.Code, record.data(), size, nullptr));
    EXPECT_EQ(FDriver.LastError(), THubError::Other);
  }
  EXPECT_FALSE(FDriver.IoControl(handle, kIoctlControlTransfer, nullptr, 38, nullptr));
  EXPECT_TRUE(FHub.SeenRequests().empty());
  EXPECT_TRUE(FDriver.Close(handle));
}

TEST_F(UsbHubDriverTest, ClosedHandleIsNoLongerUsable) {
  const THandle handle = OpenHub();
  ASSERT_TRUE(FDriver.Close(handle));
  EXPECT_FALSE(FDriver.Close(handle));
  auto record = Record(0xC0, 2, 8, 20);
  EXPECT_FALSE(Send(FDriver, handle, record));
  EXPECT_FALSE(Send(FDriver, kInvalidHandle, record));
  EXPECT_TRUE(FHub.SeenRequests().empty());
}

TEST_F(UsbHubDriverTest, TwoHandlesToOneHubAreIndependent) {
  THandle first = FDriver.Open("usb:1-1.4");
  THandle second = FDriver.Open("usb:1-1.4");
  ASSERT_NE(first, kInvalidHandle);
  ASSERT_NE(second, kInvalidHandle);
  EXPECT_NE(first, second);
  ASSERT_TRUE(FDriver.Close(first));
  auto record = Record(0xC0, 2, 8, 20);
  EXPECT_TRUE(Send(FDriver, second, record));
  EXPECT_TRUE(FDriver.Close(second));
}

// Bus first, then the port path number by number; parents present as on a real machine.
TEST(UsbHubOrder, PathsFollowBusThenPortNumbers) {
  TUsbTestbed bed;
  for (const char* name : {"2-1", "1-3", "1-1", "1-1.10", "1-1.2", "1-1.2.1", "10-1"})
    bed.AddDevice(name, kBoundId);
  TUsbHubDriver driver(BindingOf({kBoundId}));
  std::vector<std::string> paths;
  ASSERT_TRUE(driver.PresentInterfaces(paths));
  EXPECT_EQ(paths, (std::vector<std::string>{"usb:1-1", "usb:1-1.2", "usb:1-1.2.1", "usb:1-1.10",
                                             "usb:1-3", "usb:2-1", "usb:10-1"}));
}

TEST(UsbHubOrder, NoHubsIsAnEmptyListNotAFailure) {
  TUsbTestbed bed;
  bed.AddDevice("1-1", kBoundId);
  TUsbHubDriver driver(BindingOf({}));
  std::vector<std::string> paths{"stale"};
  EXPECT_TRUE(driver.PresentInterfaces(paths));
  EXPECT_TRUE(paths.empty());
}

// The command-line tool runs one thread per hub over one driver.
TEST(UsbHubThreads, HubsOnSeveralThreadsKeepTheirOwnData) {
  TUsbTestbed bed;
  TEmulatedHub* hubs[] = {&bed.AddDevice("1-1", kBoundId), &bed.AddDevice("1-2", kBoundId),
                          &bed.AddDevice("2-1", kBoundId)};
  TUsbHubDriver driver(BindingOf({kBoundId}));
  std::vector<std::string> paths;
  ASSERT_TRUE(driver.PresentInterfaces(paths));
  ASSERT_EQ(paths.size(), 3u);

  constexpr int kRounds = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < paths.size(); ++t) {
    threads.emplace_back([&, t] {
      TTargetDev device(driver, paths[t]);
      if (!device.Open()) {
        ++failures;
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        auto bytes = Pattern(256, static_cast<uint8_t>(t * 50 + round), 7);
        std::vector<uint8_t> back(256);
        if (!device.ControlTransfer(true, bytes.data(), 256) ||
            !device.ControlTransfer(false, back.data(), 256) || back != bytes)
          ++failures;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(failures, 0);
  for (size_t t = 0; t < 3; ++t) {
    EXPECT_EQ(hubs[t]->SeenRequests().size(), 2u * kRounds);
    auto last = Pattern(256, static_cast<uint8_t>(t * 50 + kRounds - 1), 7);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), hubs[t]->Eeprom.begin()));
  }
}

// A failure on one thread is not what another thread reads back as its own last error.
TEST(UsbHubThreads, LastErrorBelongsToTheCallingThread) {
  TUsbTestbed bed;
  TUsbHubDriver driver(BindingOf({}));
  EXPECT_EQ(driver.Open("usb:1-1"), kInvalidHandle);
  EXPECT_EQ(driver.LastError(), THubError::NotFound);
  THubError seenElsewhere = THubError::Io;
  std::thread([&] { seenElsewhere = driver.LastError(); }).join();
  EXPECT_EQ(seenElsewhere, THubError::None);
}

} // namespace
