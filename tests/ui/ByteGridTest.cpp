// The raw data grid: filling it, editing values in place, taking it back when the focus leaves.
#include "ByteGrid.h"
#include "Eeimage.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <functional>

namespace {

class ByteGridTest : public TWindowTest {
protected:
  TByteGrid* Grid() const { return W<TByteGrid>("ByteList"); }
};

TEST_F(ByteGridTest, KeysAreHexadecimalWithAtLeastTwoDigits) {
  for (const auto& [key, text] :
       {std::pair<int, QString>{0, "00"}, {0x17, "17"}, {0xFF, "FF"}, {0x12B, "12B"}})
    EXPECT_EQ(TByteGrid::KeyText(key), text);
  OpenBytes({0xD0, 0xAB, 0, 0, 0, 0, 0x0C});
  ASSERT_EQ(Grid()->rowCount(), 7);
  EXPECT_EQ(Grid()->horizontalHeaderItem(0)->text(), "Address ");
  EXPECT_EQ(Grid()->horizontalHeaderItem(1)->text(), "Byte");
  EXPECT_EQ(Grid()->item(6, 0)->text(), "06");
  EXPECT_EQ(GridText(1), "AB");
  EXPECT_EQ(GridText(6), "0C");
  EXPECT_FALSE(Grid()->item(0, 0)->flags() & Qt::ItemIsEditable);
  EXPECT_FALSE(Grid()->item(0, 0)->flags() & Qt::ItemIsSelectable);
}

TEST_F(ByteGridTest, TypedValueIsStoredWhenTheFocusLeavesTheGrid) {
  OpenBytes(HeaderImage(0xD4, {}));
  QLineEdit* editor = EditCell(3);
  ASSERT_NE(editor, nullptr);
  QTest::keyClicks(editor, "g ,");
  EXPECT_EQ(editor->text(), "00");
  editor->selectAll();
  QTest::keyClicks(editor, "ab");
  EXPECT_EQ(editor->text(), "AB");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Byte(3), 0xAB);
  EXPECT_EQ(E("PIDEdit")->text(), "00AB");
  EXPECT_EQ(GridText(3), "AB");
}

TEST_F(ByteGridTest, AnInvalidEntryIsRefusedAndEveryEditOfTheVisitDropped) {
  OpenBytes(HeaderImage(0xD4, {{1, 0x11}}));
  TypeInCell(1, "22");
  TypeInCell(0, "00");
  ExpectLast(Leave(), 1, "Configuration data entered is invalid", QMessageBox::NoIcon);
  EXPECT_EQ(Byte(0), 0xD4);
  EXPECT_EQ(Byte(1), 0x11);
  EXPECT_EQ(GridText(0), "D4");
  EXPECT_EQ(GridText(1), "11");
}

TEST_F(ByteGridTest, ChangingTheSignatureChangesTheKindAndLength) {
  OpenBytes({0xD0, 1, 2, 3, 4, 5, 6});
  TypeInCell(0, "D4");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Grid()->rowCount(), 24);
  EXPECT_EQ(E("SigEdit")->text(), "D4");
  EXPECT_EQ(E("VIDEdit")->text(), "0201");
  TypeInCell(0, "D0");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Grid()->rowCount(), 7);
}

TEST_F(ByteGridTest, ADeletedRowBlocksTheReadBackAndHeaderEditsAppendIt) {
  OpenBytes(HeaderImage(0xD3, {{5, 0x55}}));
  QLineEdit* editor = EditCell(5);
  ASSERT_NE(editor, nullptr);
  QTest::keyClick(editor, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Grid()->rowCount(), 23);
  EXPECT_EQ(Grid()->FindRow("05"), -1);
  ExpectLast(Leave(), 1, "'0x' is not a valid integer value.", QMessageBox::Critical);
  EXPECT_EQ(Grid()->rowCount(), 23); // not rebuilt
  EXPECT_EQ(Byte(5), 0x55);
  // A header field edit puts the missing row back at the end.
  Type("VIDEdit", "1");
  Leave("PIDEdit");
  EXPECT_EQ(Grid()->rowCount(), 24);
  EXPECT_EQ(Grid()->FindRow("05"), 23);
  EXPECT_EQ(GridText(23), "55");
  EXPECT_FALSE(Grid()->IsMasked(23));
}

TEST_F(ByteGridTest, AnIncompleteValueIsRefusedAndEscapeAbandonsIt) {
  OpenBytes(HeaderImage(0xD4, {{2, 0x12}}));
  QLineEdit* editor = EditCell(2);
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "7");
  EXPECT_FALSE(editor->hasAcceptableInput());
  ExpectLast(FBoxes.Run([editor] { QTest::keyClick(editor, Qt::Key_Return); }), 1,
             "Invalid input value.  Use escape key to abandon changes.", QMessageBox::Critical);
  Activate();
  QTest::keyClick(editor, Qt::Key_Escape);
  EXPECT_EQ(GridText(2), "12");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Byte(2), 0x12);
}

TEST_F(ByteGridTest, HeaderRowsFollowFieldEditsAndStringRowsStay) {
  OpenBytes(HeaderImage(0xD2, {}));
  EXPECT_EQ(Grid()->rowCount(), 13);
  Type("MaxPwrFSEdit", "7F");
  Leave();
  EXPECT_EQ(GridText(9), "7F");
  EXPECT_EQ(Grid()->rowCount(), 13);
}

// The mask shows an empty position as a blank; a value with a blank in it fails conversion and
// the grid keeps the focus until the value is corrected.
TEST_F(ByteGridTest, AValueWithABlankFailsConversion) {
  OpenBytes(HeaderImage(0xD4, {{3, 0x12}}));
  RetypeCell(3, "5", true);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->displayText(), " 5");
  EXPECT_TRUE(editor->hasAcceptableInput());
  EXPECT_EQ(Texts(Leave()), std::vector<QString>{"'0x 5' is not a valid integer value."});
  EXPECT_EQ(Byte(3), 0x12);
  EXPECT_EQ(FWindow->focusWidget(), Grid());
  Grid()->setCurrentCell(2, 1); // the failing cell is current still: step off to edit it again
  TypeInCell(3, "05");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Byte(3), 0x05);
}

TEST_F(ByteGridTest, AnUntouchedExitKeepsTheImageOrRefusesOneTheCheckNoLongerPasses) {
  const std::vector<uint8_t> bytes =
      StringImage({kEnglish}, 0x01, {{kEnglish, 0x01, Descriptor(u"Maker")}});
  OpenBytes(bytes);
  ASSERT_EQ(Bytes(Image()), bytes);
  EditCell(5);
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Bytes(Image()), bytes);
  // Every kind switched off while a language is listed: the image keeps it, the grid refuses it.
  Type("MfgEdit", "0");
  EXPECT_TRUE(Leave().empty());
  const std::vector<uint8_t> stored = ImageBytes(static_cast<int>(bytes.size()));
  EXPECT_EQ(stored[21], 0x00);
  EditCell(5);
  EXPECT_EQ(Texts(Leave()), std::vector<QString>{"Configuration data entered is invalid"});
  EXPECT_EQ(ImageBytes(static_cast<int>(bytes.size())), stored);
}

TEST_F(ByteGridTest, AFieldEditRewritesOnlyTheHeaderRows) {
  OpenBytes(StringImage({kEnglish}, 0x01, {{kEnglish, 0x01, Descriptor(u"Maker")}}));
  TypeInCell(0x18, "7A"); // the LANGID table, not yet taken back
  Type("VIDEdit", "BEEF");
  EXPECT_TRUE(Leave("PIDEdit").empty());
  EXPECT_EQ(GridText(1), "EF");
  EXPECT_EQ(GridText(2), "BE");
  EXPECT_EQ(GridText(0x18), "7A");
}

// The two columns are wider than the room beside the vertical scroll bar. No step of editing may
// scroll the addresses out of view, and the editor is open whenever a value cell is current; a
// refused exit leaves the grid without one, and typing straight in then opens it.
TEST_F(ByteGridTest, TheAddressesStayInViewAndTheEditorStaysOpen) {
  OpenExample();
  TByteGrid* grid = Grid();
  const auto focused = [] { return QApplication::focusWidget(); };
  const auto cell = [grid](int row, int column) {
    return grid->visualRect(grid->model()->index(row, column)).center();
  };
  struct TStep {
    const char* what;
    std::function<void()> act;
    bool editor; // an editor is open on the current cell afterwards
  };
  const TStep steps[] = {
      {"focus", [&] { grid->setFocus(Qt::TabFocusReason); }, true},
      {"current", [&] { grid->setCurrentCell(3, 1); }, true},
      {"typed", [&] { QTest::keyClicks(focused(), "ab"); }, true},
      {"Enter", [&] { QTest::keyClick(focused(), Qt::Key_Return); }, true},
      {"typed again", [&] { QTest::keyClicks(focused(), "c"); }, true},
      {"Escape", [&] { QTest::keyClick(focused(), Qt::Key_Escape); }, true},
      {"value clicked",
       [&] { QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell(5, 1)); }, true},
      {"address clicked",
       [&] { QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell(2, 0)); }, true},
      {"Down", [&] { QTest::keyClick(focused(), Qt::Key_Down); }, true},
      {"PageDown", [&] { QTest::keyClick(focused(), Qt::Key_PageDown); }, true},
      {"refused exit",
       [&] {
         RetypeCell(4, "5", true);
         EXPECT_EQ(Texts(Leave()).size(), 1U);
       },
       false},
      {"typed straight in", [&] { QTest::keyClicks(grid, "7"); }, true},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.what);
    Activate();
    step.act();
    EXPECT_EQ(grid->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(grid->horizontalHeader()->offset(), 0);
    EXPECT_EQ(grid->columnViewportPosition(0), 0);
    EXPECT_EQ(grid->currentColumn(), 1);
    QWidget* editor = grid->indexWidget(grid->currentIndex());
    EXPECT_EQ(editor != nullptr, step.editor);
    if (step.editor) {
      EXPECT_EQ(focused(), editor);
    }
  }
  EXPECT_EQ(grid->currentRow(), 4);
  EXPECT_TRUE(qobject_cast<QLineEdit*>(focused())->displayText().startsWith("7"));
  Activate();
  grid->setCurrentCell(3, 1);
  EXPECT_EQ(GridText(3), "AB"); // Enter kept it, Escape dropped the "c" typed after it
}

} // namespace
