// The raw grid marks the bytes that differ from the image as last read or saved: bold on a
// background tinted from the palette.
#include "Eeimage.h"
#include "ExampleImages.h"
#include "UiTestSupport.h"

#include <QLineEdit>
#include <QTableWidget>

#include <cstdlib>

namespace {

class ChangeMarksTest : public TWindowTest {
protected:
  QTableWidget* Grid() const { return W<QTableWidget>("ByteList"); }
  static bool Marked(const QTableWidgetItem* item) {
    return item->font().bold() && item->background().style() != Qt::NoBrush;
  }
  std::vector<int> MarkedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < Grid()->rowCount(); ++row) {
      const QTableWidgetItem* value = Grid()->item(row, 1);
      if (Marked(value))
        rows.push_back(row);
      // Half a mark would be a fault of its own.
      EXPECT_EQ(value->font().bold(), value->background().style() != Qt::NoBrush) << row;
      EXPECT_FALSE(Grid()->item(row, 0)->font().bold()) << "address " << row;
    }
    return rows;
  }
};

TEST_F(ChangeMarksTest, EditsAreMarkedUntilTheImageIsSavedOrReadAgain) {
  EXPECT_TRUE(Click("DevReadBtn").empty());
  EXPECT_TRUE(MarkedRows().empty());

  Type("PIDEdit", "BEEF");
  Leave();
  EXPECT_EQ(MarkedRows(), (std::vector<int>{3, 4}));

  // A value committed in a cell is marked before the grid is left; typing the old value back
  // takes the mark away again.
  const QString before = GridText(1);
  TypeInCell(1, before == "AB" ? "CD" : "AB");
  Leave("ByteList"); // only the cell's editor closes
  EXPECT_EQ(MarkedRows(), (std::vector<int>{1, 3, 4}));
  Leave();
  EXPECT_EQ(MarkedRows(), (std::vector<int>{1, 3, 4}));
  TypeInCell(1, before);
  Leave();
  EXPECT_EQ(MarkedRows(), (std::vector<int>{3, 4}));

  // A write to the hub changes neither the image nor the display.
  EXPECT_EQ(Click("DevWriteBtn").size(), 1u);
  EXPECT_EQ(MarkedRows(), (std::vector<int>{3, 4}));

  // A failed save keeps the marks; a save clears them.
  Click("FileWriteBtn", {TModalAnswerer::File(TempFile("no/such/folder/x.bin"))});
  EXPECT_EQ(MarkedRows(), (std::vector<int>{3, 4}));
  Click("FileWriteBtn", {TModalAnswerer::File(TempFile("saved.bin"))});
  EXPECT_TRUE(MarkedRows().empty());

  // A read clears them too, from a file or from the hub.
  Type("VIDEdit", "0001");
  Leave();
  EXPECT_EQ(MarkedRows(), (std::vector<int>{1, 2}));
  OpenFile(TempFile("saved.bin"));
  EXPECT_TRUE(MarkedRows().empty());
  Type("VIDEdit", "0001");
  Leave();
  EXPECT_FALSE(MarkedRows().empty());
  Click("DevReadBtn");
  EXPECT_TRUE(MarkedRows().empty());
}

// A longer string moves every byte behind it: those addresses now hold other bytes, and the rows
// past the old end held none.
TEST_F(ChangeMarksTest, AStringThatGrowsMarksWhatMovedAndWhatIsNew) {
  OpenExample();
  const std::vector<uint8_t> read = Bytes(Image());
  Type("MfgStrEdit", E("MfgStrEdit")->text() + "Z");
  Leave();
  const std::vector<uint8_t> now = Bytes(Image());
  ASSERT_EQ(now.size(), read.size() + 2);
  std::vector<int> differing;
  for (size_t address = 0; address < now.size(); ++address)
    if (address >= read.size() || now[address] != read[address])
      differing.push_back(static_cast<int>(address));
  EXPECT_EQ(MarkedRows(), differing);
  EXPECT_EQ(differing.back(), static_cast<int>(now.size()) - 1);
}

// The tint lies between the palette's base and highlight colours, so it is light in a light
// style and dark in a dark one, and follows a change of the palette.
TEST_F(ChangeMarksTest, TheTintComesFromThePalette) {
  OpenExample();
  Type("PIDEdit", "BEEF");
  Leave();
  const QPalette original = Grid()->palette();
  struct TCase {
    const char* style;
    QColor base;
    QColor text;
    QColor highlight;
  };
  const TCase cases[] = {
      {"light", QColor(255, 255, 255), QColor(0, 0, 0), QColor(48, 140, 198)},
      {"dark", QColor(30, 30, 30), QColor(230, 230, 230), QColor(42, 130, 218)},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.style);
    QPalette palette = original;
    palette.setColor(QPalette::Base, test.base);
    palette.setColor(QPalette::Text, test.text);
    palette.setColor(QPalette::Highlight, test.highlight);
    Grid()->setPalette(palette);
    const QColor tint = Grid()->item(3, 1)->background().color();
    EXPECT_NE(tint, test.base);
    // Nearer the base than the highlight, and far from the text colour.
    const auto distance = [](const QColor& a, const QColor& b) {
      return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
             std::abs(a.blue() - b.blue());
    };
    EXPECT_LT(distance(tint, test.base), distance(tint, test.highlight));
    EXPECT_GT(std::abs(tint.lightness() - test.text.lightness()), 120);
  }
  Grid()->setPalette(original);
}

} // namespace
