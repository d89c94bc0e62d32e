// Showing header fields and storing edits of them: exit handlers, key filters, groups, the shared
// ports byte of 0xD2 and conversion failures through the exception display.
#include "Eeimage.h"
#include "ExampleImages.h"
#include "UiTestSupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

namespace {

class FieldEditTest : public TWindowTest {};

TEST_F(FieldEditTest, DisplayEncodings) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x34}, {2, 0x12}, {6, 0x0A}, {7, 0x5A}, {21, 0x00}}));
  EXPECT_EQ(E("VIDEdit")->text(), "1234");
  EXPECT_EQ(E("DevRevEdit")->text(), "0A");
  EXPECT_EQ(E("EnPortEdit")->text(), "5");
  EXPECT_EQ(E("DisPortEdit")->text(), "A");
  OpenBytes(HeaderImage(0xD2, {{8, 0xA5}}));
  const std::pair<const char*, const char*> ports[] = {
      {"ActPort3Edit", "1"}, {"ActPort2Edit", "0"}, {"ActPort1Edit", "1"}, {"ActPort0Edit", "0"},
      {"RemPort3Edit", "0"}, {"RemPort2Edit", "1"}, {"RemPort1Edit", "0"}, {"RemPort0Edit", "1"},
      {"ActPort7Edit", "0"}, {"RemPort4Edit", "0"}};
  for (const auto& [edit, shown] : ports)
    EXPECT_EQ(E(edit)->text(), shown) << edit;
}

TEST_F(FieldEditTest, A0xD0ImageShowsZerosBeyondItsHeaderAndNoLanguages) {
  OpenBytes({0xD0, 1, 2, 3, 4, 5, 6});
  EXPECT_EQ(E("MaxPwrHSEdit")->text(), "00");
  EXPECT_EQ(E("NumLangsEdit")->text(), "00");
  EXPECT_EQ(W<QComboBox>("LangIDBox")->count(), 0);
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), 7);
}

TEST_F(FieldEditTest, SingleByteFieldsStoreAtTheirOffsetPerKind) {
  struct TCase {
    uint8_t signature;
    const char* edit;
    int offset;
  };
  const TCase cases[] = {
      {0xD4, "MaxPwrFSEdit", 8},     {0xD2, "MaxPwrFSEdit", 9},      {0xD2, "CtlrPwrFSBPEdit", 10},
      {0xD3, "CtlrPwrFSBPEdit", 12}, {0xD2, "PwrOnTimeEdit", 11},    {0xD3, "PwrOnTimeEdit", 16},
      {0xD3, "ResIntCtlEdit", 10},   {0xD3, "WriteProtectEdit", 19}, {0xD4, "DevRevEdit", 6},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.edit);
    OpenBytes(HeaderImage(test.signature, {}));
    Type(test.edit, "5");
    EXPECT_TRUE(Leave().empty());
    EXPECT_EQ(Byte(test.offset), 0x05);
    EXPECT_EQ(E(test.edit)->text(), "05");
    EXPECT_EQ(GridText(test.offset), "05");
    EXPECT_FALSE(E(test.edit)->isModified());
  }
}

// Edits typed in turn and then left: the bytes they store, in the image and in the grid.
TEST_F(FieldEditTest, WideFieldsNibblesAndBitsStoreTheirBytes) {
  struct TCase {
    const char* what;
    std::vector<uint8_t> image;
    std::vector<std::pair<const char*, QString>> typed;
    std::vector<std::pair<int, uint8_t>> stored;
  };
  const std::vector<uint8_t> vid = HeaderImage(0xD4, {{1, 0x34}, {2, 0x12}});
  const TCase cases[] = {
      {"VID completed", vid, {{"VIDEdit", "1"}}, {{1, 0x01}, {2, 0x00}}},
      {"VID little-endian", vid, {{"VIDEdit", "abcd"}}, {{1, 0xCD}, {2, 0xAB}}},
      {"over-current timers combine both nibbles",
       HeaderImage(0xD4, {}),
       {{"EnPortEdit", "A"}, {"DisPortEdit", "3"}}, // moving between the two runs the handler too
       {{7, 0xA3}}},
      {"0xD2 active ports keep the removable nibble",
       HeaderImage(0xD2, {{8, 0x05}}),
       {{"ActPort3Edit", "1"}, {"ActPort2Edit", "0"}, {"ActPort1Edit", "0"}, {"ActPort0Edit", "1"}},
       {{8, 0x95}}},
      {"0xD2 removable ports keep the active nibble",
       HeaderImage(0xD2, {{8, 0x95}}),
       {{"RemPort3Edit", "0"}, {"RemPort2Edit", "1"}, {"RemPort1Edit", "1"}, {"RemPort0Edit", "0"}},
       {{8, 0x96}}},
      {"reserved bits written back as shown",
       HeaderImage(0xD3, {{17, 0x09}}),
       {{"IllegalDescEdit", "1"}},
       {{17, 0x89}}},
      {"second bit group", HeaderImage(0xD3, {}), {{"OCMode2Edit", "1"}}, {{18, 0x01}}},
      {"0xD3 language count", HeaderImage(0xD3, {}), {{"NumLangsEdit", "3"}}, {{20, 0x03}}},
      {"0xD3 supported strings", HeaderImage(0xD3, {}), {{"ProdEdit", "1"}}, {{21, 0x02}}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.what);
    OpenBytes(test.image);
    for (const auto& [edit, text] : test.typed) {
      Type(edit, text);
      EXPECT_EQ(E(edit)->text(), text.toUpper()) << edit;
    }
    Leave();
    for (const auto& [offset, value] : test.stored) {
      EXPECT_EQ(Byte(offset), value) << offset;
      EXPECT_EQ(GridText(offset),
                QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper());
    }
    for (const auto& [edit, text] : test.typed) // shown again from the image, completed
      EXPECT_EQ(E(edit)->text(), text.toUpper().rightJustified(E(edit)->maxLength(), '0')) << edit;
  }
}

TEST_F(FieldEditTest, LeavingWithoutTypingStoresNothing) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x34}}));
  W<QTableWidget>("ByteList")->item(1, 1)->setText("99"); // a grid edit not yet taken back
  Activate();
  E("VIDEdit")->setFocus();
  Leave();
  EXPECT_EQ(Byte(1), 0x34);
  EXPECT_EQ(GridText(1), "99"); // the header rows were not rewritten
}

TEST_F(FieldEditTest, FiltersDiscardWhatIsNotADigit) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x34}, {2, 0x12}}));
  Activate();
  QLineEdit* vid = E("VIDEdit");
  vid->setFocus();
  vid->end(false);
  for (const char key : {'g', 'x', ' '})
    QTest::keyClick(vid, key);
  QTest::keyClick(vid, Qt::Key_Return);
  QTest::keyClick(vid, Qt::Key_C, Qt::ControlModifier);
  QTest::keyClick(vid, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(vid->text(), "1234");
  EXPECT_FALSE(vid->isModified());
  QTest::keyClick(vid, Qt::Key_Backspace);
  EXPECT_EQ(vid->text(), "123");
  QLineEdit* bit = E("GangPwrdEdit");
  bit->setFocus();
  bit->selectAll();
  QTest::keyClicks(bit, "2a1");
  EXPECT_EQ(bit->text(), "1");
}

// Enter and Escape pass the key filters (the language dialog needs them), but in the window's
// fields and its grid they neither store a half-typed value nor raise anything.
TEST_F(FieldEditTest, EnterAndEscapeInAFieldDoNothing) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x34}, {2, 0x12}, {10, 0x55}}));
  const auto keys = [](QWidget* target) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
      QTest::keyClick(target, key);
  };
  const std::pair<const char*, const char*> fields[] = {{"VIDEdit", "12"}, {"GangPwrdEdit", "1"}};
  for (const auto& [name, typed] : fields) {
    SCOPED_TRACE(name);
    Type(name, typed);
    const auto before = ImageBytes(24);
    QLineEdit* edit = E(name);
    EXPECT_TRUE(FBoxes.Run([&] { keys(edit); }).empty());
    EXPECT_EQ(edit->text(), typed);
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(ImageBytes(24), before);
  }
  Leave("ByteList");
  const auto before = ImageBytes(24);
  auto* grid = W<QTableWidget>("ByteList");
  EXPECT_TRUE(FBoxes.Run([&] { keys(grid); }).empty());
  EXPECT_EQ(ImageBytes(24), before);
}

TEST_F(FieldEditTest, AnEmptyBitEditBlocksItsGroupUntilItHoldsADigit) {
  OpenBytes(HeaderImage(0xD4, {{18, 0x00}}));
  Type("GreenLEDPolEdit", "");
  QLineEdit* green = E("GreenLEDPolEdit");
  QTest::keyClick(green, Qt::Key_Backspace);
  ASSERT_TRUE(green->isModified());
  const auto boxes = Leave("SelfPwrEdit");
  ExpectLast(boxes, 1, "'0x' is not a valid integer value.", QMessageBox::Critical);
  EXPECT_EQ(boxes.back().title, "Korvane Configuration Utility");
  EXPECT_EQ(Byte(18), 0x00);
  EXPECT_TRUE(green->text().isEmpty());
  // Any exit of any edit of the group reports it again, and still stores nothing.
  EXPECT_EQ(Texts(Leave("OCPolEdit")), std::vector<QString>{"'0x' is not a valid integer value."});
  EXPECT_EQ(Byte(18), 0x00);
  EXPECT_EQ(FWindow->focusWidget(), green); // a refused exit keeps the focus on the group
  QTest::keyClicks(green, "1");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Byte(18), 0x40);
}

// Pasting is the one way to put anything but digits into an edit. Each refusal keeps the focus
// on the edit until it holds a value that converts.
TEST_F(FieldEditTest, PastedTextThatDoesNotConvertIsRefusedAndStoresNothing) {
  struct TCase {
    const char* edit;
    QString pasted;
    QString message;
  };
  const TCase cases[] = {
      {"MaxPwrHSEdit", "G1", "'0xG1' is not a valid integer value."},
      {"FSOnlyEdit", "2", "'2' is not a valid bit value."},
      {"OCMode1Edit", "F", "'F' is not a valid bit value."},
      {"FSOnlyEdit", "g", "'0xG' is not a valid integer value."}, // turned upper case
      {"MfgEdit", "g", "'0xg' is not a valid integer value."},    // "Supported Strings" keep it
  };
  OpenBytes(HeaderImage(0xD3, {{9, 0x11}, {17, 0x00}, {18, 0x00}, {21, 0x01}}));
  const auto before = ImageBytes(24);
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.edit);
    const QString shown = E(test.edit)->text();
    Paste(test.edit, test.pasted);
    EXPECT_EQ(Texts(Leave()), std::vector<QString>{test.message});
    EXPECT_EQ(ImageBytes(24), before);
    EXPECT_EQ(FWindow->focusWidget(), E(test.edit));
    Paste(test.edit, shown);
    EXPECT_TRUE(Leave().empty());
  }
  EXPECT_EQ(ImageBytes(24), before);
}

// Pasted letters arrive in upper case as typed ones do; the edit counts as typed into and keeps
// its cursor, and leaving it stores the value.
TEST_F(FieldEditTest, PastedLettersTurnUpperCase) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x34}, {2, 0x12}}));
  Activate();
  QLineEdit* pid = E("PIDEdit");
  pid->setFocus();
  pid->selectAll();
  QGuiApplication::clipboard()->setText("beef");
  pid->paste();
  EXPECT_EQ(pid->text(), "BEEF");
  EXPECT_TRUE(pid->isModified());
  EXPECT_EQ(pid->cursorPosition(), 4);
  QLineEdit* vid = E("VIDEdit");
  EXPECT_TRUE(Leave("VIDEdit").empty());
  EXPECT_EQ(ImageBytes(5), (std::vector<uint8_t>{0xD4, 0x34, 0x12, 0xEF, 0xBE}));
  EXPECT_EQ(pid->text(), "BEEF");
  EXPECT_FALSE(pid->isModified());
  vid->setSelection(1, 2);
  vid->insert("ab");
  EXPECT_EQ(vid->text(), "1AB4");
  EXPECT_EQ(vid->cursorPosition(), 3);
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(ImageBytes(3), (std::vector<uint8_t>{0xD4, 0xB4, 0x1A}));
}

TEST_F(FieldEditTest, SupportedStringsGoThroughTheStringTable) {
  OpenExample();
  const uint32_t before = Image().GetLength();
  Type("SerNumEdit", "0");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Byte(21) & 0x04, 0);
  EXPECT_LT(Image().GetLength(), before);
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), static_cast<int>(Image().GetLength()));
  EXPECT_EQ(E("SerNumEdit")->text(), "0");
}

TEST_F(FieldEditTest, LanguageListKeepsTheSelectionWhileItFits) {
  std::vector<uint8_t> image = HeaderImage(0xD3, {{20, 3}});
  image.insert(image.end(), {0x09, 0x04, 0x07, 0x04, 0x0C, 0x04});
  OpenBytes(image);
  auto* box = W<QComboBox>("LangIDBox");
  ASSERT_EQ(box->count(), 3);
  EXPECT_EQ(box->itemText(2), "0x040C");
  box->setCurrentIndex(1);
  OpenBytes(image);
  EXPECT_EQ(box->currentIndex(), 1);
  image[20] = 1;
  OpenBytes(image);
  EXPECT_EQ(box->count(), 1);
  EXPECT_EQ(box->currentIndex(), 0);
}

TEST_F(FieldEditTest, ALanguageCountBeyondTheBufferListsOnlyWhatIsInside) {
  OpenBytes(HeaderImage(0xD3, {{20, 0xFF}}));
  EXPECT_EQ(W<QComboBox>("LangIDBox")->count(), 244);
  EXPECT_EQ(E("NumLangsEdit")->text(), "FF");
}

// After an invalid read the page keeps empty edits; passing through one without typing shows it
// again from the (invalid) image instead of trying to convert the empty text.
TEST_F(FieldEditTest, PassingThroughFieldsEmptiedByAnInvalidReadStoresNothing) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x34}, {2, 0x12}}));
  // The file dialog, then the message.
  ExpectLast(OpenBytes(std::vector<uint8_t>(512, 0xFF)), 2,
             "Configuration data read from file is invalid", QMessageBox::NoIcon);
  EXPECT_TRUE(E("VIDEdit")->text().isEmpty());
  EXPECT_FALSE(E("VIDEdit")->isModified());
  EXPECT_FALSE(E("IllegalDescEdit")->isModified());
  EXPECT_TRUE(Leave("VIDEdit").empty());
  EXPECT_TRUE(Leave("PIDEdit").empty());
  EXPECT_EQ(E("VIDEdit")->text(), "FFFF");
  EXPECT_TRUE(Leave("IllegalDescEdit").empty());
  EXPECT_TRUE(Leave("PIDEdit").empty());
  for (const char* bit : {"CB1Res0Edit", "SingleTTEdit", "GangPwrdEdit", "CB1Res3Edit",
                          "NoIndicEdit", "FSOnlyEdit", "CmpdDevEdit", "IllegalDescEdit"})
    EXPECT_EQ(E(bit)->text(), "1") << bit;
}

// Switching a string kind on needs room for its descriptor; a full image refuses it quietly and
// the edit shows the mask again.
TEST_F(FieldEditTest, ASupportedStringThatDoesNotFitIsRefusedQuietly) {
  std::vector<uint8_t> bytes;
  for (size_t units = 126; units > 0 && bytes.empty(); --units) {
    const uint8_t signature = 0xD4;
    TEEImage image(&signature, 1);
    const uint16_t langid = 0x0409;
    ASSERT_TRUE(image.SetLanguages(&langid, 1));
    ASSERT_TRUE(image.SetSupportedStrings(0x03));
    ASSERT_TRUE(
        image.SetStringDescriptor(langid, 0x01, Descriptor(std::u16string(126, u'M')).data()));
    if (image.SetStringDescriptor(langid, 0x02, Descriptor(std::u16string(units, u'P')).data())) {
      bytes.resize(image.GetLength());
      ASSERT_TRUE(image.CopyTo(bytes.data(), image.GetLength()));
    }
  }
  ASSERT_FALSE(bytes.empty());
  ASSERT_GT(bytes.size(), 500u);
  OpenBytes(bytes);
  Type("SerNumEdit", "1");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(E("SerNumEdit")->text(), "0");
  EXPECT_EQ(Byte(21), 0x03);
  EXPECT_EQ(ImageBytes(static_cast<int>(bytes.size())), bytes);
}

} // namespace
