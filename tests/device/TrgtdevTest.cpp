// The channel: the request record byte for byte, the result rule, and the handle's life.
#include "Trgtdev.h"
#include "ByteBlock.h"
#include "DeviceTestSupport.h"
#include "FakeHubDriver.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Header(std::vector<uint8_t> first8, uint32_t n) {
  std::vector<uint8_t> header = std::move(first8);
  header.insert(header.end(), {0x14, 0x00, 0x00, 0x00}); // time-out 20
  header.resize(30, 0x00);                               // reserved, endpoint, statuses
  header.insert(header.end(), {0x26, 0x00, 0x00, 0x00}); // data offset 38
  for (int i = 0; i < 4; ++i) {
    header.push_back(static_cast<uint8_t>(n >> (8 * i))); // data length
  }
  return header;
}

struct TChannel {
  TFakeHubDriver FDriver;
  TTargetDev FDevice{FDriver, "sim:hub"};
  bool Erase() {
    uint8_t erased = 0xFF;
    return FDevice.ControlTransfer(true, &erased, 1);
  }
};

struct TOpenChannel : TChannel {
  TOpenChannel() { EXPECT_TRUE(FDevice.Open()); }
};

// Each transfer as one record, byte for byte: the eight setup bytes, the fixed header, the data.
TEST(TrgtdevRecord, EachTransferSendsItsRecordByteForByte) {
  struct TCase {
    const char* Name;
    bool Write;
    TBytes Data;
    std::vector<uint8_t> Setup;
    TBytes Sent; // the data stage as it leaves
  };
  const TBytes image = Pattern(300, 0, 7);
  const TCase cases[] = {
      // The caller's buffer is not sent on a read.
      {"read", false, TBytes(512, 0xAA), {0xC0, 0x02, 0, 0, 0, 0, 0x00, 0x02}, TBytes(512, 0)},
      {"erase", true, {0xFF}, {0x40, 0x01, 0, 0, 0, 0, 0x01, 0x00}, {0xFF}},
      {"write", true, image, {0x40, 0x01, 0, 0, 0, 0, 0x2C, 0x01}, image},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOpenChannel channel;
    TBytes data = c.Data;
    const uint32_t n = static_cast<uint32_t>(data.size());
    ASSERT_TRUE(channel.FDevice.ControlTransfer(c.Write, data.data(), n));

    TBytes expected = Header(c.Setup, n);
    expected.insert(expected.end(), c.Sent.begin(), c.Sent.end());
    ASSERT_EQ(channel.FDriver.FRecords.size(), 1u);
    EXPECT_EQ(channel.FDriver.FRecords[0], expected);
    EXPECT_EQ(channel.FDriver.FCodes[0], 0x00220020u);
  }
}

// The result: nonzero I/O control and a non-negative USB status, nothing else.
struct TResultCase {
  bool FIoResult;
  uint32_t FStatus;
  bool FSuccess;
};

class TrgtdevResult : public ::testing::TestWithParam<TResultCase> {};

TEST_P(TrgtdevResult, FollowsIoControlAndTheSignOfTheUsbStatus) {
  TOpenChannel channel;
  channel.FDriver.FIoResult = GetParam().FIoResult;
  channel.FDriver.FStatus = GetParam().FStatus;
  EXPECT_EQ(channel.Erase(), GetParam().FSuccess);
  std::vector<uint8_t> data(512);
  EXPECT_EQ(channel.FDevice.ControlTransfer(false, data.data(), 512), GetParam().FSuccess);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrgtdevResult,
    ::testing::Values(TResultCase{true, 0, true}, TResultCase{true, 0x7FFFFFFF, true},
                      TResultCase{true, 0x80000000, false}, TResultCase{true, 0xC0000004, false},
                      TResultCase{true, 0xFFFFFFFF, false}, TResultCase{false, 0, false},
                      TResultCase{false, 1, false}, TResultCase{false, 0x80000000, false}));

TEST(TrgtdevTransfer, ReadDataIsCopiedBackEvenWhenTheTransferFails) {
  TOpenChannel channel;
  channel.FDriver.FReadBytes = {0xD0, 0x11, 0x22};
  channel.FDriver.FStatus = 0x80000000;
  std::vector<uint8_t> data(512, 0xEE);
  EXPECT_FALSE(channel.FDevice.ControlTransfer(false, data.data(), 512));
  EXPECT_EQ(data[0], 0xD0);
  EXPECT_EQ(data[2], 0x22);
  EXPECT_EQ(data[3], 0x00); // the record's zero, not the caller's old byte
  EXPECT_EQ(data[511], 0x00);
}

TEST(TrgtdevTransfer, FailsWithoutCallingTheDriverWhenNotOpen) {
  TChannel channel;
  EXPECT_FALSE(channel.Erase());
  EXPECT_NE(channel.FDevice.LastError(), THubError::None);

  ASSERT_TRUE(channel.FDevice.Open());
  ASSERT_TRUE(channel.FDevice.Close());
  EXPECT_FALSE(channel.Erase());
  EXPECT_EQ(channel.FDriver.Count("ioctl"), 0u);
}

TEST(TrgtdevTransfer, RefusesMoreThanWLengthCanCarry) {
  TOpenChannel channel;
  std::vector<uint8_t> data(0x10000);
  EXPECT_FALSE(channel.FDevice.ControlTransfer(true, data.data(), 0x10000));
  EXPECT_EQ(channel.FDriver.Count("ioctl"), 0u);
  EXPECT_TRUE(channel.FDevice.ControlTransfer(true, data.data(), 0xFFFF));
}

TEST(TrgtdevLifecycle, OpenCloseAndCloseAgain) {
  TChannel channel;
  EXPECT_FALSE(channel.FDevice.IsOpen());
  EXPECT_TRUE(channel.FDevice.Close()); // closed from the start: nothing to do
  ASSERT_TRUE(channel.FDevice.Open());
  EXPECT_TRUE(channel.FDevice.IsOpen());
  EXPECT_TRUE(channel.FDevice.Close());
  EXPECT_TRUE(channel.FDevice.Close());
  EXPECT_EQ(channel.FDriver.Count("close"), 1u);
  EXPECT_EQ(channel.FDriver.FLog, (std::vector<std::string>{"open sim:hub", "close 3"}));
}

TEST(TrgtdevLifecycle, AFailedCloseKeepsTheHandleAndTheDestructorTriesAgain) {
  TFakeHubDriver driver;
  {
    TTargetDev device(driver, "sim:hub");
    ASSERT_TRUE(device.Open());
    driver.FCloseResult = false;
    EXPECT_FALSE(device.Close());
    EXPECT_TRUE(device.IsOpen());
    driver.FCloseResult = true;
  }
  EXPECT_EQ(driver.Count("close"), 2u);
  EXPECT_TRUE(driver.FOpen.empty());
}

TEST(TrgtdevLifecycle, DestroyingAnOpenChannelClosesItsHandle) {
  TFakeHubDriver driver;
  { TTargetDev(driver, "sim:hub").Open(); }
  EXPECT_TRUE(driver.FOpen.empty());
}

TEST(TrgtdevLifecycle, OpenFailureLeavesTheChannelClosedWithTheReason) {
  TFakeHubDriver driver;
  driver.FRefused = {"sim:hub"};
  TTargetDev device(driver, "sim:hub");
  EXPECT_FALSE(device.Open());
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.LastError(), THubError::AccessDenied);
}

TEST(TrgtdevLifecycle, ASecondOpenDoesNotLeakTheFirstHandle) {
  TChannel channel;
  ASSERT_TRUE(channel.FDevice.Open());
  EXPECT_FALSE(channel.FDevice.Open());
  EXPECT_EQ(channel.FDriver.Count("open"), 1u);
}

TEST(TrgtdevLastError, SurvivesTheCloseThatFollowsAFailedTransfer) {
  TOpenChannel channel;
  channel.FDriver.FIoResult = false;
  channel.FDriver.FCallError = THubError::Timeout;
  EXPECT_FALSE(channel.Erase());
  channel.FDriver.FCallError = THubError::None;
  EXPECT_TRUE(channel.FDevice.Close());
  EXPECT_EQ(channel.FDevice.LastError(), THubError::Timeout);
}

TEST(TrgtdevLastError, ANegativeStatusIsAStall) {
  TOpenChannel channel;
  channel.FDriver.FStatus = 0x80000000;
  EXPECT_FALSE(channel.Erase());
  EXPECT_EQ(channel.FDevice.LastError(), THubError::Stalled);
}

int GOutOfMemoryReports = 0;

TEST(TrgtdevTransfer, ARecordThatCannotBeAllocatedIsReportedAndFailsTheTransfer) {
  TOpenChannel channel;
  GOutOfMemoryReports = 0;
  TTargetDev::SetOutOfMemoryHook([] { ++GOutOfMemoryReports; });
  std::vector<uint8_t> data(512, 0xAA);
  TByteBlock::FailAllocation(0);
  const bool done = channel.FDevice.ControlTransfer(false, data.data(), 512);
  TByteBlock::FailAllocation(-1);
  TTargetDev::SetOutOfMemoryHook(nullptr);
  EXPECT_FALSE(done);
  EXPECT_EQ(GOutOfMemoryReports, 1);
  EXPECT_NE(channel.FDevice.LastError(), THubError::None);
  EXPECT_EQ(channel.FDriver.Count("ioctl"), 0u);
  EXPECT_EQ(data, std::vector<uint8_t>(512, 0xAA)); // nothing copied back from no record
  // The next transfer allocates again and reports nothing.
  EXPECT_TRUE(channel.FDevice.ControlTransfer(false, data.data(), 512));
  EXPECT_EQ(GOutOfMemoryReports, 1);
}

} // namespace
