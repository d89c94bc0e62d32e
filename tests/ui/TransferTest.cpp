// A slow hub: the transfer runs beside the window, which shows the wait cursor, keeps painting and
// takes no input until the command has ended; closing waits for it.
#include "UiTestSupport.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <memory>

namespace {

bool WaitCursorShown() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

// Runs `probe` once, as soon as a transfer is under way (the wait cursor shows and no box is
// open), from the window's own event loop.
class TDuringTransfer {
public:
  explicit TDuringTransfer(std::function<void()> probe) : FProbe(std::move(probe)) {
    FTimer.setInterval(1);
    QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] {
      if (!WaitCursorShown() || QApplication::activeModalWidget() != nullptr)
        return;
      FTimer.stop();
      FRan = true;
      FProbe();
    });
    FTimer.start();
  }
  bool Ran() const { return FRan; }

private:
  std::function<void()> FProbe;
  QTimer FTimer;
  bool FRan = false;
};

// Counts the paint events a widget gets while the wait cursor shows.
class TPaintCounter : public QObject {
public:
  explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int During() const { return FDuring; }

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && WaitCursorShown())
      ++FDuring;
    return false;
  }

private:
  int FDuring = 0;
};

class TransferTest : public TWindowTest {
protected:
  // A write of a 7-byte image is one page, and takes this long.
  static constexpr std::chrono::milliseconds kPage{400};
  void SetUp() override {
    TWindowTest::SetUp();
    FDriver.SetPageWriteDelay(16, kPage);
    OpenBytes(HeaderImage(0xD0, {{1, 0x11}}));
  }
};

TEST_F(TransferTest, ASlowWriteShowsTheWaitCursorRepaintsAndTakesNoInput) {
  auto* button = W<QPushButton>("DevReadBtn");
  const TPaintCounter paints(button);
  QLineEdit* vid = E("VIDEdit");
  const QString vidBefore = vid->text();
  bool cursorDuring = false;
  const TDuringTransfer probe([&] {
    cursorDuring = WaitCursorShown();
    button->update();
    // Clicks and keys while the hub works are dropped, not kept for after the transfer.
    QTest::mouseClick(W<QPushButton>("FileReadBtn"), Qt::LeftButton);
    QTest::mouseClick(W<QPushButton>("InitDevBtn"), Qt::LeftButton);
    QTest::keyClicks(vid, "FF");
    QTest::keyClick(FWindow.get(), Qt::Key_Escape);
  });
  const auto started = std::chrono::steady_clock::now();
  const auto boxes = FBoxes.Run([&] {
    QTest::mouseClick(W<QPushButton>("DevWriteBtn"), Qt::LeftButton);
    QTest::qWait(50); // anything kept back would show now
  });
  EXPECT_GE(std::chrono::steady_clock::now() - started, kPage);
  EXPECT_TRUE(probe.Ran());
  EXPECT_TRUE(cursorDuring);
  EXPECT_GT(paints.During(), 0);
  EXPECT_EQ(Texts(boxes), std::vector<QString>{"Successfully wrote configuration data to device"});
  EXPECT_EQ(vid->text(), vidBefore);
  EXPECT_EQ(EepromBytes().at(1), 0x11);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

// The erase question comes between the search and the transfer: the user answers it with the
// normal cursor, then the wait cursor is back until the erase has ended.
TEST_F(TransferTest, TheEraseQuestionTakesInputBetweenTheSearchAndTheTransfer) {
  bool cursorAtQuestion = true;
  bool cursorAfter = false;
  std::unique_ptr<TDuringTransfer> afterAnswer;
  const auto boxes = Click("InitDevBtn", {[&](QWidget* box) {
                             cursorAtQuestion = QGuiApplication::overrideCursor() != nullptr;
                             TModalAnswerer::Button(QMessageBox::Yes)(box);
                             afterAnswer = std::make_unique<TDuringTransfer>(
                                 [&] { cursorAfter = WaitCursorShown(); });
                           }});
  ASSERT_NE(afterAnswer, nullptr);
  EXPECT_TRUE(afterAnswer->Ran());
  EXPECT_EQ(Texts(boxes), (std::vector<QString>{"Are you sure you want to erase the device EEPROM?",
                                                "Successfully erased device EEPROM"}));
  EXPECT_FALSE(cursorAtQuestion);
  EXPECT_TRUE(cursorAfter);
  EXPECT_EQ(EepromBytes().at(0), 0xFF);
}

// The close cannot interrupt the worker, which uses the channel and the image: the command ends
// and says how, then the window closes as it always does.
TEST_F(TransferTest, ClosingDuringATransferWaitsForItThenAsksAsUsual) {
  bool closedAtOnce = true;
  const TDuringTransfer probe([&] {
    closedAtOnce = FWindow->close();
    EXPECT_TRUE(FWindow->isVisible());
  });
  const QString saved = TempFile("closing.bin");
  const auto boxes =
      Click("DevWriteBtn", {TModalAnswerer::Button(QMessageBox::Ok),
                            TModalAnswerer::Button(QMessageBox::Yes), TModalAnswerer::File(saved)});
  EXPECT_TRUE(probe.Ran());
  EXPECT_FALSE(closedAtOnce);
  EXPECT_EQ(Texts(boxes), (std::vector<QString>{"Successfully wrote configuration data to device",
                                                "Do you want to save the image?", "ExportDlg"}));
  EXPECT_FALSE(FWindow->isVisible());
  EXPECT_EQ(FWindow->Image(), nullptr);
  EXPECT_EQ(EepromBytes().at(0), 0xD0);
  EXPECT_EQ(QFile(saved).size(), 7);
  EXPECT_EQ(FDriver.OpenHandleCount(), 0u);
}

} // namespace
