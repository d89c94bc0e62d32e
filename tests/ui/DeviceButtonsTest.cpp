// "Read from EEPROM", "Write to EEPROM" and "Erase EEPROM" over the simulated hub: every outcome's
// messages, and what each command leaves of the image and the display.
#include "ByteBlock.h"
#include "Eeimage.h"
#include "ExampleImages.h"
#include "Trgtdev.h"
#include "UiTestSupport.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <fstream>

namespace {

class DeviceButtonsTest : public TWindowTest {
protected:
  // Puts another hub with these EEPROM contents in place of the first one, which is unplugged.
  void UseHubHolding(std::vector<uint8_t> bytes) {
    bytes.resize(512, 0xFF);
    const std::string file = TempFile("second-eeprom.bin").toStdString();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 512);
    std::string error;
    ASSERT_TRUE(FDriver.AddHub(file, error)) << error;
    Unplug();
    FHubPath = TSimulatedHubDriver::PathOf(file);
  }
  void Fail(bool TSimulatedHubDriver::TFaults::*fault) {
    TSimulatedHubDriver::TFaults faults;
    faults.*fault = true;
    ASSERT_TRUE(FDriver.SetFaults(FHubPath, faults));
  }
  void Unplug() { Fail(&TSimulatedHubDriver::TFaults::FGone); }
  int Rows() const { return W<QTableWidget>("ByteList")->rowCount(); }
};

TEST_F(DeviceButtonsTest, ReadShowsTheExampleImage) {
  EXPECT_TRUE(Click("DevReadBtn").empty());
  ASSERT_NE(FWindow->Image(), nullptr);
  const auto example = MakeExampleD4();
  EXPECT_EQ(FWindow->Image()->GetLength(), example->GetLength());
  EXPECT_EQ(Rows(), static_cast<int>(example->GetLength()));
  EXPECT_EQ(E("SigEdit")->text(), "D4");
  EXPECT_TRUE(W<QWidget>("DevWriteBtn")->isEnabled());
  EXPECT_TRUE(W<QWidget>("FileWriteBtn")->isEnabled());
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

TEST_F(DeviceButtonsTest, WithoutAHubEachCommandSaysOnlyCouldNotOpen) {
  Click("DevReadBtn");
  const TEEImage* shown = FWindow->Image();
  Unplug();
  for (const char* button : {"DevReadBtn", "DevWriteBtn", "InitDevBtn"}) {
    SCOPED_TRACE(button);
    const auto boxes = Click(button);
    // The erase asks nothing without a hub.
    ExpectLast(boxes, 1, "Couldn't open device", QMessageBox::NoIcon);
    EXPECT_EQ(boxes.back().title, "Korvane Configuration Utility");
  }
  EXPECT_EQ(FWindow->Image(), shown);
  EXPECT_EQ(E("SigEdit")->text(), "D4");
  EXPECT_TRUE(W<QWidget>("FileWriteBtn")->isEnabled());
}

TEST_F(DeviceButtonsTest, FailedTransfersAreReportedAndChangeNothing) {
  Click("DevReadBtn");
  const TEEImage* shown = FWindow->Image();
  const std::vector<uint8_t> before = EepromBytes();
  Fail(&TSimulatedHubDriver::TFaults::FIoControlFails);
  EXPECT_EQ(Texts(Click("DevReadBtn")),
            std::vector<QString>{"Couldn't read configuration data from device"});
  EXPECT_EQ(Texts(Click("DevWriteBtn")),
            std::vector<QString>{"Couldn't write configuration data to device"});
  EXPECT_EQ(Texts(Click("InitDevBtn", {TModalAnswerer::Button(QMessageBox::Yes)})),
            (std::vector<QString>{"Are you sure you want to erase the device EEPROM?",
                                  "Couldn't erase device EEPROM"}));
  EXPECT_EQ(FWindow->Image(), shown);
  EXPECT_EQ(EepromBytes(), before);
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

TEST_F(DeviceButtonsTest, AnErasedEepromReadsAsInvalidAndEmptiesTheViews) {
  Click("DevReadBtn");
  EXPECT_EQ(Texts(Click("InitDevBtn", {TModalAnswerer::Button(QMessageBox::Yes)})),
            (std::vector<QString>{"Are you sure you want to erase the device EEPROM?",
                                  "Successfully erased device EEPROM"}));
  EXPECT_EQ(EepromBytes().at(0), 0xFF);
  // The erase leaves the image and the display alone.
  EXPECT_EQ(E("SigEdit")->text(), "D4");
  EXPECT_EQ(Texts(Click("DevReadBtn")),
            std::vector<QString>{"Configuration data read from device is invalid"});
  ASSERT_NE(FWindow->Image(), nullptr);
  EXPECT_FALSE(FWindow->Image()->IsValid());
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(E("SigEdit")->text().isEmpty());
  EXPECT_TRUE(W<QWidget>("DevWriteBtn")->isEnabled());
}

TEST_F(DeviceButtonsTest, DecliningTheEraseSendsNothing) {
  const std::vector<uint8_t> before = EepromBytes();
  const uint32_t requests = FDriver.RequestCount(FHubPath);
  const auto boxes = Click("InitDevBtn", {TModalAnswerer::Button(QMessageBox::No)});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Confirm");
  EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
  EXPECT_EQ(FDriver.RequestCount(FHubPath), requests);
  EXPECT_EQ(EepromBytes(), before);
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

// Enter presses the focused default button: on the erase question that is No, so neither Enter
// nor Esc erases. The save question on closing keeps Yes, so Enter there opens the save dialog.
TEST_F(DeviceButtonsTest, EnterAndEscAnswerTheEraseQuestionNoAndTheSaveQuestionKeepsYes) {
  const std::vector<uint8_t> before = EepromBytes();
  const uint32_t requests = FDriver.RequestCount(FHubPath);
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    SCOPED_TRACE(key);
    const auto boxes = Click("InitDevBtn", {TModalAnswerer::Key(key)});
    EXPECT_EQ(Texts(boxes),
              std::vector<QString>{"Are you sure you want to erase the device EEPROM?"});
  }
  EXPECT_EQ(FDriver.RequestCount(FHubPath), requests);
  EXPECT_EQ(EepromBytes(), before);
  // Yes still erases.
  EXPECT_EQ(Texts(Click("InitDevBtn", {TModalAnswerer::Button(QMessageBox::Yes)})).back(),
            "Successfully erased device EEPROM");

  OpenBytes(HeaderImage(0xD0, {}));
  const QString target = TempFile("saved-by-enter.bin");
  const auto boxes = Close({TModalAnswerer::Key(Qt::Key_Return), TModalAnswerer::File(target)});
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Do you want to save the image?");
  EXPECT_EQ(boxes[1].kind, "save");
  EXPECT_EQ(QFile(target).size(), 7);
}

TEST_F(DeviceButtonsTest, WriteSendsExactlyTheImagesLength) {
  UseHubHolding(std::vector<uint8_t>(512, 0xEE));
  OpenBytes(HeaderImage(0xD0, {{1, 0x11}, {6, 0x66}}));
  EXPECT_EQ(Texts(Click("DevWriteBtn")),
            std::vector<QString>{"Successfully wrote configuration data to device"});
  const std::vector<uint8_t> eeprom = EepromBytes();
  ASSERT_EQ(eeprom.size(), 512u);
  EXPECT_EQ(eeprom[0], 0xD0);
  EXPECT_EQ(eeprom[1], 0x11);
  EXPECT_EQ(eeprom[6], 0x66);
  EXPECT_EQ(eeprom[7], 0xEE); // nothing past the 7-byte image
  EXPECT_EQ(E("SigEdit")->text(), "D0");
}

TEST_F(DeviceButtonsTest, APendingFieldEditIsStoredBeforeTheWriteSendsTheImage) {
  Click("DevReadBtn");
  Type("PIDEdit", "BEEF");
  EXPECT_EQ(Click("DevWriteBtn").size(), 1u);
  const std::vector<uint8_t> eeprom = EepromBytes();
  EXPECT_EQ(eeprom[3], 0xEF);
  EXPECT_EQ(eeprom[4], 0xBE);
}

// A click first moves the focus, so the control being left is stored first. When its exit is
// refused, the focus goes back to it and the clicked command must not run: the write would send
// an image without what was typed and report success.
TEST_F(DeviceButtonsTest, ARefusedExitStopsTheClickedCommand) {
  struct TCase {
    const char* what;
    std::function<void()> edit;
    QString message;
    const char* keeper; // the control that gets the focus back
  };
  const TCase cases[] = {
      {"pasted field value", [this] { Paste("PIDEdit", "G1"); },
       "'0xG1' is not a valid integer value.", "PIDEdit"},
      {"incomplete grid value", [this] { RetypeCell(3, "7", false); },
       "Invalid input value.  Use escape key to abandon changes.", "ByteList"},
      {"grid value with a blank", [this] { RetypeCell(3, "5", true); },
       "'0x 5' is not a valid integer value.", "ByteList"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.what);
    EXPECT_TRUE(Click("DevReadBtn").empty());
    const std::vector<uint8_t> eeprom = EepromBytes();
    const uint32_t requests = FDriver.RequestCount(FHubPath);
    test.edit();
    EXPECT_EQ(Texts(Click("DevWriteBtn")), std::vector<QString>{test.message});
    EXPECT_EQ(FDriver.RequestCount(FHubPath), requests);
    EXPECT_EQ(EepromBytes(), eeprom);
    QWidget* keeper = W<QWidget>(test.keeper);
    QWidget* focus = FWindow->focusWidget();
    EXPECT_TRUE(focus == keeper || keeper->isAncestorOf(focus))
        << (focus == nullptr ? "none" : focus->objectName().toStdString());
    EXPECT_FALSE(W<QPushButton>("DevWriteBtn")->isDown());
  }
  // Once the field converts, the same click stores it and writes.
  Click("DevReadBtn");
  Type("PIDEdit", "BEEF");
  EXPECT_EQ(Texts(Click("DevWriteBtn")),
            std::vector<QString>{"Successfully wrote configuration data to device"});
  EXPECT_EQ(EepromBytes()[4], 0xBE);
}

// The application routes the image's and the channel's out-of-memory reports to the window.
TMainWindow* GReportTo = nullptr;

// Out of memory while a command runs: one "Out of memory", the application asked to end once,
// and for a transfer the failure that follows it. A load is abandoned without a second message.
TEST_F(DeviceButtonsTest, OutOfMemoryIsReportedOnceAndTheApplicationAskedToEnd) {
  GReportTo = FWindow.get();
  TEEImage::SetOutOfMemoryHook([](bool fatal) {
    if (fatal)
      GReportTo->OutOfMemory();
  });
  TTargetDev::SetOutOfMemoryHook([] { GReportTo->OutOfMemory(); });
  Click("DevReadBtn");
  const TEEImage* shown = FWindow->Image();

  TByteBlock::FailAllocation(0); // the transfer's request record
  EXPECT_EQ(
      Texts(Click("DevReadBtn")),
      (std::vector<QString>{"Out of memory", "Couldn't read configuration data from device"}));
  EXPECT_EQ(FTerminations, 1);
  EXPECT_EQ(FWindow->Image(), shown);

  const QString file = TempFile("loaded.bin");
  ASSERT_TRUE(MakeExampleD4()->SaveToFile(file.toStdString()));
  TByteBlock::FailAllocation(0); // the loaded image's buffer
  const auto boxes = OpenFile(file);
  TByteBlock::FailAllocation(-1);
  TEEImage::SetOutOfMemoryHook(nullptr);
  TTargetDev::SetOutOfMemoryHook(nullptr);
  ASSERT_EQ(boxes.size(), 2u); // the file dialog, then the report
  EXPECT_EQ(boxes[1].text, "Out of memory");
  EXPECT_EQ(FTerminations, 2);
}

TEST_F(DeviceButtonsTest, AFailedEnumerationIsReportedBeforeCouldNotOpen) {
  Click("DevReadBtn");
  const TEEImage* shown = FWindow->Image();
  const uint32_t requests = FDriver.RequestCount(FHubPath);
  FDriver.SetEnumerationFails(true);
  for (const char* button : {"DevReadBtn", "DevWriteBtn", "InitDevBtn"}) {
    SCOPED_TRACE(button);
    EXPECT_EQ(Texts(Click(button)),
              (std::vector<QString>{"Can't find any devices", "Couldn't open device"}));
  }
  FDriver.SetEnumerationFails(false);
  EXPECT_EQ(FWindow->Image(), shown);
  EXPECT_EQ(FDriver.RequestCount(FHubPath), requests);
}

TEST_F(DeviceButtonsTest, ShortReadsAndRefusedRequestsFailTheReadAndKeepTheImage) {
  Click("DevReadBtn");
  const TEEImage* shown = FWindow->Image();
  const std::vector<uint8_t> bytes = ImageBytes(24);
  TSimulatedHubDriver::TFaults shortRead;
  shortRead.FShortRead = true;
  shortRead.FShortReadBytes = 100;
  TSimulatedHubDriver::TFaults stalled;
  stalled.FNegativeStatus = true;
  for (const auto& faults : {shortRead, stalled}) {
    ASSERT_TRUE(FDriver.SetFaults(FHubPath, faults));
    EXPECT_EQ(Texts(Click("DevReadBtn")),
              std::vector<QString>{"Couldn't read configuration data from device"});
    EXPECT_EQ(FWindow->Image(), shown);
    EXPECT_EQ(ImageBytes(24), bytes);
    EXPECT_EQ(E("SigEdit")->text(), "D4");
  }
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

} // namespace
