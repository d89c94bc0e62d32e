// The search for a hub: order, skipping, the previous channel, and telling its failures apart.
#include "Discovery.h"
#include "FakeHubDriver.h"

#include <gtest/gtest.h>

namespace {

using TLog = std::vector<std::string>;

TEST(Discovery, OpensTheFirstPresentHub) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a", "sim:b"};
  std::unique_ptr<TTargetDev> device;
  THubError why = THubError::Io;
  EXPECT_EQ(OpenDevice(driver, device, &why), TDiscoveryStatus::Opened);
  ASSERT_TRUE(device);
  EXPECT_TRUE(device->IsOpen());
  EXPECT_EQ(device->Path(), "sim:a");
  EXPECT_EQ(why, THubError::None);
  EXPECT_EQ(driver.FLog, (TLog{"list", "open sim:a"}));
}

TEST(Discovery, SkipsPathsThatDoNotOpenAndStopsAtTheFirstThatDoes) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a", "sim:b", "sim:c", "sim:d"};
  driver.FRefused = {"sim:a", "sim:b", "sim:d"};
  std::unique_ptr<TTargetDev> device;
  EXPECT_EQ(OpenDevice(driver, device), TDiscoveryStatus::Opened);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->Path(), "sim:c");
  EXPECT_EQ(driver.FLog, (TLog{"list", "open sim:a", "open sim:b", "open sim:c"}));
  EXPECT_EQ(driver.FOpen.size(), 1u);
}

TEST(Discovery, ThePreviousChannelIsClosedBeforeTheSearch) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a"};
  std::unique_ptr<TTargetDev> device;
  ASSERT_EQ(OpenDevice(driver, device), TDiscoveryStatus::Opened);
  // The caller left the handle open: the next search must not leak it.
  ASSERT_EQ(OpenDevice(driver, device), TDiscoveryStatus::Opened);
  EXPECT_EQ(driver.FLog, (TLog{"list", "open sim:a", "close 3", "list", "open sim:a"}));
  EXPECT_EQ(driver.FOpen.size(), 1u);
}

TEST(Discovery, FindingNothingAfterASuccessLeavesNoChannel) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a"};
  std::unique_ptr<TTargetDev> device;
  ASSERT_EQ(OpenDevice(driver, device), TDiscoveryStatus::Opened);
  device->Close();
  driver.FPaths.clear();
  THubError why = THubError::None;
  EXPECT_EQ(OpenDevice(driver, device, &why), TDiscoveryStatus::NoneOpens);
  EXPECT_FALSE(device);
  EXPECT_EQ(why, THubError::NotFound);
}

struct TFailureCase {
  const char* FName;
  bool FEnumerates;
  std::vector<std::string> FPaths;
  std::set<std::string> FRefused;
  THubError FOpenError;
  TDiscoveryStatus FStatus;
  THubError FWhy;
};

class DiscoveryFailure : public ::testing::TestWithParam<TFailureCase> {};

TEST_P(DiscoveryFailure, LeavesNoChannelAndSaysWhy) {
  const TFailureCase& c = GetParam();
  TFakeHubDriver driver;
  driver.FEnumerates = c.FEnumerates;
  driver.FPaths = c.FPaths;
  driver.FRefused = c.FRefused;
  driver.FOpenError = c.FOpenError;
  std::unique_ptr<TTargetDev> device = std::make_unique<TTargetDev>(driver, "sim:old");
  THubError why = THubError::None;
  EXPECT_EQ(OpenDevice(driver, device, &why), c.FStatus);
  EXPECT_FALSE(device);
  EXPECT_EQ(why, c.FWhy);
  EXPECT_EQ(driver.Count("open"), c.FEnumerates ? c.FPaths.size() : 0u);
  EXPECT_EQ(driver.Count("ioctl"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, DiscoveryFailure,
                         ::testing::Values(TFailureCase{"EnumerationFails",
                                                        false,
                                                        {"sim:a"},
                                                        {},
                                                        THubError::None,
                                                        TDiscoveryStatus::EnumerationFailed,
                                                        THubError::Other},
                                           TFailureCase{"NoHubPresent",
                                                        true,
                                                        {},
                                                        {},
                                                        THubError::None,
                                                        TDiscoveryStatus::NoneOpens,
                                                        THubError::NotFound},
                                           TFailureCase{"NoneOpens",
                                                        true,
                                                        {"sim:a", "sim:b"},
                                                        {"sim:a", "sim:b"},
                                                        THubError::Io,
                                                        TDiscoveryStatus::NoneOpens,
                                                        THubError::Io},
                                           TFailureCase{"AccessDeniedWins",
                                                        true,
                                                        {"sim:a", "sim:b"},
                                                        {"sim:a", "sim:b"},
                                                        THubError::AccessDenied,
                                                        TDiscoveryStatus::NoneOpens,
                                                        THubError::AccessDenied}),
                         [](const auto& info) { return std::string(info.param.FName); });

TEST(DiscoveryAt, OpensOnlyTheNamedHub) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a", "sim:b"};
  std::unique_ptr<TTargetDev> device;
  EXPECT_EQ(OpenDeviceAt(driver, "sim:b", device), TDiscoveryStatus::Opened);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->Path(), "sim:b");
  EXPECT_EQ(driver.FLog, (TLog{"list", "open sim:b"}));
}

TEST(DiscoveryAt, APathThatIsNotPresentIsNeverOpened) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a"};
  std::unique_ptr<TTargetDev> device;
  THubError why = THubError::None;
  EXPECT_EQ(OpenDeviceAt(driver, "sim:z", device, &why), TDiscoveryStatus::NoneOpens);
  EXPECT_FALSE(device);
  EXPECT_EQ(why, THubError::NotFound);
  EXPECT_EQ(driver.Count("open"), 0u);
}

TEST(DiscoveryAt, ReportsTheNamedHubsOpenFailureAndEnumerationFailure) {
  TFakeHubDriver driver;
  driver.FPaths = {"sim:a"};
  driver.FRefused = {"sim:a"};
  std::unique_ptr<TTargetDev> device;
  THubError why = THubError::None;
  EXPECT_EQ(OpenDeviceAt(driver, "sim:a", device, &why), TDiscoveryStatus::NoneOpens);
  EXPECT_EQ(why, THubError::AccessDenied);

  driver.FEnumerates = false;
  EXPECT_EQ(OpenDeviceAt(driver, "sim:a", device, &why), TDiscoveryStatus::EnumerationFailed);
  EXPECT_FALSE(device);
}

} // namespace
