// The "String Descriptor" page: showing the descriptors of the selected LANGID, storing retyped
// texts on exit, the 8-bit character set both ways, and the stores that must change nothing.
#include "Eeimage.h"
#include "ExampleImages.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QFontInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

class StringPageTest : public TWindowTest {
protected:
  std::vector<uint8_t> Current() const { return Bytes(Image()); }
  void Select(int index) { W<QComboBox>("LangIDBox")->setCurrentIndex(index); }
  // The 16-bit entries of the string offset table, row by row.
  std::vector<int> Entries() const {
    const int languages = Image().GetLanguageCount();
    std::vector<int> entries;
    const int rows = __builtin_popcount(Image().GetSupportedStrings());
    for (int at = 24 + 2 * languages; at < 24 + 2 * languages * (rows + 1); at += 2)
      entries.push_back(Image().GetByte(at) | (Image().GetByte(at + 1) << 8));
    return entries;
  }
  void ExpectEmptyAndReadOnly(std::initializer_list<const char*> fields) {
    for (const char* field : fields) {
      EXPECT_TRUE(E(field)->text().isEmpty()) << field;
      EXPECT_TRUE(E(field)->isReadOnly()) << field;
    }
  }
};

TEST_F(StringPageTest, ShowsEveryStringOfTheSelectedLanguage) {
  const auto example = MakeExampleD4();
  OpenBytes(Bytes(*example));
  auto* box = W<QComboBox>("LangIDBox");
  ASSERT_EQ(box->count(), 2);
  EXPECT_EQ(box->itemText(0), "0x0409");
  EXPECT_EQ(box->itemText(1), "0x0407");
  EXPECT_FALSE(box->isEditable());
  // isVisible() would be false on a tab not shown; the button itself must be hidden.
  EXPECT_TRUE(W<QPushButton>("FontBtn")->isHidden());
  EXPECT_FALSE(W<QPushButton>("FontBtn")->isEnabled());
  // The length, type and text edits of each kind, named by one prefix per row.
  const char* const rows[] = {"Mfg", "Prod", "SN", "FSCfg", "HSCfg", "IF0", "IF1"};
  const auto field = [this, &rows](int row, const char* part) {
    return E((std::string(rows[row]) + part).c_str());
  };
  for (const TExampleString& string : ExampleD4Strings()) {
    const int row = __builtin_ctz(string.kind);
    const QString text = QString::fromUtf8(string.text.data(), string.text.size());
    // The serial number is listed once and shows under every language.
    std::vector<int> indexes{string.langid == kEnglish ? 0 : 1};
    if (string.kind == TEEImage::kSerialNumber)
      indexes = {0, 1};
    for (const int index : indexes) {
      SCOPED_TRACE(text.toStdString() + " under " + box->itemText(index).toStdString());
      Select(index);
      EXPECT_EQ(field(row, "LenEdit")->text(),
                QStringLiteral("%1").arg(2 * text.size() + 2, 2, 16, QLatin1Char('0')).toUpper());
      EXPECT_EQ(field(row, "DescEdit")->text(), "03");
      EXPECT_EQ(field(row, "StrEdit")->text(), text);
      EXPECT_FALSE(field(row, "StrEdit")->isReadOnly());
      EXPECT_TRUE(field(row, "LenEdit")->isReadOnly());
      EXPECT_EQ(field(row, "StrEdit")->cursorPosition(), 0);
      EXPECT_FALSE(field(row, "StrEdit")->hasSelectedText());
    }
  }
}

// The texts in the window's sans-serif font at 9 pt; the serial number in the fixed-pitch font at
// the window's 8 pt.
TEST_F(StringPageTest, TextFieldFonts) {
  OpenExample();
  const std::pair<const char*, int> fields[] = {
      {"MfgStrEdit", 9},   {"ProdStrEdit", 9}, {"SNStrEdit", 8}, {"FSCfgStrEdit", 9},
      {"HSCfgStrEdit", 9}, {"IF0StrEdit", 9},  {"IF1StrEdit", 9}};
  for (const auto& [name, points] : fields) {
    SCOPED_TRACE(name);
    const QFont font = E(name)->font();
    EXPECT_EQ(font.pointSize(), points);
    if (points == 8)
      EXPECT_TRUE(QFontInfo(font).fixedPitch());
    else
      EXPECT_EQ(font.family(), FWindow->font().family());
  }
}

TEST_F(StringPageTest, KindsTheMaskLacksStayEmptyAndTakeNoTyping) {
  OpenBytes(StringImage({kEnglish}, TEEImage::kManufacturer | TEEImage::kSerialNumber,
                        {{kEnglish, TEEImage::kManufacturer, Descriptor(u"Maker")}}));
  const auto before = Current();
  for (const char* field : {"ProdStrEdit", "FSCfgStrEdit", "IF1StrEdit"}) {
    SCOPED_TRACE(field);
    ExpectEmptyAndReadOnly({field});
    Type(field, "abc");
    EXPECT_TRUE(E(field)->text().isEmpty());
    EXPECT_TRUE(Leave().empty());
    EXPECT_EQ(Current(), before);
  }
  EXPECT_TRUE(E("ProdLenEdit")->text().isEmpty());
  EXPECT_EQ(E("SNStrEdit")->text(), " "); // the placeholder
  EXPECT_EQ(E("SNLenEdit")->text(), "04");
}

// Passing through a field must not rewrite a descriptor that the field cannot show exactly.
TEST_F(StringPageTest, LeavingAnUnchangedFieldKeepsItsBytes) {
  struct TCase {
    const char* name;
    std::vector<uint8_t> descriptor;
    QString shown;
  };
  const TCase cases[] = {
      {"odd bLength", {7, 3, 'A', 0, 'B', 0, 'C'}, "AB"},
      {"characters the 8-bit set lacks", Descriptor(u"\u65E5\u672C Hub"), "?? Hub"},
      {"a lone surrogate", Descriptor(u"x\xD800y"), "x?y"},
      {"plain text", Descriptor(u"Plain \u00FC\u20AC"), QString::fromUtf8("Plain ü€")},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    OpenBytes(StringImage({kEnglish, kGerman}, TEEImage::kProduct | TEEImage::kInterface0,
                          {{kGerman, TEEImage::kProduct, test.descriptor}}));
    Select(1);
    EXPECT_EQ(E("ProdStrEdit")->text(), test.shown);
    const auto before = Current();
    Type("ProdStrEdit", "");
    EXPECT_TRUE(Leave("IF0StrEdit").empty());
    EXPECT_TRUE(Leave().empty());
    EXPECT_EQ(Current(), before);
  }
}

TEST_F(StringPageTest, StoredTextGoesThroughThe8BitSet) {
  struct TCase {
    QString typed;
    std::u16string stored;
  };
  const TCase cases[] = {
      {QString::fromUtf8("€ü"), u"\u20AC\u00FC"},
      {QString::fromUtf8("日本X"), u"??X"},
      {QString::fromUtf8("Ā"), u"?"}, // no best-fit letter
      {QString::fromUtf8("😀"), u"?"}, // one character, two UTF-16 units: one default character
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.typed.toStdString());
    OpenBytes(StringImage({kEnglish}, TEEImage::kManufacturer, {}));
    Paste("MfgStrEdit", test.typed);
    EXPECT_TRUE(Leave().empty());
    EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kManufacturer),
              Descriptor(test.stored));
    EXPECT_EQ(E("MfgStrEdit")->text(), QString::fromStdU16String(test.stored));
  }
}

TEST_F(StringPageTest, RetypingMovesEveryLaterDescriptor) {
  OpenBytes(StringImage({kEnglish, kGerman}, TEEImage::kManufacturer | TEEImage::kProduct,
                        {{kEnglish, TEEImage::kManufacturer, Descriptor(u"Abcd")},
                         {kGerman, TEEImage::kManufacturer, Descriptor(u"Herst")},
                         {kEnglish, TEEImage::kProduct, Descriptor(u"Hub")},
                         {kGerman, TEEImage::kProduct, Descriptor(u"Verteiler")}}));
  EXPECT_EQ(E("MfgLenEdit")->text(), "0A");
  const auto before = Current();
  const auto entries = Entries();
  Type("MfgStrEdit", "Abcdefgh");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(E("MfgLenEdit")->text(), "12");
  EXPECT_EQ(E("MfgStrEdit")->text(), "Abcdefgh");
  ASSERT_EQ(Image().GetLength(), before.size() + 8);
  EXPECT_EQ(W<QTableWidget>("ByteList")->rowCount(), static_cast<int>(before.size()) + 8);
  // The first descriptor keeps its place; everything behind it is 8 bytes further on.
  const auto after = Current();
  const size_t end = static_cast<size_t>(entries[0]) + 10;
  EXPECT_TRUE(std::equal(before.begin() + static_cast<long>(end), before.end(),
                         after.begin() + static_cast<long>(end) + 8));
  const auto moved = Entries();
  for (size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(moved[i], entries[i] + (i == 0 ? 0 : 8)) << "entry " << i;
  EXPECT_EQ(StoredDescriptor(Image(), kGerman, TEEImage::kProduct), Descriptor(u"Verteiler"));
  // And back to a shorter text.
  Type("MfgStrEdit", "A");
  Leave();
  EXPECT_EQ(Image().GetLength(), before.size() - 6);
  EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kManufacturer), Descriptor(u"A"));
  EXPECT_EQ(StoredDescriptor(Image(), kGerman, TEEImage::kManufacturer), Descriptor(u"Herst"));
}

TEST_F(StringPageTest, AClearedFieldStoresNothing) {
  OpenBytes(StringImage({kEnglish, kGerman}, TEEImage::kProduct,
                        {{kEnglish, TEEImage::kProduct, Descriptor(u"Hub")}}));
  const auto before = Current();
  Type("ProdStrEdit", "");
  QTest::keyClick(E("ProdStrEdit"), Qt::Key_Delete);
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Current(), before);
  EXPECT_TRUE(E("ProdStrEdit")->text().isEmpty()); // until the page is filled again
  Select(1);
  Select(0);
  EXPECT_EQ(E("ProdStrEdit")->text(), "Hub");
}

TEST_F(StringPageTest, ATextTheImageCannotHoldIsRefused) {
  const std::u16string maker(120, u'm');
  const std::u16string product(100, u'p');
  OpenBytes(StringImage({kEnglish}, TEEImage::kManufacturer | TEEImage::kProduct,
                        {{kEnglish, TEEImage::kManufacturer, Descriptor(maker)},
                         {kEnglish, TEEImage::kProduct, Descriptor(product)}}));
  ASSERT_EQ(Image().GetLength(), 474U);
  const auto before = Current();
  Paste("ProdStrEdit", QString(126, QLatin1Char('q'))); // 52 bytes more: past 512
  EXPECT_EQ(Texts(Leave()), std::vector<QString>{kStoreFailed});
  EXPECT_EQ(Current(), before);
  EXPECT_EQ(E("ProdStrEdit")->text(), QString::fromStdU16String(product));
  Paste("ProdStrEdit", QString(119, QLatin1Char('q'))); // exactly 512
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(Image().GetLength(), 512U);
}

// bLength is one byte: 126 units is the longest text; a longer one must not wrap the length
// (129 units would store a 4-byte descriptor of one character).
TEST_F(StringPageTest, LongestTextIs126Units) {
  OpenBytes(StringImage({kEnglish}, TEEImage::kManufacturer, {}));
  Paste("MfgStrEdit", QString(126, QLatin1Char('x')));
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(E("MfgLenEdit")->text(), "FE");
  EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kManufacturer),
            Descriptor(std::u16string(126, u'x')));
  const auto before = Current();
  for (const int units : {127, 129, 200}) {
    SCOPED_TRACE(units);
    Paste("MfgStrEdit", QString(units, QLatin1Char('y')));
    EXPECT_EQ(Texts(Leave()), std::vector<QString>{kStoreFailed});
    EXPECT_EQ(Current(), before);
    EXPECT_EQ(E("MfgStrEdit")->text(), QString(126, QLatin1Char('x')));
  }
  // The limit counts the units after conversion: a character beyond the basic plane is typed as
  // two units but stored as one default character, so 127 typed units fit.
  Paste("MfgStrEdit", QString(125, QLatin1Char('z')) + QString::fromUtf8("😀"));
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(E("MfgLenEdit")->text(), "FE");
  EXPECT_EQ(E("MfgStrEdit")->text(), QString(125, QLatin1Char('z')) + "?");
  EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kManufacturer),
            Descriptor(std::u16string(125, u'z') + u"?"));
}

// With no languages every field is read-only, but the program can still put text there (the
// generator does): whatever its length, nothing is stored and nothing said.
TEST_F(StringPageTest, WithoutALanguageNothingIsStoredOrSaid) {
  OpenBytes(StringImage({}, 0, {}));
  const auto before = Current();
  for (const int units : {12, 127, 200}) {
    SCOPED_TRACE(units);
    Type("MfgStrEdit", "");
    E("MfgStrEdit")->setText(QString(units, QLatin1Char('w')));
    EXPECT_TRUE(Leave().empty());
    EXPECT_EQ(Current(), before);
    EXPECT_TRUE(E("MfgStrEdit")->text().isEmpty());
  }
}

// An image with an unknown signature is not shown, so the page keeps the previous image's texts:
// a text changed there cannot be stored and must not stay as if it had been. Passing through
// without a change says nothing.
TEST_F(StringPageTest, ATextTypedAfterAnInvalidReadIsRefused) {
  auto bytes = Bytes(*MakeExampleD4());
  OpenBytes(bytes);
  bytes[0] = 0x00;
  OpenBytes(bytes);
  ASSERT_FALSE(Image().IsValid());
  const auto before = Current();
  const QString product = E("ProdStrEdit")->text();
  Type("ProdStrEdit", "");
  EXPECT_TRUE(Leave("MfgStrEdit").empty());
  EXPECT_EQ(E("ProdStrEdit")->text(), product);
  Type("MfgStrEdit", "x");
  EXPECT_EQ(Texts(Leave()), std::vector<QString>{kStoreFailed});
  EXPECT_EQ(Current(), before);
  ExpectEmptyAndReadOnly({"MfgStrEdit", "ProdStrEdit", "SNStrEdit"});
}

TEST_F(StringPageTest, SerialNumberTypedUnderOneLanguageShowsUnderAll) {
  const auto example = MakeExampleD4();
  OpenBytes(Bytes(*example));
  Select(1);
  Type("SNStrEdit", "SN-0042");
  EXPECT_TRUE(Leave().empty());
  EXPECT_EQ(W<QComboBox>("LangIDBox")->currentIndex(), 1); // the refresh keeps the selection
  Select(0);
  EXPECT_EQ(E("SNStrEdit")->text(), "SN-0042");
  EXPECT_EQ(E("SNLenEdit")->text(), "10");
  EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kSerialNumber), Descriptor(u"SN-0042"));
  EXPECT_EQ(StoredDescriptor(Image(), kGerman, TEEImage::kSerialNumber), Descriptor(u"SN-0042"));
  // The other strings of both languages are untouched.
  for (const TExampleString& string : ExampleD4Strings()) {
    if (string.kind == TEEImage::kSerialNumber)
      continue;
    EXPECT_EQ(StoredDescriptor(Image(), string.langid, string.kind),
              StoredDescriptor(*example, string.langid, string.kind));
  }
}

TEST_F(StringPageTest, OtherKindsOfImageShowNoStrings) {
  OpenExample();
  OpenBytes(HeaderImage(0xD3, {{20, 0x01}, {21, 0x01}}));
  ExpectEmptyAndReadOnly({"MfgStrEdit", "SNStrEdit", "IF1StrEdit"});
}

} // namespace
