// The per-signature layouts of the "Device Settings" page: which fields are enabled, read-only
// or disabled, the captions that change with the kind, the offsets (Tags) of the six relocatable
// fields, and the visibility of the "String Descriptor" tab and the "Languages..." button.
#include "HeaderMap.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"

#include <QGroupBox>

namespace {

enum class TState : uint8_t { Keep, Enabled, ReadOnly, Disabled };
enum class TGroupState : uint8_t { Off, On };

constexpr int kD0 = static_cast<int>(THeaderKind::D0);

struct TPairRule {
  const char* edit; // the label is the edit's name with "Edit" replaced by "Lbl"
  TState state[kHeaderKindCount];
  bool caption[kHeaderKindCount]; // the kind's caption from the header map is set on the label
  bool tag[kHeaderKindCount];     // the kind's offset from the header map becomes the edit's Tag
};

constexpr auto E = TState::Enabled;
constexpr auto R = TState::ReadOnly;
constexpr auto D = TState::Disabled;

// clang-format off
constexpr TPairRule kPairs[] = {
  {"MaxPwrFSEdit",     {D, E, E, E}, {false, true, true, true},   {false, true, true, true}},
  {"MaxPwrHSEdit",     {D, D, E, E}, {},                          {}},
  {"ResIntCtlEdit",    {D, D, E, R}, {false, false, true, true},  {}},
  {"ResExtCtlEdit",    {D, D, E, R}, {false, false, true, true},  {}},
  {"CtlrPwrFSBPEdit",  {D, E, E, E}, {false, true, true, true},   {false, true, true, true}},
  {"CtlrPwrHSBPEdit",  {D, D, E, E}, {},                          {}},
  {"CtlrPwrFSSPEdit",  {D, D, E, E}, {},                          {}},
  {"CtlrPwrHSSPEdit",  {D, D, E, E}, {},                          {}},
  {"PwrOnTimeEdit",    {D, E, E, E}, {},                          {false, true, true, true}},
  {"WriteProtectEdit", {D, D, E, E}, {false, false, true, true},  {}},
  {"NumLangsEdit",     {D, D, E, R}, {},                          {}},
};
// clang-format on

const THeaderField* FieldShownBy(std::string_view control) {
  for (const THeaderField& field : HeaderFields()) {
    if (field.control == control)
      return &field;
  }
  return nullptr;
}

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void TMainWindow::ApplyLayout(int kind) {
  const bool strings = kind == static_cast<int>(THeaderKind::D4);
  // The active page is set before the tab is hidden, so a hidden tab is never the active one.
  if (!strings)
    ui->MainPageCtl->setCurrentWidget(ui->DevSetTab);
  ui->MainPageCtl->setTabVisible(ui->MainPageCtl->indexOf(ui->StrDescTab), strings);

  for (const TPairRule& rule : kPairs) {
    auto* edit = findChild<QLineEdit*>(QLatin1String(rule.edit));
    QString labelName = QLatin1String(rule.edit);
    labelName.replace(QLatin1String("Edit"), QLatin1String("Lbl"));
    auto* label = findChild<QLabel*>(labelName);
    const TState state = rule.state[kind];
    const bool enabled = state != TState::Disabled;
    label->setEnabled(enabled);
    edit->setEnabled(enabled);
    edit->setReadOnly(state != TState::Enabled);
    const THeaderField* field = FieldShownBy(rule.edit);
    if (field == nullptr)
      continue;
    if (rule.caption[kind])
      label->setText(Text(field->caption[kind]));
    if (rule.tag[kind])
      edit->setProperty("Tag", static_cast<int>(field->place[kind].offset));
  }

  ui->LangBtn->setVisible(strings);

  struct TGroupRule {
    QGroupBox* group;
    TGroupState state[kHeaderKindCount];
    bool tag;
  };
  constexpr auto Off = TGroupState::Off;
  constexpr auto On = TGroupState::On;
  const TGroupRule groups[] = {
      {ui->OCTimersGrp, {Off, On, On, On}, false},
      {ui->CfgBits1Grp, {Off, On, On, On}, true},
      {ui->CfgBits2Grp, {Off, Off, On, On}, false},
      {ui->SupportedStringsGrp, {Off, Off, On, On}, false},
      {ui->ActPortGrp, {Off, On, On, On}, true},
      {ui->RemPortGrp, {Off, On, On, On}, true},
  };
  for (const TGroupRule& rule : groups) {
    const bool on = rule.state[kind] == TGroupState::On;
    QGroupBox* group = rule.group;
    group->setEnabled(on);
    // The caption colour: styles draw the title with Text or WindowText. The disabled colours stay
    // the platform's, which the group passes on to the disabled labels inside it.
    QPalette palette = group->palette();
    const QPalette system;
    const QColor caption = on ? system.color(QPalette::Active, QPalette::WindowText)
                              : system.color(QPalette::Disabled, QPalette::Text);
    for (const QPalette::ColorGroup state : {QPalette::Active, QPalette::Inactive})
      for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
        palette.setColor(state, role, caption);
    group->setPalette(palette);
    for (QWidget* child : group->findChildren<QWidget*>())
      child->setEnabled(on);
    if (rule.tag && kind != kD0) {
      const THeaderGroup* place = FindHeaderGroup(group->objectName().toStdString());
      if (place != nullptr)
        group->setProperty("Tag", static_cast<int>(place->place[kind]));
    }
    // The exceptions of each group follow the group itself.
    if (group == ui->CfgBits1Grp && on) {
      ui->CB1Res3Edit->setEnabled(false);
      ui->CB1Res0Edit->setEnabled(false);
    } else if (group == ui->SupportedStringsGrp && kind != kD0) {
      ui->StrResEdit->setEnabled(false);
    } else if ((group == ui->ActPortGrp || group == ui->RemPortGrp) && on) {
      const bool shared = kind == static_cast<int>(THeaderKind::D2);
      const auto& ports = group == ui->ActPortGrp ? FActPorts : FRemPorts;
      if (shared)
        (group == ui->ActPortGrp ? ui->ActPort47Lbl : ui->RemPort47Lbl)->setEnabled(false);
      for (int port = 4; port < 8; ++port) {
        ports[port]->setEnabled(!shared);
        ports[port]->setReadOnly(shared);
      }
    }
  }
}

void TMainWindow::LayoutD0() {
  ApplyLayout(static_cast<int>(THeaderKind::D0));
}
void TMainWindow::LayoutD2() {
  ApplyLayout(static_cast<int>(THeaderKind::D2));
}
void TMainWindow::LayoutD3() {
  ApplyLayout(static_cast<int>(THeaderKind::D3));
}
void TMainWindow::LayoutD4() {
  ApplyLayout(static_cast<int>(THeaderKind::D4));
}
