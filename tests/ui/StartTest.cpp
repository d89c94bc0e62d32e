// Starting the program: its command line, and an IMAGE named there opened as "Read From File..."
// opens it.
#include "ExampleImages.h"
#include "StartOptions.h"
#include "UiTestSupport.h"

#include <QLineEdit>
#include <QProcess>
#include <QTableWidget>

namespace {

using TArgs = std::vector<std::string>;

TEST(StartOptions, TakeHubsTheDelayAndOneImage) {
  const TStartOptions options = TStartOptions::Parse(
      {"--simulate", "a.eeprom", "--simulate=b.eeprom", "--simulate-page-delay", "5", "hub.bin"},
      true);
  EXPECT_TRUE(options.FError.empty()) << options.FError;
  EXPECT_EQ(options.FSimulate, (TArgs{"a.eeprom", "b.eeprom"}));
  EXPECT_EQ(options.FPageDelay, 5u);
  EXPECT_EQ(options.FFile, "hub.bin");
  EXPECT_EQ(TStartOptions::Parse({"--simulate-page-delay=0"}, true).FPageDelay, 0u);
  EXPECT_EQ(TStartOptions::Parse({"--simulate-page-delay", "60000"}, true).FPageDelay, 60000u);
  // After "--" a name that looks like an option is an image.
  EXPECT_EQ(TStartOptions::Parse({"--", "--odd.bin"}, true).FFile, "--odd.bin");
  // Qt's options that are left over are not images.
  EXPECT_TRUE(TStartOptions::Parse({"-reverse", "-"}, true).FFile.empty());
  EXPECT_TRUE(TStartOptions::Parse({"--help", "--bogus"}, true).FHelp);
}

TEST(StartOptions, RefuseWhatTheyCannotMean) {
  struct TCase {
    TArgs args;
    std::string error;
    bool usage;
  };
  const TCase cases[] = {
      {{"--simulate-page-delay", "60001"},
       "--simulate-page-delay takes milliseconds (0 to 60000), not \"60001\"",
       false},
      {{"--simulate-page-delay", "-1"},
       "--simulate-page-delay takes milliseconds (0 to 60000), not \"-1\"",
       false},
      {{"--simulate-page-delay", " 5"},
       "--simulate-page-delay takes milliseconds (0 to 60000), not \" 5\"",
       false},
      {{"--simulate-page-delay=5ms"},
       "--simulate-page-delay takes milliseconds (0 to 60000), not \"5ms\"",
       false},
      {{"--simulate-page-delay", "99999999999"},
       "--simulate-page-delay takes milliseconds (0 to 60000), not \"99999999999\"",
       false},
      {{"--simulate-page-delay"}, "--simulate-page-delay needs MS", true},
      {{"--simulate"}, "--simulate needs a FILE", true},
      {{"--simulated", "x"}, "unknown option '--simulated'", true},
      {{"a.bin", "b.bin"}, "one IMAGE at most: \"a.bin\" and \"b.bin\" were given", true},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.args));
    const TStartOptions options = TStartOptions::Parse(test.args, true);
    EXPECT_EQ(options.FError, test.error);
    EXPECT_EQ(options.FShowUsage, test.usage);
  }
  // Before Qt has taken out its options, words that are no option are passed over.
  EXPECT_TRUE(TStartOptions::Parse({"-platform", "offscreen", "a.bin"}, false).FError.empty());
}

struct TExit {
  int code = -1;
  QString out;
  QString err;
};

TExit RunProgram(const QStringList& args) {
  QProcess process;
  process.start(QStringLiteral(KORVANE_BINARY), args);
  TExit exit;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "korvane did not end";
    return exit;
  }
  exit.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  exit.out = QString::fromLocal8Bit(process.readAllStandardOutput());
  exit.err = QString::fromLocal8Bit(process.readAllStandardError());
  return exit;
}

// The program's own answers to its command line, before any window shows.
TEST(StartProgram, ReportsUsageErrorsAndTakesQtsOptionsOut) {
  const TExit help = RunProgram({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(help.out.contains("--simulate-page-delay MS")) << help.out.toStdString();

  const TExit delay = RunProgram({"--simulate-page-delay", "70000"});
  EXPECT_EQ(delay.code, 64);
  EXPECT_EQ(delay.err,
            "korvane: --simulate-page-delay takes milliseconds (0 to 60000), not \"70000\"\n");

  // "offscreen" is the value of Qt's -platform, not a second image.
  const TExit two = RunProgram({"-platform", "offscreen", "a.bin", "b.bin"});
  EXPECT_EQ(two.code, 64);
  EXPECT_TRUE(two.err.contains("korvane: one IMAGE at most: \"a.bin\" and \"b.bin\" were given\n"))
      << two.err.toStdString();
}

class StartImageTest : public TWindowTest {};

TEST_F(StartImageTest, AnImageNamedAtStartOpensAsReadFromFileOpensIt) {
  const QString file = TempFile("start.bin");
  ASSERT_TRUE(MakeExampleD4()->SaveToFile(file.toStdString()));
  EXPECT_TRUE(FBoxes.Run([&] { FWindow->OpenImageFile(file); }).empty());
  ASSERT_NE(FWindow->Image(), nullptr);
  EXPECT_EQ(Bytes(Image()), Bytes(*MakeExampleD4()));
  EXPECT_EQ(E("SigEdit")->text(), "D4");
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), static_cast<int>(Image().GetLength()));
  EXPECT_TRUE(W<QWidget>("FileWriteBtn")->isEnabled());
  EXPECT_TRUE(W<QWidget>("DevWriteBtn")->isEnabled());

  // An invalid or missing file brings its message, and the image it made is the current one.
  for (const char* name : {"missing.bin", "start.bin/none"}) {
    SCOPED_TRACE(name);
    const auto boxes = FBoxes.Run([&] { FWindow->OpenImageFile(TempFile(name)); });
    ExpectLast(boxes, 1, "Configuration data read from file is invalid", QMessageBox::NoIcon);
    EXPECT_FALSE(FWindow->Image()->IsValid());
    EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), 0);
  }
}

} // namespace
