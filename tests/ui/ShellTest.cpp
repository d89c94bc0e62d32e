// The window as a whole: its controls and their initial states, the file commands, closing, and
// the exception display.
#include "Eeimage.h"
#include "ExampleImages.h"
#include "FileLock.h"
#include "KorvaneApp.h"
#include "Langdlg.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

class ShellTest : public TWindowTest {};

TEST_F(ShellTest, StartsWithTheFormsStates) {
  EXPECT_EQ(FWindow->objectName(), "MainWindow");
  EXPECT_EQ(FWindow->windowTitle(), "Korvane Configuration Utility");
  EXPECT_EQ(FWindow->size(), QSize(792, 566));
  EXPECT_EQ(FWindow->minimumSize(), FWindow->maximumSize());
  EXPECT_EQ(FWindow->Image(), nullptr);

  struct TButton {
    const char* name;
    const char* caption;
    QRect place;
    bool enabled;
  };
  const TButton buttons[] = {
      {"FileReadBtn", "Read From File...", {20, 520, 100, 30}, true},
      {"FileWriteBtn", "Write To File...", {135, 520, 100, 30}, false},
      {"DevReadBtn", "Read from EEPROM", {370, 520, 125, 30}, true},
      {"DevWriteBtn", "Write to EEPROM", {510, 520, 125, 30}, false},
      {"InitDevBtn", "Erase EEPROM", {650, 520, 125, 30}, true},
  };
  for (const TButton& button : buttons) {
    SCOPED_TRACE(button.name);
    auto* widget = W<QPushButton>(button.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->text(), button.caption);
    EXPECT_EQ(widget->geometry(), button.place);
    EXPECT_EQ(widget->isEnabled(), button.enabled);
  }
  auto* pages = W<QTabWidget>("MainPageCtl");
  EXPECT_EQ(pages->geometry(), QRect(15, 15, 605, 490));
  EXPECT_FALSE(pages->isEnabled());
  EXPECT_EQ(pages->tabText(0), "Device Settings");
  EXPECT_EQ(pages->tabText(1), "String Descriptor");
  EXPECT_EQ(pages->currentWidget(), W<QWidget>("DevSetTab"));
  EXPECT_EQ(pages->widget(1), W<QWidget>("StrDescTab"));
  auto* grid = W<QGroupBox>("ByteGrp");
  EXPECT_EQ(grid->geometry(), QRect(640, 10, 135, 496));
  EXPECT_EQ(grid->title(), "Raw Configuration Data");
  EXPECT_FALSE(grid->isEnabled());
  for (QLineEdit* edit : FWindow->findChildren<QLineEdit*>())
    EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
}

TEST_F(ShellTest, EditsCarryTheirLengthsStatesAndTags) {
  struct TEdit {
    const char* name;
    int maxLength;
    bool enabled;
    bool readOnly;
    int tag;
  };
  const TEdit edits[] = {
      {"SigEdit", 2, false, true, 0},           {"VIDEdit", 4, true, false, 1},
      {"PIDEdit", 4, true, false, 3},           {"ResRevEdit", 2, false, true, 5},
      {"DevRevEdit", 2, true, false, 6},        {"MaxPwrFSEdit", 2, true, false, 8},
      {"MaxPwrHSEdit", 2, true, false, 9},      {"ResIntCtlEdit", 2, true, false, 10},
      {"ResExtCtlEdit", 2, true, false, 11},    {"CtlrPwrFSBPEdit", 2, true, false, 12},
      {"CtlrPwrHSBPEdit", 2, true, false, 13},  {"CtlrPwrFSSPEdit", 2, true, false, 14},
      {"CtlrPwrHSSPEdit", 2, true, false, 15},  {"PwrOnTimeEdit", 2, true, false, 16},
      {"WriteProtectEdit", 2, true, false, 19}, {"NumLangsEdit", 2, true, true, 20},
      {"EnPortEdit", 1, true, false, 7},        {"DisPortEdit", 1, true, false, 7},
      {"CB1Res3Edit", 1, false, true, 17},      {"CB1Res0Edit", 1, false, true, 17},
      {"StrResEdit", 1, false, true, 21},       {"ActPort7Edit", 1, true, false, 22},
      {"RemPort0Edit", 1, true, false, 23},
  };
  const auto check = [this](const TEdit& edit) {
    SCOPED_TRACE(edit.name);
    QLineEdit* widget = E(edit.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->maxLength(), edit.maxLength);
    EXPECT_EQ(!widget->testAttribute(Qt::WA_ForceDisabled), edit.enabled);
    EXPECT_EQ(widget->isReadOnly(), edit.readOnly);
    if (edit.tag >= 0) {
      EXPECT_EQ(widget->property("Tag").toInt(), edit.tag);
    }
  };
  for (const TEdit& edit : edits)
    check(edit);
  const std::pair<const char*, int> groups[] = {{"OCTimersGrp", 7},  {"CfgBits1Grp", 17},
                                                {"CfgBits2Grp", 18}, {"SupportedStringsGrp", 21},
                                                {"ActPortGrp", 22},  {"RemPortGrp", 23}};
  for (const auto& [name, tag] : groups)
    EXPECT_EQ(W<QGroupBox>(name)->property("Tag").toInt(), tag) << name;
  // The string page's controls are made when the first image is shown, not at start.
  EXPECT_EQ(FWindow->findChild<QLineEdit*>("MfgLenEdit"), nullptr);
  OpenExample();
  for (const TEdit& edit :
       {TEdit{"MfgLenEdit", 2, false, true, -1}, TEdit{"IF1DescEdit", 2, false, true, -1}})
    check(edit);
  const std::pair<const char*, int> strings[] = {
      {"MfgStrEdit", 0x01},   {"ProdStrEdit", 0x02}, {"SNStrEdit", 0x04}, {"FSCfgStrEdit", 0x08},
      {"HSCfgStrEdit", 0x10}, {"IF0StrEdit", 0x20},  {"IF1StrEdit", 0x40}};
  for (const auto& [name, tag] : strings)
    EXPECT_EQ(E(name)->property("Tag").toInt(), tag) << name;
  auto* font = W<QPushButton>("FontBtn");
  EXPECT_FALSE(font->isVisibleTo(FWindow.get()));
  EXPECT_FALSE(font->isEnabled());
  EXPECT_EQ(W<QPushButton>("GenerateSerialNoBtn")->text(), "Generate Serial Number");
  EXPECT_EQ(W<QLabel>("LangNoLbl")->text(), "LANGID");
  EXPECT_NE(W<QComboBox>("LangIDBox"), nullptr);
}

TEST_F(ShellTest, FocusMovesThroughTheLeftColumnThenTheGroups) {
  const char* const order[] = {
      "SigEdit",         "VIDEdit",         "PIDEdit",          "ResRevEdit",
      "DevRevEdit",      "MaxPwrFSEdit",    "MaxPwrHSEdit",     "ResIntCtlEdit",
      "ResExtCtlEdit",   "CtlrPwrFSBPEdit", "CtlrPwrHSBPEdit",  "CtlrPwrFSSPEdit",
      "CtlrPwrHSSPEdit", "PwrOnTimeEdit",   "WriteProtectEdit", "NumLangsEdit",
      "EnPortEdit",      "DisPortEdit",     "IllegalDescEdit",  "CmpdDevEdit",
      "FSOnlyEdit",      "NoIndicEdit",     "CB1Res3Edit",      "GangPwrdEdit",
      "SingleTTEdit",    "CB1Res0Edit",     "AmberLEDPolEdit",  "GreenLEDPolEdit",
      "SelfPwrEdit",     "ModIndicEdit",    "PwrCtlPolEdit",    "OCPolEdit",
      "OCMode1Edit",     "OCMode2Edit",     "StrResEdit",       "IF1Edit",
      "IF0Edit",         "CfgHSEdit",       "CfgFSEdit",        "SerNumEdit",
      "ProdEdit",        "MfgEdit",         "ActPort3Edit",     "ActPort2Edit",
      "ActPort1Edit",    "ActPort0Edit",    "ActPort7Edit",     "ActPort6Edit",
      "ActPort5Edit",    "ActPort4Edit",    "RemPort3Edit",     "RemPort2Edit",
      "RemPort1Edit",    "RemPort0Edit",    "RemPort7Edit",     "RemPort6Edit",
      "RemPort5Edit",    "RemPort4Edit",    "LangBtn"};
  for (size_t i = 0; i + 1 < std::size(order); ++i)
    EXPECT_EQ(W<QWidget>(order[i])->nextInFocusChain(), W<QWidget>(order[i + 1]))
        << order[i] << " -> " << order[i + 1];
  // The bottom row follows the grid.
  EXPECT_EQ(W<QWidget>("FileReadBtn")->nextInFocusChain(), W<QWidget>("FileWriteBtn"));
  EXPECT_EQ(W<QWidget>("DevWriteBtn")->nextInFocusChain(), W<QWidget>("InitDevBtn"));
  // The string page, made with the first image, takes its place between "Languages..." and the
  // grid.
  OpenExample();
  const char* const page[] = {"LangBtn",
                              "LangIDBox",
                              "FontBtn",
                              "MfgLenEdit",
                              "MfgDescEdit",
                              "MfgStrEdit",
                              "ProdLenEdit",
                              "ProdDescEdit",
                              "ProdStrEdit",
                              "SNLenEdit",
                              "SNDescEdit",
                              "SNStrEdit",
                              "GenerateSerialNoBtn",
                              "FSCfgLenEdit",
                              "FSCfgDescEdit",
                              "FSCfgStrEdit",
                              "HSCfgLenEdit",
                              "HSCfgDescEdit",
                              "HSCfgStrEdit",
                              "IF0LenEdit",
                              "IF0DescEdit",
                              "IF0StrEdit",
                              "IF1LenEdit",
                              "IF1DescEdit",
                              "IF1StrEdit",
                              "ByteList"};
  // The next control Tab moves to: containers in the chain take no focus.
  const auto nextStop = [](QWidget* widget) {
    do
      widget = widget->nextInFocusChain();
    while ((widget->focusPolicy() & Qt::TabFocus) == 0);
    return widget;
  };
  for (size_t i = 0; i + 1 < std::size(page); ++i)
    EXPECT_EQ(nextStop(W<QWidget>(page[i])), W<QWidget>(page[i + 1]))
        << page[i] << " -> " << page[i + 1];
}

TEST_F(ShellTest, LanguageDialogHasItsControls) {
  TLangWndw dialog(FWindow.get());
  EXPECT_EQ(dialog.objectName(), "LangWndw");
  EXPECT_EQ(dialog.windowTitle(), "Select Languages");
  EXPECT_EQ(dialog.size(), QSize(239, 238));
  const std::pair<const char*, const char*> captions[] = {
      {"RemBtn", "Remove"}, {"AddBtn", "Add"}, {"OKBtn", "OK"}, {"CancelBtn", "Cancel"}};
  for (const auto& [name, caption] : captions)
    EXPECT_EQ(dialog.findChild<QPushButton*>(name)->text(), caption);
  EXPECT_EQ(dialog.findChild<QLabel*>("LangIDLbl")->text(), "Enter LANGID:");
  EXPECT_EQ(dialog.findChild<QLabel*>("EnLangListLnl")->text(), "Supported LANGIDs");
  EXPECT_EQ(dialog.findChild<QLineEdit*>("LangIDEdit")->maxLength(), 4);
  EXPECT_TRUE(dialog.findChild<QPushButton*>("OKBtn")->isDefault());
  EXPECT_EQ(dialog.findChild<QWidget*>("RemBtn")->nextInFocusChain(),
            dialog.findChild<QWidget*>("AddBtn"));
  QLineEdit* edit = dialog.findChild<QLineEdit*>("LangIDEdit");
  QTest::keyClicks(edit, "04g0x9");
  EXPECT_EQ(edit->text(), "0409");
}

TEST_F(ShellTest, ReadingAValidFileShowsItAndEnablesTheWriteCommands) {
  const auto boxes = OpenBytes(HeaderImage(0xD3, {{1, 0x34}, {2, 0x12}}));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, "open");
  EXPECT_EQ(boxes[0].text, "ImportDlg");
  EXPECT_TRUE(W<QWidget>("FileWriteBtn")->isEnabled());
  EXPECT_TRUE(W<QWidget>("DevWriteBtn")->isEnabled());
  EXPECT_TRUE(W<QWidget>("MainPageCtl")->isEnabled());
  EXPECT_TRUE(W<QWidget>("ByteGrp")->isEnabled());
  EXPECT_EQ(E("VIDEdit")->text(), "1234");
  EXPECT_EQ(E("SigEdit")->text(), "D3");
}

TEST_F(ShellTest, FileDialogsOfferTheFourFiltersAndStartInConfigFiles) {
  // Built on first use: the window's start does not wait for them.
  EXPECT_TRUE(FWindow->findChildren<QFileDialog*>().isEmpty());
  OpenExample(); // so that "Write To File..." is enabled
  // "Config_Files" is relative to the current folder.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir(FDir.path()).mkpath("Config_Files"));
  ASSERT_TRUE(QDir::setCurrent(FDir.path()));
  Click("FileReadBtn", {TModalAnswerer::Cancel()});
  Click("FileWriteBtn", {TModalAnswerer::Cancel()});
  QDir::setCurrent(previous);
  auto* open = FWindow->findChild<QFileDialog*>("ImportDlg");
  auto* save = FWindow->findChild<QFileDialog*>("ExportDlg");
  ASSERT_NE(open, nullptr);
  ASSERT_NE(save, nullptr);
  const QStringList filters = {"I2C EEPROM Image (*.iic)", "Binary EEPROM Image (*.bin)",
                               "Any EEPROM Image (*.iic *.bin)", "Any File (*)"};
  EXPECT_EQ(open->nameFilters(), filters);
  EXPECT_EQ(save->nameFilters(), filters);
  EXPECT_TRUE(save->defaultSuffix().isEmpty());
  EXPECT_TRUE(save->testOption(QFileDialog::DontConfirmOverwrite));
  const QString configFiles = QDir(FDir.path()).absoluteFilePath("Config_Files");
  EXPECT_EQ(open->directory().absolutePath(), configFiles);
  EXPECT_EQ(open->fileMode(), QFileDialog::AnyFile);
  // A second use is the same dialog, again starting in "Config_Files".
  open->setDirectory(QDir::tempPath());
  ASSERT_TRUE(QDir::setCurrent(FDir.path()));
  Click("FileReadBtn", {TModalAnswerer::Cancel()});
  QDir::setCurrent(previous);
  EXPECT_EQ(FWindow->findChildren<QFileDialog*>().size(), 2);
  EXPECT_EQ(open->directory().absolutePath(), configFiles);
}

TEST_F(ShellTest, CancellingTheOpenDialogChangesNothing) {
  OpenBytes(HeaderImage(0xD0, {{1, 0xAA}}));
  const TEEImage* before = FWindow->Image();
  const auto boxes = Click("FileReadBtn", {TModalAnswerer::Cancel()});
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(FWindow->Image(), before);
  EXPECT_EQ(E("VIDEdit")->text(), "00AA");
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), 7);
}

TEST_F(ShellTest, AnInvalidFileAfterAValidOneEmptiesTheViewsAndKeepsTheCommands) {
  OpenExample(); // with strings, so the string page shows values too
  const auto boxes = OpenFile(TempFile("missing.iic"));
  ExpectLast(boxes, 2, "Configuration data read from file is invalid", QMessageBox::NoIcon);
  EXPECT_EQ(boxes.back().title, "Korvane Configuration Utility");
  ASSERT_NE(FWindow->Image(), nullptr);
  EXPECT_FALSE(FWindow->Image()->IsValid());
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), 0);
  for (QLineEdit* edit : W<QWidget>("MainPageCtl")->findChildren<QLineEdit*>())
    EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
  EXPECT_TRUE(W<QWidget>("FileWriteBtn")->isEnabled());
  EXPECT_TRUE(W<QWidget>("MainPageCtl")->isEnabled());
  // An image without bytes: leaving fields and the grid touches nothing and shows nothing.
  Type("VIDEdit", "12");
  EXPECT_TRUE(Leave("PIDEdit").empty());
  W<QWidget>("ByteList")->setFocus();
  EXPECT_TRUE(Leave("DevReadBtn").empty());
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), 0);
  // Closing still asks.
  EXPECT_EQ(Texts(Close({TModalAnswerer::Button(QMessageBox::No)})),
            std::vector<QString>{"Do you want to save the image?"});
}

TEST_F(ShellTest, SavingWritesExactlyTheImageUnderTheNameGiven) {
  OpenBytes(HeaderImage(0xD2, {{9, 0x42}}));
  const QString target = TempFile("saved");
  const auto boxes = Click("FileWriteBtn", {TModalAnswerer::File(target)});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, "save");
  QFile file(target);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_EQ(bytes.size(), 13);
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xD2);
  EXPECT_EQ(static_cast<uint8_t>(bytes[9]), 0x42);
  // Cancelling writes nothing and says nothing.
  QFile::remove(target);
  EXPECT_EQ(Click("FileWriteBtn", {TModalAnswerer::Cancel()}).size(), 1u);
  EXPECT_FALSE(QFile::exists(target));
}

TEST_F(ShellTest, AFailedSaveIsReported) {
  OpenBytes(HeaderImage(0xD0, {}));
  const auto boxes = Click("FileWriteBtn", {TModalAnswerer::File(TempFile("no/such/folder/x"))});
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, "Unable to save configuration data to file");
  EXPECT_EQ(boxes[1].details, "No such file or directory"); // the system's reason, set apart
}

// The tool holds the file's lock from reading an image to saving it; the window's save waits for
// it, so it neither overwrites the file half-way through such an edit nor is overwritten by it.
TEST_F(ShellTest, SavingWaitsForAnotherProcessChangingTheFile) {
  OpenBytes(HeaderImage(0xD0, {}));
  const QString target = TempFile("shared.bin");
  QFile file(target);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("old");
  file.close();
  std::atomic<bool> keptDuringTheHold{false};
  TFileLock other;
  ASSERT_EQ(other.Acquire(QFile::encodeName(target).toStdString(), std::chrono::milliseconds(0)),
            TFileLock::TResult::Locked);
  std::thread holder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QFile held(target);
    keptDuringTheHold = held.open(QIODevice::ReadOnly) && held.readAll() == "old";
    other.Release();
  });
  const auto boxes = Click("FileWriteBtn", {TModalAnswerer::File(target)});
  holder.join();
  EXPECT_EQ(boxes.size(), 1u); // the dialog only: the save succeeded once the lock was free
  EXPECT_TRUE(keptDuringTheHold);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().size(), 7);
}

TEST_F(ShellTest, ClosingAsksOnlyWithAnImageAndAlwaysCloses) {
  EXPECT_TRUE(Close().empty());
  EXPECT_FALSE(FWindow->isVisible());

  FWindow->show();
  OpenBytes(HeaderImage(0xD0, {}));
  const QString target = TempFile("on-close.iic");
  const auto boxes =
      Close({TModalAnswerer::Button(QMessageBox::Yes), TModalAnswerer::File(target)});
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "Confirm");
  EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
  EXPECT_EQ(boxes[0].text, "Do you want to save the image?");
  EXPECT_EQ(QFile(target).size(), 7);
  EXPECT_FALSE(FWindow->isVisible());
  EXPECT_EQ(FWindow->Image(), nullptr);
}

// A message box taking the focus is no exit: the control that holds the focus runs its exit
// before the close question, so Yes saves the image with the edit in it.
TEST_F(ShellTest, ClosingStoresTheEditOfTheFocusedControlFirst) {
  struct TCase {
    const char* what;
    std::function<void()> edit;
    std::function<void(TEEImage&)> expected; // the change to the example image
  };
  const TCase cases[] = {
      {"field", [this] { Type("PIDEdit", "beef"); },
       [](TEEImage& image) {
         image.SetByte(3, 0xEF);
         image.SetByte(4, 0xBE);
       }},
      {"grid value", [this] { TypeInCell(1, "ab"); },
       [](TEEImage& image) { image.SetByte(1, 0xAB); }},
      {"bit group", [this] { Type("GangPwrdEdit", E("GangPwrdEdit")->text() == "1" ? "0" : "1"); },
       [](TEEImage& image) { image.SetByte(17, image.GetByte(17) ^ 0x04); }},
      {"bString field", [this] { Type("MfgStrEdit", "Abc"); },
       [](TEEImage& image) {
         EXPECT_TRUE(image.SetStringDescriptor(kEnglish, TEEImage::kManufacturer,
                                               Descriptor(u"Abc").data()));
       }},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.what);
    NewWindow();
    OpenExample();
    auto expected = MakeExampleD4();
    test.expected(*expected);
    test.edit();
    const QString target = TempFile(QStringLiteral("closed-%1.bin").arg(test.what));
    const auto boxes =
        Close({TModalAnswerer::Button(QMessageBox::Yes), TModalAnswerer::File(target)});
    ASSERT_EQ(boxes.size(), 2U);
    EXPECT_EQ(boxes[0].text, "Do you want to save the image?");
    EXPECT_EQ(Bytes(TEEImage(target.toStdString())), Bytes(*expected));
    EXPECT_FALSE(FWindow->isVisible());
  }
}

// A refused exit says why first, as the exception display or its own message does; the question
// follows all the same, and Yes saves the image without the refused edit.
TEST_F(ShellTest, AnExitRefusedOnClosingSpeaksBeforeTheQuestion) {
  struct TCase {
    const char* what;
    std::function<void()> edit;
    QString message;
    QMessageBox::Icon icon;
  };
  const TCase cases[] = {
      {"field", [this] { Paste("PIDEdit", "G1"); }, "'0xG1' is not a valid integer value.",
       QMessageBox::Critical},
      {"bit", [this] { Paste("SingleTTEdit", "2"); }, "'2' is not a valid bit value.",
       QMessageBox::Critical},
      {"incomplete grid value", [this] { RetypeCell(2, "7", false); },
       "Invalid input value.  Use escape key to abandon changes.", QMessageBox::Critical},
      {"invalid grid image", [this] { TypeInCell(0, "00"); },
       "Configuration data entered is invalid", QMessageBox::NoIcon},
      {"string too long", [this] { Paste("MfgStrEdit", QString(127, QLatin1Char('x'))); },
       kStoreFailed, QMessageBox::NoIcon},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.what);
    NewWindow();
    OpenExample();
    const auto before = Bytes(Image());
    test.edit();
    const QString target = TempFile(QStringLiteral("refused-%1.bin").arg(test.what));
    const auto boxes =
        Close({TModalAnswerer::Button(QMessageBox::Ok), TModalAnswerer::Button(QMessageBox::Yes),
               TModalAnswerer::File(target)});
    ASSERT_EQ(boxes.size(), 3U);
    EXPECT_EQ(boxes[0].text, test.message);
    EXPECT_EQ(boxes[0].icon, test.icon);
    EXPECT_EQ(boxes[0].title, "Korvane Configuration Utility");
    EXPECT_EQ(boxes[1].text, "Do you want to save the image?");
    EXPECT_EQ(Bytes(TEEImage(target.toStdString())), before);
    EXPECT_FALSE(FWindow->isVisible());
  }
}

TEST(ExceptionDisplay, AppendsAFullStopAfterLettersAndDigitsOnly) {
  const std::pair<QString, QString> cases[] = {
      {"'0xG' is not a valid integer value", "'0xG' is not a valid integer value."},
      {"ends in 7", "ends in 7."},
      {"already.", "already."},
      {"a comma,", "a comma,"},
      {"", ""},
  };
  for (const auto& [message, shown] : cases)
    EXPECT_EQ(TKorvaneApp::ExceptionText(message), shown);
}

// A click must move the focus to a command button on every platform, so that the control being
// left stores its edit before the command runs.
TEST_F(ShellTest, CommandButtonsTakeTheFocusWhenClicked) {
  OpenExample();
  for (const char* name : {"FileReadBtn", "FileWriteBtn", "DevReadBtn", "DevWriteBtn", "InitDevBtn",
                           "LangBtn", "GenerateSerialNoBtn"})
    EXPECT_EQ(W<QPushButton>(name)->focusPolicy(), Qt::StrongFocus) << name;
}

TEST_F(ShellTest, CancellingTheSaveOnCloseWritesNothingAndStillCloses) {
  OpenBytes(HeaderImage(0xD0, {}));
  const QStringList before = QDir(FDir.path()).entryList(QDir::Files);
  const auto boxes = Close({TModalAnswerer::Button(QMessageBox::Yes), TModalAnswerer::Cancel()});
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].kind, "save");
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), before);
  EXPECT_FALSE(FWindow->isVisible());
}

} // namespace
