#include "UsbListing.h"
#include "UsbHubDriver.h"
#include "UsbTestbed.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr TUsbId kBoundHub{0x1234, 0x5678};
constexpr TUsbId kBoundGadget{0x1234, 0x0042}; // bound, but not of the hub class
constexpr TUsbId kForeignHub{0xAAAA, 0x0001};
constexpr TUsbId kForeignGadget{0xBBBB, 0x0002};

TEST(UsbListing, EveryHubAndEveryBoundDeviceNothingElseAndNothingSent) {
  TUsbTestbed bed;
  TEmulatedHub* all[] = {&bed.AddDevice("1-1", kForeignHub), &bed.AddDevice("1-1.4", kBoundHub),
                         &bed.AddDevice("1-2", kForeignGadget, 0x00),
                         &bed.AddDevice("1-3", kBoundGadget, 0xFF)};
  TUsbBinding binding;
  binding.Add(kBoundHub);
  binding.Add(kBoundGadget);
  TUsbHubDriver driver(binding);

  TUsbListing listing;
  ASSERT_TRUE(listing.Make(driver));
  const auto& entries = listing.Entries();
  ASSERT_EQ(entries.size(), 3u);
  struct TExpected {
    const char* Path;
    TUsbId Id;
    bool Hub;
    bool Bound;
  };
  const TExpected expected[] = {{"usb:1-1", kForeignHub, true, false},
                                {"usb:1-1.4", kBoundHub, true, true},
                                {"usb:1-3", kBoundGadget, false, true}};
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(expected[i].Path);
    EXPECT_EQ(entries[i].Path, expected[i].Path);
    EXPECT_EQ(entries[i].Id, expected[i].Id);
    EXPECT_EQ(entries[i].Hub, expected[i].Hub);
    EXPECT_EQ(entries[i].Bound, expected[i].Bound);
    EXPECT_EQ(entries[i].OpenError, THubError::None);
  }
  for (TEmulatedHub* device : all)
    EXPECT_TRUE(device->SeenRequests().empty());

  // The listing shows more than the driver publishes: only bound devices are published.
  std::vector<std::string> paths;
  ASSERT_TRUE(driver.PresentInterfaces(paths));
  EXPECT_EQ(paths, (std::vector<std::string>{"usb:1-1.4", "usb:1-3"}));
}

TEST(UsbListing, ProbeOfAnAbsentPathSaysNotFound) {
  TUsbTestbed bed;
  bed.AddDevice("1-1", kBoundHub);
  TUsbHubDriver driver(TUsbBinding{});
  EXPECT_EQ(driver.Probe("usb:1-1"), THubError::None); // unbound devices may be probed
  EXPECT_EQ(driver.Probe("usb:1-2"), THubError::NotFound);
}

// The transfers end to end cover stalls, time-outs, unplugging and short reads; these are the
// kinds the emulated bus cannot produce for a test running as root.
TEST(UsbErrors, AccessAndTheRestHaveTheirKinds) {
  EXPECT_EQ(TUsbHubDriver::TranslateError(LIBUSB_ERROR_ACCESS), THubError::AccessDenied);
  EXPECT_EQ(TUsbHubDriver::TranslateError(LIBUSB_ERROR_NOT_FOUND), THubError::NotFound);
  EXPECT_EQ(TUsbHubDriver::TranslateError(LIBUSB_ERROR_OVERFLOW), THubError::Io);
  for (int other :
       std::initializer_list<int>{LIBUSB_ERROR_BUSY, LIBUSB_ERROR_NO_MEM, LIBUSB_ERROR_INTERRUPTED,
                                  LIBUSB_ERROR_NOT_SUPPORTED, LIBUSB_ERROR_OTHER, -1000})
    EXPECT_EQ(TUsbHubDriver::TranslateError(other), THubError::Other) << other;
}

TEST(UsbPaths, FormatBusAndPortChain) {
  const uint8_t ports[] = {1, 4, 12};
  EXPECT_EQ(TUsbHubDriver::FormatPath(1, ports, 2), "usb:1-1.4");
  EXPECT_EQ(TUsbHubDriver::FormatPath(3, ports, 3), "usb:3-1.4.12");
  EXPECT_EQ(TUsbHubDriver::FormatPath(255, ports, 1), "usb:255-1");
  EXPECT_EQ(TUsbHubDriver::FormatPath(2, ports, 0), "usb:2-0"); // a root hub
}

TEST(UsbPaths, OrderComparesNumbersNotText) {
  struct TCase {
    const char* Before;
    const char* After;
  };
  const TCase cases[] = {
      {"usb:1-1.2", "usb:1-1.10"},  {"usb:1-1", "usb:1-1.1"},  {"usb:1-9", "usb:1-10"},
      {"usb:2-1", "usb:10-1"},      {"usb:1-9.9", "usb:2-1"},  {"usb:1-0", "usb:1-1"},
      {"usb:1-1.2.9", "usb:1-1.3"}, {"usb:1-2", "usb:1-10.1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Before) + " < " + c.After);
    EXPECT_TRUE(TUsbHubDriver::PathLess(c.Before, c.After));
    EXPECT_FALSE(TUsbHubDriver::PathLess(c.After, c.Before));
  }
  EXPECT_FALSE(TUsbHubDriver::PathLess("usb:1-1.4", "usb:1-1.4"));
}

} // namespace
