// The "Select Languages" dialog through the "Languages..." button: filling from the image, the
// rules of Add and Remove, and what OK and Cancel do to the image.
#include "Eeimage.h"
#include "ExampleImages.h"
#include "Langdlg.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

// What the test does inside the open dialog, with its controls at hand.
class TDialogHand {
public:
  explicit TDialogHand(QWidget* dialog) : FDialog(dialog) {}
  QLineEdit* Edit() const { return FDialog->findChild<QLineEdit*>("LangIDEdit"); }
  QListWidget* List() const { return FDialog->findChild<QListWidget*>("EnLangList"); }
  QPushButton* Button(const char* name) const { return FDialog->findChild<QPushButton*>(name); }
  void Press(const char* button) const { QTest::mouseClick(Button(button), Qt::LeftButton); }
  void Add(const QString& typed) const {
    QTest::keyClicks(Edit(), typed);
    Press("AddBtn");
  }
  void Remove(const QString& item) const {
    const auto found = List()->findItems(item, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << item.toStdString();
    List()->setCurrentItem(found.front());
    Press("RemBtn");
  }
  QStringList Items() const { return static_cast<TLangWndw*>(FDialog)->Items(); }

private:
  QWidget* FDialog;
};

class LanguageDialogTest : public TWindowTest {
protected:
  // Opens the dialog, runs `steps` in it and closes it with `closer` ("OKBtn" or "CancelBtn").
  std::vector<TSeenBox> Languages(const std::function<void(const TDialogHand&)>& steps,
                                  const char* closer = "OKBtn") {
    return Click("LangBtn", {[&](QWidget* dialog) {
                   EXPECT_EQ(dialog->windowTitle(), "Select Languages");
                   const TDialogHand hand(dialog);
                   steps(hand);
                   hand.Press(closer);
                 }});
  }
  QStringList Shown() const {
    QStringList items;
    const auto* box = W<QComboBox>("LangIDBox");
    for (int i = 0; i < box->count(); ++i)
      items.append(box->itemText(i));
    return items;
  }
  std::vector<uint16_t> Langids() const {
    std::vector<uint16_t> langids(Image().GetLanguageCount());
    EXPECT_TRUE(Image().GetLanguages(langids.data(), static_cast<uint8_t>(langids.size())));
    return langids;
  }
};

// Cancel drops every edit: the image stays and the next opening starts from it again. Deleting
// an item must not select its neighbour, or a second Remove would delete one never chosen.
TEST_F(LanguageDialogTest, OpensWithTheImagesListAndCancelDropsTheEdits) {
  OpenExample();
  const auto before = Bytes(Image());
  const QStringList start{"0x0409", "0x0407"};
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    Languages(
        [&](const TDialogHand& hand) {
          EXPECT_EQ(hand.Items(), start);
          EXPECT_TRUE(hand.Edit()->text().isEmpty());
          for (const char* name : {"OKBtn", "CancelBtn"})
            EXPECT_FALSE(hand.Button(name)->icon().isNull()) << name;
          hand.Add("040c");
          hand.Remove("0x0409");
          hand.Press("RemBtn");
          EXPECT_EQ(hand.Items(), (QStringList{"0x0407", "0x040c"}));
          hand.Remove("0x0407");
          QTest::keyClicks(hand.Edit(), "12");
        },
        "CancelBtn");
    EXPECT_EQ(Bytes(Image()), before);
    EXPECT_EQ(Shown(), start);
  }
  OpenBytes(StringImage({}, 0, {}));
  Languages([&](const TDialogHand& hand) { EXPECT_TRUE(hand.Items().isEmpty()); }, "CancelBtn");
}

TEST_F(LanguageDialogTest, AddTakesFourDigitsOnceIgnoringCase) {
  OpenExample();
  struct TStep {
    QString typed;
    QStringList items; // the list afterwards
    QString edit;      // the edit afterwards
  };
  const QStringList start{"0x0409", "0x0407"};
  const std::vector<TStep> steps = {
      {"040c", start + QStringList{"0x040c"}, ""},
      {"040C", start + QStringList{"0x040c"}, ""}, // a duplicate: not added, edit emptied
      {"0409", start + QStringList{"0x040c"}, ""},
      {"409", start + QStringList{"0x040c"}, "409"}, // incomplete: stays for the user
      {"z", start + QStringList{"0x040c"}, "409"},   // the key filter discards it
      {"A", start + QStringList{"0x040c", "0x409A"}, ""},
      {"", start + QStringList{"0x040c", "0x409A"}, ""},
      {"0000", start + QStringList{"0x040c", "0x409A", "0x0000"}, ""},
  };
  Languages(
      [&](const TDialogHand& hand) {
        for (const TStep& step : steps) {
          SCOPED_TRACE(step.typed.toStdString());
          hand.Add(step.typed);
          EXPECT_EQ(hand.Items(), step.items);
          EXPECT_EQ(hand.Edit()->text(), step.edit);
        }
        // Text put in without typing (the edit's context menu) is not a LANGID.
        hand.Edit()->setText("12");
        hand.Edit()->insert("zz");
        hand.Press("AddBtn");
        EXPECT_EQ(hand.Items().size(), 5);
        // Remove with nothing selected does nothing.
        hand.List()->clearSelection();
        hand.Press("RemBtn");
        EXPECT_EQ(hand.Items().size(), 5);
      },
      "CancelBtn");
}

TEST_F(LanguageDialogTest, AddedLanguageGetsPlaceholdersAndSharesTheSerialNumber) {
  OpenExample();
  const auto example = MakeExampleD4();
  const uint32_t before = Image().GetLength();
  EXPECT_EQ(Languages([](const TDialogHand& hand) { hand.Add("040c"); }).size(), 1U); // no message
  EXPECT_EQ(Langids(), (std::vector<uint16_t>{kEnglish, kGerman, kFrench}));
  EXPECT_EQ(Shown(), (QStringList{"0x0409", "0x0407", "0x040C"}));
  EXPECT_EQ(E("NumLangsEdit")->text(), "03");
  // 2 bytes per table row (7 rows and the LANGID table) and a placeholder for six kinds.
  EXPECT_EQ(Image().GetLength(), before + 2 * 8 + 6 * 4);
  W<QComboBox>("LangIDBox")->setCurrentIndex(2);
  EXPECT_EQ(E("MfgStrEdit")->text(), " ");
  EXPECT_EQ(E("MfgLenEdit")->text(), "04");
  EXPECT_EQ(E("SNStrEdit")->text(), "KV-D4-0001");
  for (const TExampleString& string : ExampleD4Strings())
    EXPECT_EQ(StoredDescriptor(Image(), string.langid, string.kind),
              StoredDescriptor(*example, string.langid, string.kind));
}

TEST_F(LanguageDialogTest, RemovedLanguageTakesItsStringsAlong) {
  OpenExample();
  const auto example = MakeExampleD4();
  W<QComboBox>("LangIDBox")->setCurrentIndex(1);
  Languages([](const TDialogHand& hand) { hand.Remove("0x0409"); });
  EXPECT_EQ(Langids(), (std::vector<uint16_t>{kGerman}));
  EXPECT_EQ(Shown(), (QStringList{"0x0407"}));
  EXPECT_EQ(W<QComboBox>("LangIDBox")->currentIndex(), 0);
  EXPECT_TRUE(Image().IsValid());
  // German keeps its strings, and the shared serial number stays.
  for (const TExampleString& string : ExampleD4Strings()) {
    if (string.langid != kGerman && string.kind != TEEImage::kSerialNumber)
      continue;
    EXPECT_EQ(StoredDescriptor(Image(), kGerman, string.kind),
              StoredDescriptor(*example, string.langid, string.kind));
  }
  EXPECT_TRUE(StoredDescriptor(Image(), kEnglish, TEEImage::kManufacturer).empty());
  EXPECT_EQ(E("ProdStrEdit")->text(), QString::fromUtf8("Beispielgerät"));
}

TEST_F(LanguageDialogTest, EmptyListLeavesNoLanguagesAndNoStrings) {
  OpenExample();
  Languages([](const TDialogHand& hand) {
    hand.Remove("0x0409");
    hand.Remove("0x0407");
  });
  EXPECT_EQ(Image().GetLanguageCount(), 0);
  EXPECT_EQ(Image().GetSupportedStrings(), 0);
  EXPECT_EQ(Image().GetLength(), 24U);
  EXPECT_EQ(W<QComboBox>("LangIDBox")->count(), 0);
  EXPECT_EQ(E("NumLangsEdit")->text(), "00");
  EXPECT_EQ(E("MfgEdit")->text(), "0");
  EXPECT_EQ(E("SerNumEdit")->text(), "0");
  EXPECT_TRUE(E("MfgStrEdit")->text().isEmpty());
  EXPECT_TRUE(E("MfgStrEdit")->isReadOnly());
  EXPECT_EQ(EepromBytes().size(), 512U); // nothing went to the hub
}

// The list's order matters only for new LANGIDs: a language removed and added again keeps its
// place and its strings.
TEST_F(LanguageDialogTest, RemovedAndAddedAgainKeepsPlaceAndStrings) {
  OpenExample();
  const auto before = Bytes(Image());
  Languages([](const TDialogHand& hand) {
    hand.Remove("0x0409");
    hand.Add("0409");
    EXPECT_EQ(hand.Items(), (QStringList{"0x0407", "0x0409"}));
  });
  EXPECT_EQ(Bytes(Image()), before);
  EXPECT_EQ(Shown(), (QStringList{"0x0409", "0x0407"}));
}

// Enter presses the focused button, and elsewhere (the edit, the list) the default button OK;
// Esc always cancels. Before the key the user removed 0x0409, typed 040c without adding it and
// selected 0x0407.
TEST_F(LanguageDialogTest, EnterPressesTheFocusedButtonOrOKAndEscCancels) {
  enum class TOutcome { Applied, Cancelled, Open };
  struct TCase {
    const char* focus;
    Qt::Key key;
    TOutcome outcome;
    QStringList items; // the list afterwards, while the dialog is open
  };
  const QStringList left{"0x0407"};
  const TCase cases[] = {
      {"CancelBtn", Qt::Key_Return, TOutcome::Cancelled, {}},
      {"CancelBtn", Qt::Key_Enter, TOutcome::Cancelled, {}},
      {"OKBtn", Qt::Key_Return, TOutcome::Applied, {}},
      {"AddBtn", Qt::Key_Return, TOutcome::Open, {"0x0407", "0x040c"}},
      {"RemBtn", Qt::Key_Return, TOutcome::Open, {}},
      {"LangIDEdit", Qt::Key_Return, TOutcome::Applied, {}},
      {"EnLangList", Qt::Key_Return, TOutcome::Applied, {}},
      {"CancelBtn", Qt::Key_Escape, TOutcome::Cancelled, {}},
      {"OKBtn", Qt::Key_Escape, TOutcome::Cancelled, {}},
      {"AddBtn", Qt::Key_Escape, TOutcome::Cancelled, {}},
      {"LangIDEdit", Qt::Key_Escape, TOutcome::Cancelled, {}},
      {"EnLangList", Qt::Key_Escape, TOutcome::Cancelled, {}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(std::string(test.focus) + " " + QTest::toString(test.key));
    OpenExample();
    const auto before = Bytes(Image());
    bool closed = false;
    Click("LangBtn", {[&](QWidget* dialog) {
            const TDialogHand hand(dialog);
            // Which button takes Enter follows the focus, and focus needs the active window.
            QApplication::setActiveWindow(dialog);
            ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
            hand.Remove("0x0409");
            QTest::keyClicks(hand.Edit(), "040c");
            hand.List()->setCurrentRow(0);
            auto* target = dialog->findChild<QWidget*>(test.focus);
            target->setFocus(Qt::TabFocusReason);
            QTest::keyClick(target, test.key);
            closed = !dialog->isVisible();
            if (!closed) {
              EXPECT_EQ(hand.Items(), test.items);
              hand.Press("CancelBtn");
            }
          }});
    EXPECT_EQ(closed, test.outcome != TOutcome::Open);
    if (test.outcome == TOutcome::Applied)
      EXPECT_EQ(Langids(), (std::vector<uint16_t>{kGerman}));
    else
      EXPECT_EQ(Bytes(Image()), before);
  }
}

// The count is one byte: a longer list must be refused whole, never stored with a wrapped count
// (256 would read as none, 257 as one).
TEST_F(LanguageDialogTest, MoreThan255LanguagesAreRefused) {
  OpenExample();
  const auto before = Bytes(Image());
  for (const int total : {256, 257}) {
    SCOPED_TRACE(total);
    const auto boxes = Languages([total](const TDialogHand& hand) {
      for (int langid = 0x1000; hand.Items().size() < total; ++langid)
        hand.Add(QString::number(langid, 16));
    });
    ASSERT_EQ(boxes.size(), 2U);
    EXPECT_EQ(boxes[1].text, "Too many languages: no more than 255 LANGIDs can be stored.");
    EXPECT_EQ(Bytes(Image()), before);
  }
  // 255 items are handed to the image, which has no room for them: no message, no change.
  const auto boxes = Languages([](const TDialogHand& hand) {
    for (int langid = 0x1000; hand.Items().size() < 255; ++langid)
      hand.Add(QString::number(langid, 16));
  });
  EXPECT_EQ(boxes.size(), 1U);
  EXPECT_EQ(Bytes(Image()), before);
  EXPECT_EQ(Shown(), (QStringList{"0x0409", "0x0407"}));
}

} // namespace
