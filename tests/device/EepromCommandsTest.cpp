// The three device commands: one outcome for every row of the failure table, and what each sends.
#include "DeviceTestSupport.h"
#include "FakeHubDriver.h"

#include <gtest/gtest.h>

namespace {

using TLog = std::vector<std::string>;

// A 0xD0 image: seven bytes with a recognisable pattern.
const std::vector<uint8_t> kFixedImage = {0xD0, 0x34, 0x12, 0x78, 0x56, 0x01, 0x00};

struct TCommandFixture : ::testing::Test {
  TFakeHubDriver FDriver;
  std::unique_ptr<TTargetDev> FDevice;
  TCommandFixture() { FDriver.FPaths = {"sim:a"}; }
  void ExpectClosedAfterOneTransfer() {
    ASSERT_TRUE(FDevice);
    EXPECT_FALSE(FDevice->IsOpen());
    EXPECT_TRUE(FDriver.FOpen.empty());
    EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:a", "ioctl 3", "close 3"}));
  }
};

// The rows shared by all three commands: the search fails, nothing is sent or changed.

struct TSearchCase {
  TCommand FCommand;
  bool FEnumerates;
  bool FHubPresent;
  TEepromOutcome FOutcome;
};

class EepromSearchFailure : public ::testing::TestWithParam<TSearchCase> {};

TEST_P(EepromSearchFailure, SendsNothingAndChangesNothing) {
  const TSearchCase& c = GetParam();
  TFakeHubDriver driver;
  driver.FEnumerates = c.FEnumerates;
  driver.FPaths = {"sim:a"};
  if (!c.FHubPresent) {
    driver.FRefused = {"sim:a"};
  }
  std::unique_ptr<TTargetDev> device;
  std::unique_ptr<TEEImage> image = MakeImage(kFixedImage);
  TEEImage* before = image.get();
  bool asked = false;

  EXPECT_EQ(RunCommand(c.FCommand, driver, device, image, [&asked] { return asked = true; }),
            c.FOutcome);
  EXPECT_FALSE(device);
  EXPECT_FALSE(asked); // the erase question comes only after a hub was found
  EXPECT_EQ(driver.Count("ioctl"), 0u);
  EXPECT_EQ(image.get(), before);
  EXPECT_EQ(image->GetByte(1), 0x34);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EepromSearchFailure,
    ::testing::Values(TSearchCase{TCommand::Read, false, true, TEepromOutcome::EnumerationFailed},
                      TSearchCase{TCommand::Write, false, true, TEepromOutcome::EnumerationFailed},
                      TSearchCase{TCommand::Erase, false, true, TEepromOutcome::EnumerationFailed},
                      TSearchCase{TCommand::Read, true, false, TEepromOutcome::NoDevice},
                      TSearchCase{TCommand::Write, true, false, TEepromOutcome::NoDevice},
                      TSearchCase{TCommand::Erase, true, false, TEepromOutcome::NoDevice}));

using EepromRead = TCommandFixture;

TEST_F(EepromRead, SuccessBuildsANewValidImageFromAll512Bytes) {
  FDriver.FReadBytes = kFixedImage;
  FDriver.FReadBytes.resize(512, 0x5A);
  std::unique_ptr<TEEImage> image;
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, image), TEepromOutcome::Success);
  ExpectClosedAfterOneTransfer();
  ASSERT_EQ(FDriver.FRecords[0].size(), 38u + 512u); // 512 bytes even for a 7-byte image
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->IsValid());
  EXPECT_EQ(image->GetLength(), 7u);
  EXPECT_EQ(image->GetByte(2), 0x12);
  EXPECT_EQ(image->GetByte(511), 0x5A); // the whole EEPROM is in the buffer
}

TEST_F(EepromRead, AnErasedEepromReplacesTheImageWithAnInvalidOne) {
  FDriver.FReadBytes.assign(512, 0xFF);
  std::unique_ptr<TEEImage> image = MakeImage(kFixedImage);
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, image), TEepromOutcome::InvalidImage);
  ExpectClosedAfterOneTransfer();
  ASSERT_TRUE(image);
  EXPECT_FALSE(image->IsValid());
  EXPECT_EQ(image->GetByte(0), 0xFF);
}

struct TTransferFault {
  bool FIoResult;
  uint32_t FStatus;
};

class EepromTransferFailure : public TCommandFixture,
                              public ::testing::WithParamInterface<TTransferFault> {
protected:
  void SetUp() override {
    FDriver.FIoResult = GetParam().FIoResult;
    FDriver.FStatus = GetParam().FStatus;
    FDriver.FReadBytes.assign(512, 0xD0); // what a failed read must not turn into an image
  }
};

TEST_P(EepromTransferFailure, ReadKeepsTheImageOrTheLackOfOne) {
  std::unique_ptr<TEEImage> image = MakeImage(kFixedImage);
  TEEImage* before = image.get();
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, image), TEepromOutcome::TransferFailed);
  ExpectClosedAfterOneTransfer();
  EXPECT_EQ(image.get(), before);
  EXPECT_EQ(image->GetByte(1), 0x34);

  std::unique_ptr<TEEImage> none;
  EXPECT_EQ(ReadEeprom(FDriver, FDevice, none), TEepromOutcome::TransferFailed);
  EXPECT_FALSE(none);
}

TEST_P(EepromTransferFailure, WriteFails) {
  std::unique_ptr<TEEImage> image = MakeImage(kFixedImage);
  EXPECT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::TransferFailed);
  ExpectClosedAfterOneTransfer();
  EXPECT_EQ(image->GetByte(1), 0x34);
}

TEST_P(EepromTransferFailure, EraseFailsAndTheChannelKeepsTheReason) {
  FDriver.FCallError = THubError::AccessDenied;
  EXPECT_EQ(EraseEeprom(FDriver, FDevice, [] { return true; }), TEepromOutcome::TransferFailed);
  ExpectClosedAfterOneTransfer();
  ASSERT_TRUE(FDevice);
  EXPECT_EQ(FDevice->LastError(),
            GetParam().FIoResult ? THubError::Stalled : THubError::AccessDenied);
}

INSTANTIATE_TEST_SUITE_P(Faults, EepromTransferFailure,
                         ::testing::Values(TTransferFault{false, 0},
                                           TTransferFault{true, 0x80000000}));

using EepromWrite = TCommandFixture;

TEST_F(EepromWrite, SendsExactlyTheImagesLength) {
  std::vector<uint8_t> bytes = kFixedImage;
  bytes.resize(24, 0x77); // bytes past the image's length stay behind
  std::unique_ptr<TEEImage> image = MakeImage(bytes);
  ASSERT_EQ(image->GetLength(), 7u);
  EXPECT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::Success);
  ExpectClosedAfterOneTransfer();
  const std::vector<uint8_t>& record = FDriver.FRecords[0];
  ASSERT_EQ(record.size(), 38u + 7u);
  EXPECT_EQ(record[0], 0x40);
  EXPECT_EQ(record[1], 0x01);
  EXPECT_EQ(record[6], 7);
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 38, record.end()), kFixedImage);
}

TEST_F(EepromWrite, AnInvalidImageIsSentAsItIs) {
  std::vector<uint8_t> bytes(100, 0x42);
  std::unique_ptr<TEEImage> image = MakeImage(bytes);
  ASSERT_FALSE(image->IsValid());
  EXPECT_EQ(WriteEeprom(FDriver, FDevice, *image), TEepromOutcome::Success);
  EXPECT_EQ(std::vector<uint8_t>(FDriver.FRecords[0].begin() + 38, FDriver.FRecords[0].end()),
            bytes);
}

TEST_F(EepromWrite, AnEmptyImageSendsNothingButStillClosesTheChannel) {
  TEEImage empty("/nonexistent/korvane/no-such-image.bin");
  ASSERT_EQ(empty.GetLength(), 0u);
  EXPECT_EQ(WriteEeprom(FDriver, FDevice, empty), TEepromOutcome::EmptyImage);
  EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:a", "close 3"}));
}

using EepromErase = TCommandFixture;

TEST_F(EepromErase, AsksOnceTheHubIsOpenThenSendsOneFF) {
  bool openWhenAsked = false;
  EXPECT_EQ(EraseEeprom(FDriver, FDevice,
                        [this, &openWhenAsked] {
                          openWhenAsked =
                              FDevice && FDevice->IsOpen() && FDriver.Count("ioctl") == 0;
                          return true;
                        }),
            TEepromOutcome::Success);
  EXPECT_TRUE(openWhenAsked);
  ExpectClosedAfterOneTransfer();
  const std::vector<uint8_t>& record = FDriver.FRecords[0];
  ASSERT_EQ(record.size(), 39u);
  EXPECT_EQ(record[0], 0x40);
  EXPECT_EQ(record[38], 0xFF);
}

TEST_F(EepromErase, DecliningSendsNothingAndLeavesNoHandleOpen) {
  EXPECT_EQ(EraseEeprom(FDriver, FDevice, [] { return false; }), TEepromOutcome::Declined);
  EXPECT_EQ(FDriver.FLog, (TLog{"list", "open sim:a", "close 3"}));
  EXPECT_TRUE(FDriver.FOpen.empty());
  // Without a question there is no answer, so no erase either.
  EXPECT_EQ(EraseEeprom(FDriver, FDevice, nullptr), TEepromOutcome::Declined);
  EXPECT_EQ(FDriver.Count("ioctl"), 0u);
}

// The variants on a channel the caller holds: no search, no close.
TEST_F(EepromRead, VariantsOnAnOpenChannelLeaveItOpen) {
  TTargetDev open(FDriver, "sim:a");
  ASSERT_TRUE(open.Open());
  FDriver.FReadBytes = kFixedImage;
  std::unique_ptr<TEEImage> image;
  EXPECT_EQ(ReadEepromFrom(open, image), TEepromOutcome::Success);
  ASSERT_TRUE(image);
  EXPECT_EQ(WriteEepromTo(open, *image), TEepromOutcome::Success);
  EXPECT_EQ(EraseEepromOn(open), TEepromOutcome::Success);
  EXPECT_TRUE(open.IsOpen());
  EXPECT_EQ(FDriver.FLog, (TLog{"open sim:a", "ioctl 3", "ioctl 3", "ioctl 3"}));

  ASSERT_TRUE(open.Close());
  EXPECT_EQ(EraseEepromOn(open), TEepromOutcome::TransferFailed);
  EXPECT_EQ(ReadEepromFrom(open, image), TEepromOutcome::TransferFailed);
  EXPECT_EQ(FDriver.Count("ioctl"), 3u);
}

} // namespace
