// The program's start-up run as korvane runs it, from a command line: an IMAGE named there is
// opened once the window shows, and the simulated hubs it names take the page time given.
#include "KorvaneMain.h"
#include "Eeimage.h"
#include "ExampleImages.h"
#include "Mainwndw.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

std::function<void(TMainWindow&)> GWhenShown;

void Shown(QWidget& window) {
  GWhenShown(static_cast<TMainWindow&>(window));
}

// Runs the program on `args` until its window closes. Message boxes are answered as they come:
// their texts are collected, a question is answered No, a message OK.
std::vector<QString> RunKorvane(std::vector<std::string> args,
                                std::function<void(TMainWindow&)> shown) {
  args.insert(args.begin(), "korvane");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());
  std::vector<QString> boxes;
  GWhenShown = [&](TMainWindow& window) {
    auto* answerer = new QTimer(&window);
    QObject::connect(answerer, &QTimer::timeout, [&boxes] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes.push_back(box->text());
        box->done(box->standardButtons() & QMessageBox::No ? QMessageBox::No : QMessageBox::Ok);
      }
    });
    answerer->start(5);
    // After the program's own start work, which the loop runs first.
    QTimer::singleShot(20, &window, [&window, shown] {
      shown(window);
      window.close();
    });
  };
  EXPECT_EQ(KorvaneMain(argc, argv.data(), &Shown), 0);
  return boxes;
}

class KorvaneMainTest : public ::testing::Test {
protected:
  std::string Path(const char* name) const { return FDir.filePath(name).toStdString(); }
  std::string Example() const {
    const std::string file = Path("example.iic");
    EXPECT_TRUE(MakeExampleD4()->SaveToFile(file));
    return file;
  }
  QTemporaryDir FDir;
};

TEST_F(KorvaneMainTest, AnImageNamedOnTheCommandLineIsShownAtStart) {
  QString signature;
  const auto boxes =
      RunKorvane({"--simulate", Path("hub.eeprom"), Example()}, [&](TMainWindow& window) {
        signature = window.findChild<QLineEdit*>("SigEdit")->text();
      });
  EXPECT_EQ(signature, "D4");
  EXPECT_EQ(boxes, std::vector<QString>{"Do you want to save the image?"});
}

TEST_F(KorvaneMainTest, AnInvalidImageNamedAtStartBringsItsMessage) {
  const auto boxes =
      RunKorvane({"--simulate", Path("hub.eeprom"), Path("missing.iic")}, [](TMainWindow&) {});
  EXPECT_EQ(boxes, (std::vector<QString>{"Configuration data read from file is invalid",
                                         "Do you want to save the image?"}));
}

TEST_F(KorvaneMainTest, SimulatedHubsTakeThePageTimeGiven) {
  qint64 elapsed = 0;
  uint32_t length = 0;
  RunKorvane({"--simulate", Path("hub.eeprom"), "--simulate-page-delay", "20", Example()},
             [&](TMainWindow& window) {
               ASSERT_NE(window.Image(), nullptr);
               length = window.Image()->GetLength();
               QElapsedTimer timer;
               timer.start();
               window.DevWriteBtnClick();
               elapsed = timer.elapsed();
             });
  // A lower bound only: every 16-byte page waits at least its 20 ms.
  EXPECT_GE(elapsed, (length + 15) / 16 * 20);
  std::ifstream hub(Path("hub.eeprom"), std::ios::binary);
  EXPECT_EQ(hub.get(), 0xD4);
}

} // namespace
