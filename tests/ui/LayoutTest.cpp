// The per-signature layouts of the "Device Settings" page, and grabs of the page for each kind.
#include "ExampleImages.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace {

class LayoutTest : public TWindowTest {
protected:
  QString Caption(const char* label) const { return W<QLabel>(label)->text(); }
  int Tag(const char* control) const { return W<QWidget>(control)->property("Tag").toInt(); }
  // Enabled, read-only or disabled, as the page shows a field.
  std::string State(const char* edit) const {
    QLineEdit* widget = E(edit);
    if (!widget->isEnabled())
      return widget->isReadOnly() ? "disabled" : "disabled but typable";
    return widget->isReadOnly() ? "read-only" : "enabled";
  }
  QTabWidget* Pages() const { return W<QTabWidget>("MainPageCtl"); }
  bool StringTabShown() const { return Pages()->isTabVisible(1); }
};

TEST_F(LayoutTest, FieldStatesPerKind) {
  struct TRow {
    const char* edit;
    const char* states[4]; // 0xD0, 0xD2, 0xD3, 0xD4
  };
  const TRow rows[] = {
      {"MaxPwrFSEdit", {"disabled", "enabled", "enabled", "enabled"}},
      {"MaxPwrHSEdit", {"disabled", "disabled", "enabled", "enabled"}},
      {"ResIntCtlEdit", {"disabled", "disabled", "enabled", "read-only"}},
      {"ResExtCtlEdit", {"disabled", "disabled", "enabled", "read-only"}},
      {"CtlrPwrFSBPEdit", {"disabled", "enabled", "enabled", "enabled"}},
      {"CtlrPwrHSSPEdit", {"disabled", "disabled", "enabled", "enabled"}},
      {"PwrOnTimeEdit", {"disabled", "enabled", "enabled", "enabled"}},
      {"WriteProtectEdit", {"disabled", "disabled", "enabled", "enabled"}},
      {"NumLangsEdit", {"disabled", "disabled", "enabled", "read-only"}},
      {"SigEdit", {"disabled", "disabled", "disabled", "disabled"}},
      {"VIDEdit", {"enabled", "enabled", "enabled", "enabled"}},
      {"EnPortEdit", {"disabled but typable", "enabled", "enabled", "enabled"}},
      {"CB1Res3Edit", {"disabled", "disabled", "disabled", "disabled"}},
      {"GangPwrdEdit", {"disabled but typable", "enabled", "enabled", "enabled"}},
      {"OCMode1Edit", {"disabled but typable", "disabled but typable", "enabled", "enabled"}},
      {"StrResEdit", {"disabled", "disabled", "disabled", "disabled"}},
      {"MfgEdit", {"disabled but typable", "disabled but typable", "enabled", "enabled"}},
      {"ActPort7Edit", {"disabled but typable", "disabled", "enabled", "enabled"}},
      {"ActPort3Edit", {"disabled but typable", "enabled", "enabled", "enabled"}},
      {"RemPort4Edit", {"disabled but typable", "disabled", "enabled", "enabled"}},
  };
  const uint8_t kinds[] = {0xD0, 0xD2, 0xD3, 0xD4};
  for (int kind = 0; kind < 4; ++kind) {
    OpenBytes(HeaderImage(kinds[kind], {}));
    for (const TRow& row : rows)
      EXPECT_EQ(State(row.edit), row.states[kind])
          << row.edit << " in 0x" << std::hex << int(kinds[kind]);
  }
}

TEST_F(LayoutTest, D2RelabelsAndRebindsAndD3RestoresTheFormsCaptionsAndTags) {
  OpenBytes(HeaderImage(0xD2, {}));
  EXPECT_EQ(Caption("MaxPwrFSLbl"), "Max Power");
  EXPECT_EQ(Caption("CtlrPwrFSBPLbl"), "Controller Power");
  EXPECT_EQ(Tag("MaxPwrFSEdit"), 9);
  EXPECT_EQ(Tag("CtlrPwrFSBPEdit"), 10);
  EXPECT_EQ(Tag("PwrOnTimeEdit"), 11);
  EXPECT_EQ(Tag("CfgBits1Grp"), 12);
  EXPECT_EQ(Tag("ActPortGrp"), 8);
  EXPECT_EQ(Tag("RemPortGrp"), 8);
  EXPECT_FALSE(W<QLabel>("ActPort47Lbl")->isEnabled());
  EXPECT_FALSE(W<QLabel>("RemPort47Lbl")->isEnabled());
  EXPECT_TRUE(W<QLabel>("ActPort03Lbl")->isEnabled());

  OpenBytes(HeaderImage(0xD3, {}));
  EXPECT_EQ(Caption("MaxPwrFSLbl"), "Max Power (FS)");
  EXPECT_EQ(Caption("CtlrPwrFSBPLbl"), "Controller Power (FS, BP)");
  EXPECT_EQ(Caption("ResIntCtlLbl"), "Internal Control");
  EXPECT_EQ(Caption("ResExtCtlLbl"), "External Control");
  EXPECT_EQ(Caption("WriteProtectLbl"), "SPI Test Mode");
  const std::pair<const char*, int> tags[] = {{"MaxPwrFSEdit", 8},   {"CtlrPwrFSBPEdit", 12},
                                              {"PwrOnTimeEdit", 16}, {"CfgBits1Grp", 17},
                                              {"ActPortGrp", 22},    {"RemPortGrp", 23}};
  for (const auto& [control, tag] : tags)
    EXPECT_EQ(Tag(control), tag) << control;
  EXPECT_TRUE(W<QLabel>("ActPort47Lbl")->isEnabled());

  // 0xD0 sets no caption: the disabled labels keep what 0xD3 gave them.
  OpenBytes(HeaderImage(0xD0, {}));
  EXPECT_EQ(Caption("ResIntCtlLbl"), "Internal Control");
  EXPECT_EQ(Caption("WriteProtectLbl"), "SPI Test Mode");
  EXPECT_EQ(Tag("MaxPwrFSEdit"), 8);

  OpenBytes(HeaderImage(0xD4, {}));
  EXPECT_EQ(Caption("CtlrPwrFSBPLbl"), "Controller Power (FS,BP)");
  EXPECT_EQ(Caption("ResIntCtlLbl"), "Reserved");
  EXPECT_EQ(Caption("WriteProtectLbl"), "Write Protect");
}

TEST_F(LayoutTest, StringTabAndLanguagesButtonOnlyFor0xD4) {
  OpenBytes(HeaderImage(0xD4, {}));
  EXPECT_TRUE(StringTabShown());
  EXPECT_TRUE(W<QPushButton>("LangBtn")->isVisible());
  // A 0xD4 image keeps the active page.
  Pages()->setCurrentIndex(1);
  OpenBytes(HeaderImage(0xD4, {{1, 1}}));
  EXPECT_EQ(Pages()->currentIndex(), 1);
  for (uint8_t kind : {0xD0, 0xD2, 0xD3}) {
    Pages()->setTabVisible(1, true);
    Pages()->setCurrentIndex(1);
    OpenBytes(HeaderImage(kind, {}));
    EXPECT_EQ(Pages()->currentWidget(), W<QWidget>("DevSetTab")) << int(kind);
    EXPECT_FALSE(StringTabShown()) << int(kind);
    EXPECT_FALSE(W<QPushButton>("LangBtn")->isVisible()) << int(kind);
  }
}

TEST_F(LayoutTest, GroupsAreSwitchedAsWholes) {
  OpenBytes(HeaderImage(0xD2, {}));
  const std::pair<const char*, bool> groups[] = {
      {"OCTimersGrp", true},          {"CfgBits1Grp", true}, {"CfgBits2Grp", false},
      {"SupportedStringsGrp", false}, {"ActPortGrp", true},  {"RemPortGrp", true}};
  for (const auto& [name, on] : groups) {
    auto* group = W<QGroupBox>(name);
    EXPECT_EQ(group->isEnabled(), on) << name;
    for (QLabel* label : group->findChildren<QLabel*>()) {
      if (label->objectName() != "ActPort47Lbl" && label->objectName() != "RemPort47Lbl") {
        EXPECT_EQ(label->isEnabled(), on) << label->objectName().toStdString();
      }
    }
  }
}

// Grabs of the "Device Settings" page for each kind, for a look that nothing is clipped; the
// test itself checks that every label and edit gets at least the room its text asks for.
TEST_F(LayoutTest, EveryFieldHasRoomForItsText) {
  const QString folder = qEnvironmentVariable("KORVANE_GRAB_DIR");
  const std::pair<const char*, std::unique_ptr<TEEImage>> kinds[] = {{"d0", MakeExampleD0()},
                                                                     {"d2", MakeExampleD2()},
                                                                     {"d3", MakeExampleD3()},
                                                                     {"d4", MakeExampleD4()}};
  for (const auto& [name, image] : kinds) {
    OpenBytes(Bytes(*image));
    for (QLabel* label : W<QWidget>("DevSetTab")->findChildren<QLabel*>()) {
      if (!label->isVisible())
        continue;
      EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
      EXPECT_GE(label->height(), label->fontMetrics().height())
          << label->objectName().toStdString();
    }
    for (QLineEdit* edit : W<QWidget>("DevSetTab")->findChildren<QLineEdit*>()) {
      const QString widest(edit->maxLength(), QLatin1Char('W'));
      EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(widest) + 4)
          << edit->objectName().toStdString();
      EXPECT_GE(edit->height(), edit->fontMetrics().height() + 2)
          << edit->objectName().toStdString();
    }
    const QRect page = W<QWidget>("DevSetTab")->rect();
    for (QGroupBox* group : W<QWidget>("DevSetTab")->findChildren<QGroupBox*>())
      EXPECT_TRUE(page.contains(group->geometry())) << group->objectName().toStdString();
    if (!folder.isEmpty()) {
      QDir().mkpath(folder);
      FWindow->grab().save(
          QDir(folder).filePath(QStringLiteral("device-settings-%1.png").arg(name)));
    }
  }
}

// A group's caption is grey when the group is off and in the window text colour when on; the
// labels inside keep the platform's own disabled colour (0xD2 disables the upper port rows).
TEST_F(LayoutTest, CaptionColoursAndDisabledLabels) {
  const QPalette system = QApplication::palette();
  const QColor grey = system.color(QPalette::Disabled, QPalette::Text);
  const QColor text = system.color(QPalette::Active, QPalette::WindowText);
  const char* const names[] = {"OCTimersGrp",         "CfgBits1Grp", "CfgBits2Grp",
                               "SupportedStringsGrp", "ActPortGrp",  "RemPortGrp"};
  for (uint8_t kind : {0xD0, 0xD2, 0xD3, 0xD4}) {
    OpenBytes(HeaderImage(kind, {}));
    for (const char* name : names) {
      const QGroupBox* group = W<QGroupBox>(name);
      const QPalette::ColorGroup state = group->isEnabled() ? QPalette::Active : QPalette::Disabled;
      const QColor expected = group->isEnabled() ? text : grey;
      EXPECT_EQ(group->palette().color(state, QPalette::Text), expected)
          << name << " in 0x" << std::hex << int(kind);
      EXPECT_EQ(group->palette().color(state, QPalette::WindowText), expected)
          << name << " in 0x" << std::hex << int(kind);
    }
    if (kind == 0xD2) {
      for (const char* label : {"ActPort47Lbl", "RemPort47Lbl"})
        EXPECT_EQ(W<QLabel>(label)->palette().color(QPalette::Disabled, QPalette::WindowText),
                  system.color(QPalette::Disabled, QPalette::WindowText))
            << label;
    }
  }
}

TEST_F(LayoutTest, FieldEditsUseAFixedPitchFont) {
  OpenExample(); // the string page's controls are made once an image is shown
  QList<QLineEdit*> edits = W<QWidget>("DevSetTab")->findChildren<QLineEdit*>();
  for (const char* name : {"MfgLenEdit", "MfgDescEdit", "IF1LenEdit", "IF1DescEdit", "SNStrEdit"})
    edits << E(name);
  ASSERT_GT(edits.size(), 60);
  for (const QLineEdit* edit : edits)
    EXPECT_TRUE(QFontInfo(edit->font()).fixedPitch()) << edit->objectName().toStdString();
}

} // namespace
