// The search for a hub: order, skipping, the previous channel, and telling its failures apart.
#include "Discovery.h"
#include "FakeHubDriver.h"

#include <gtest/gtest.h>

namespace {

using TLog = std::vector<std::string>;

struct Discovery : ::testing::Test {
  TFakeHubDriver FDriver;
  std::unique_ptr<TTargetDev> FDevice;
  THubError FWhy = THubError::None;
};
using DiscoveryAt = Discovery;

TEST_F(Discovery, OpensTheFirstPresentHub) {
  FDriver.FPaths = {"sim:a", "sim:b"};
  FWhy = THubError::Io;
  EXPECT_EQ(OpenDevice(FDriver, FDevice, &FWhy), TDiscoveryStatus::Opened);
  ASSERT_TRUE(FDevice);
  EXPECT_TRUE(FDevice->IsOpen());
  EXPECT_EQ(FDevice->Path(), "sim:a");
  EXPECT_EQ(FWhy, THubError::None);
  EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:a"}));
}

TEST_F(Discovery, SkipsPathsThatDoNotOpenAndStopsAtTheFirstThatDoes) {
  FDriver.FPaths = {"sim:a", "sim:b", "sim:c", "sim:d"};
  FDriver.FRefused = {"sim:a", "sim:b", "sim:d"};
  EXPECT_EQ(OpenDevice(FDriver, FDevice), TDiscoveryStatus::Opened);
  ASSERT_TRUE(FDevice);
  EXPECT_EQ(FDevice->Path(), "sim:c");
  EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:a", "open sim:b", "open sim:c"}));
  EXPECT_EQ(FDriver.FOpen.size(), 1u);
}

TEST_F(Discovery, ThePreviousChannelIsClosedBeforeTheSearch) {
  FDriver.FPaths = {"sim:a"};
  ASSERT_EQ(OpenDevice(FDriver, FDevice), TDiscoveryStatus::Opened);
  // The caller left the handle open: the next search must not leak it.
  ASSERT_EQ(OpenDevice(FDriver, FDevice), TDiscoveryStatus::Opened);
  EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:a", "close 3", "list", "open sim:a"}));
  EXPECT_EQ(FDriver.FOpen.size(), 1u);
}

TEST_F(Discovery, FindingNothingAfterASuccessLeavesNoChannel) {
  FDriver.FPaths = {"sim:a"};
  ASSERT_EQ(OpenDevice(FDriver, FDevice), TDiscoveryStatus::Opened);
  FDevice->Close();
  FDriver.FPaths.clear();
  EXPECT_EQ(OpenDevice(FDriver, FDevice, &FWhy), TDiscoveryStatus::NoneOpens);
  EXPECT_FALSE(FDevice);
  EXPECT_EQ(FWhy, THubError::NotFound);
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

class DiscoveryFailure : public Discovery, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(DiscoveryFailure, LeavesNoChannelAndSaysWhy) {
  const TFailureCase& c = GetParam();
  FDriver.FEnumerates = c.FEnumerates;
  FDriver.FPaths = c.FPaths;
  FDriver.FRefused = c.FRefused;
  FDriver.FOpenError = c.FOpenError;
  FDevice = std::make_unique<TTargetDev>(FDriver, "sim:old");
  EXPECT_EQ(OpenDevice(FDriver, FDevice, &FWhy), c.FStatus);
  EXPECT_FALSE(FDevice);
  EXPECT_EQ(FWhy, c.FWhy);
  EXPECT_EQ(FDriver.Count("open"), c.FEnumerates ? c.FPaths.size() : 0u);
  EXPECT_EQ(FDriver.Count("ioctl"), 0u);
}

const TFailureCase kFailureCases[] = {
    {"EnumerationFails",
     false,
     {"sim:a"},
     {},
     THubError::None,
     TDiscoveryStatus::EnumerationFailed,
     THubError::Other},
    {"NoHubPresent",
     true,
     {},
     {},
     THubError::None,
     TDiscoveryStatus::NoneOpens,
     THubError::NotFound},
    {"NoneOpens",
     true,
     {"sim:a", "sim:b"},
     {"sim:a", "sim:b"},
     THubError::Io,
     TDiscoveryStatus::NoneOpens,
     THubError::Io},
    {"AccessDeniedWins",
     true,
     {"sim:a", "sim:b"},
     {"sim:a", "sim:b"},
     THubError::AccessDenied,
     TDiscoveryStatus::NoneOpens,
     THubError::AccessDenied},
};

INSTANTIATE_TEST_SUITE_P(Table, DiscoveryFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.FName); });

TEST_F(DiscoveryAt, OpensOnlyTheNamedHub) {
  FDriver.FPaths = {"sim:a", "sim:b"};
  EXPECT_EQ(OpenDeviceAt(FDriver, "sim:b", FDevice), TDiscoveryStatus::Opened);
  ASSERT_TRUE(FDevice);
  EXPECT_EQ(FDevice->Path(), "sim:b");
  EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:b"}));
}

TEST_F(DiscoveryAt, APathThatIsNotPresentIsNeverOpened) {
  FDriver.FPaths = {"sim:a"};
  EXPECT_EQ(OpenDeviceAt(FDriver, "sim:z", FDevice, &FWhy), TDiscoveryStatus::NoneOpens);
  EXPECT_FALSE(FDevice);
  EXPECT_EQ(FWhy, THubError::NotFound);
  EXPECT_EQ(FDriver.Count("open"), 0u);
}

TEST_F(DiscoveryAt, ReportsTheNamedHubsOpenFailureAndEnumerationFailure) {
  FDriver.FPaths = {"sim:a"};
  FDriver.FRefused = {"sim:a"};
  EXPECT_EQ(OpenDeviceAt(FDriver, "sim:a", FDevice, &FWhy), TDiscoveryStatus::NoneOpens);
  EXPECT_EQ(FWhy, THubError::AccessDenied);

  FDriver.FEnumerates = false;
  EXPECT_EQ(OpenDeviceAt(FDriver, "sim:a", FDevice, &FWhy), TDiscoveryStatus::EnumerationFailed);
  EXPECT_FALSE(FDevice);
}

// Several named hubs: one listing for all, each opened or refused as alone.
TEST_F(DiscoveryAt, SeveralHubsAreOpenedAfterOneListing) {
  FDriver.FPaths = {"sim:a", "sim:b", "sim:c"};
  FDriver.FRefused = {"sim:b"};
  std::vector<std::unique_ptr<TTargetDev>> devices;
  std::vector<THubError> whys;
  const auto statuses = OpenDevicesAt(FDriver, {"sim:c", "sim:z", "sim:b", "sim:a"}, devices, whys);
  EXPECT_EQ(statuses,
            (std::vector<TDiscoveryStatus>{TDiscoveryStatus::Opened, TDiscoveryStatus::NoneOpens,
                                           TDiscoveryStatus::NoneOpens, TDiscoveryStatus::Opened}));
  EXPECT_EQ(whys, (std::vector<THubError>{THubError::None, THubError::NotFound,
                                          THubError::AccessDenied, THubError::None}));
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0]->Path(), "sim:c");
  EXPECT_FALSE(devices[1]);
  EXPECT_FALSE(devices[2]);
  EXPECT_EQ(devices[3]->Path(), "sim:a");
  EXPECT_EQ(FDriver.Count("list"), 1u);

  FDriver.FEnumerates = false;
  EXPECT_EQ(OpenDevicesAt(FDriver, {"sim:a"}, devices, whys),
            std::vector<TDiscoveryStatus>{TDiscoveryStatus::EnumerationFailed});
  EXPECT_FALSE(devices[0]);
}

} // namespace
