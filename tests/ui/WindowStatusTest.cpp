// The strip between "Write To File..." and "Read from EEPROM": the image's size with its bar, and
// the hub the last device command used.
#include "Eeimage.h"
#include "ElidedLabel.h"
#include "ExampleImages.h"
#include "UiTestSupport.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

class WindowStatusTest : public TWindowTest {
protected:
  QString SizeText() const { return W<QLabel>("SizeLbl")->text(); }
  // The label's text and the bar's share for the current image's length.
  void ExpectSize(uint32_t length) const {
    EXPECT_EQ(SizeText(), QStringLiteral("%1 of 512 bytes").arg(length));
    const auto* bar = W<QProgressBar>("SizeBar");
    EXPECT_EQ(bar->value(), static_cast<int>(length));
    EXPECT_EQ(bar->maximum(), 512);
  }
  TElidedLabel* Hub() const { return W<TElidedLabel>("HubLbl"); }
};

TEST_F(WindowStatusTest, SitsInTheFreeSpaceBetweenTheButtonsAndStartsEmpty) {
  const QRect left = W<QPushButton>("FileWriteBtn")->geometry();
  const QRect right = W<QPushButton>("DevReadBtn")->geometry();
  const QRect space(left.right() + 1, 520, right.left() - left.right() - 1, 30);
  EXPECT_EQ(space.width(), 135);
  const QRect size = W<QLabel>("SizeLbl")->geometry();
  const QRect bar = W<QProgressBar>("SizeBar")->geometry();
  const QRect hub = Hub()->geometry();
  for (const QRect& place : {size, bar, hub})
    EXPECT_TRUE(space.contains(place)) << place.x() << "," << place.y();
  // Size and bar on one line, the bar beside the text and thin; the hub below both.
  EXPECT_LE(size.right(), bar.left());
  EXPECT_TRUE(bar.top() >= size.top() && bar.bottom() <= size.bottom());
  EXPECT_LE(bar.height(), 6);
  EXPECT_GT(hub.top(), size.bottom());
  // The longest size text fits.
  EXPECT_LE(W<QLabel>("SizeLbl")->fontMetrics().horizontalAdvance("512 of 512 bytes"),
            size.width());

  EXPECT_TRUE(SizeText().isEmpty());
  EXPECT_EQ(W<QProgressBar>("SizeBar")->value(), 0);
  EXPECT_TRUE(Hub()->text().isEmpty());
  EXPECT_TRUE(Hub()->toolTip().isEmpty());
}

// The size follows every change of the image: reads, string and language changes, the raw grid,
// and an image without a buffer shows 0.
TEST_F(WindowStatusTest, SizeFollowsEveryChangeOfTheImage) {
  EXPECT_TRUE(Click("DevReadBtn").empty());
  const uint32_t example = MakeExampleD4()->GetLength();
  ExpectSize(example);

  Type("MfgStrEdit", E("MfgStrEdit")->text() + "XY");
  Leave();
  ExpectSize(example + 4);

  // Adding a language adds its LANGID and placeholders for its strings.
  Click("LangBtn", {[](QWidget* dialog) {
          QTest::keyClicks(dialog->findChild<QLineEdit*>("LangIDEdit"), "040C");
          QTest::mouseClick(dialog->findChild<QPushButton*>("AddBtn"), Qt::LeftButton);
          QTest::mouseClick(dialog->findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
        }});
  ASSERT_EQ(Image().GetLanguageCount(), 3);
  EXPECT_GT(Image().GetLength(), example + 4);
  ExpectSize(Image().GetLength());

  // Switching a string kind off removes its descriptors.
  const uint32_t withManufacturer = Image().GetLength();
  Type("MfgEdit", "0");
  Leave();
  EXPECT_LT(Image().GetLength(), withManufacturer);
  ExpectSize(Image().GetLength());

  // A signature typed into the grid makes a 7-byte image.
  TypeInCell(0, "D0");
  Leave();
  ExpectSize(7);

  OpenBytes(HeaderImage(0xD3, {}));
  ExpectSize(24);
  OpenFile(TempFile("missing.bin")); // no buffer at all
  ExpectSize(0);
}

TEST_F(WindowStatusTest, HubNamesTheHubOfTheLastCommandElidedInTheMiddle) {
  Click("DevReadBtn");
  TElidedLabel* hub = Hub();
  const QString full = QString::fromStdString(FHubPath);
  EXPECT_EQ(hub->FullText(), full);
  EXPECT_EQ(hub->toolTip(), full);
  // A temporary folder's path is too long for the label: both ends stay, the middle goes.
  const QString shown = hub->text();
  const qsizetype gap = shown.indexOf(QChar(0x2026));
  ASSERT_GT(gap, 0) << shown.toStdString();
  EXPECT_TRUE(full.startsWith(shown.left(gap)));
  EXPECT_TRUE(full.endsWith(shown.mid(gap + 1)));
  EXPECT_TRUE(shown.startsWith("sim:"));
  EXPECT_LE(hub->fontMetrics().horizontalAdvance(shown), hub->contentsRect().width());
  // A grab for a look at the strip and the grid's marks beside it.
  Type("PIDEdit", "BEEF");
  Leave();
  if (const QString folder = qEnvironmentVariable("KORVANE_GRAB_DIR"); !folder.isEmpty()) {
    QDir().mkpath(folder);
    FWindow->grab().save(QDir(folder).filePath("size-hub-marks.png"));
  }

  // A command that finds no hub used none.
  TSimulatedHubDriver::TFaults gone;
  gone.FGone = true;
  ASSERT_TRUE(FDriver.SetFaults(FHubPath, gone));
  EXPECT_EQ(Texts(Click("InitDevBtn")), std::vector<QString>{"Couldn't open device"});
  EXPECT_TRUE(hub->text().isEmpty());
  EXPECT_TRUE(hub->toolTip().isEmpty());

  // A short name is shown whole; a declined erase still used the hub it found.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(FDir.path()));
  std::string error;
  const bool added = FDriver.AddHub("e.bin", error);
  QDir::setCurrent(previous);
  ASSERT_TRUE(added) << error;
  Click("InitDevBtn", {TModalAnswerer::Button(QMessageBox::No)});
  EXPECT_EQ(hub->text(), "sim:e.bin");
  EXPECT_EQ(hub->toolTip(), "sim:e.bin");
}

} // namespace
