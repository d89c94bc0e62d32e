// Showing the image's header fields on the "Device Settings" page. Every value is read from the
// image; setting an edit's text clears its modified flag, which the exit handlers rely on.
#include "Eeimage.h"
#include "HexText.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"
#include "ui_StrDescPage.h"

#include <QSignalBlocker>

#include <algorithm>

namespace {
// The LANGID table starts behind the 24-byte header; no more entries than fit in the buffer.
constexpr int kLangTable = 24;
constexpr int kMaxLanguagesInBuffer = (TEEImage::kBufferSize - kLangTable) / 2;
} // namespace

void TMainWindow::ClearFields() {
  // setText, not clear(): clear() would leave the edit marked as typed into.
  for (QLineEdit* edit : HexEdits())
    edit->setText(QString());
  if (StringPageMade())
    for (const TStringRow& row : FStringRows)
      for (QLineEdit* edit : {row.Length, row.Type, row.Text})
        edit->setText(QString());
  FShownStrings.clear();
  for (const auto* group : {&FCfgBits1, &FCfgBits2, &FSupportedStrings, &FActPorts, &FRemPorts})
    for (QLineEdit* edit : *group)
      edit->setText(QString());
}

void TMainWindow::RefreshFields() {
  ClearFields();
  if (!ImageUsable())
    return;
  switch (FImage->GetByte(0)) {
  case 0xD0:
    LayoutD0();
    break;
  case 0xD2:
    LayoutD2();
    break;
  case 0xD3:
    LayoutD3();
    break;
  case 0xD4:
    LayoutD4();
    break;
  default:
    break; // no layout: the controls keep what the last one gave them
  }
  ShowByte(ui->SigEdit, 0);
  ShowVID();
  ShowPID();
  ShowByte(ui->ResRevEdit, 5);
  ShowByte(ui->DevRevEdit, 6);
  ShowByte(ui->MaxPwrFSEdit, TagOf(ui->MaxPwrFSEdit));
  ShowByte(ui->MaxPwrHSEdit, 9);
  ShowByte(ui->ResIntCtlEdit, 10);
  ShowByte(ui->ResExtCtlEdit, 11);
  ShowByte(ui->CtlrPwrFSBPEdit, TagOf(ui->CtlrPwrFSBPEdit));
  ShowByte(ui->CtlrPwrHSBPEdit, 13);
  ShowByte(ui->CtlrPwrFSSPEdit, 14);
  ShowByte(ui->CtlrPwrHSSPEdit, 15);
  ShowByte(ui->PwrOnTimeEdit, TagOf(ui->PwrOnTimeEdit));
  ShowByte(ui->WriteProtectEdit, 19);
  ShowOCTimers();
  ShowConfigBits1();
  ShowConfigBits2();
  ShowActivePorts();
  ShowRemovablePorts();
  ShowLanguages();
  ui->MainPageCtl->setEnabled(true);
  ui->ByteGrp->setEnabled(true);
}

void TMainWindow::ShowByte(QLineEdit* edit, int offset) {
  edit->setText(HexText(FImage->GetByte(offset), 2));
}

void TMainWindow::ShowVID() {
  ui->VIDEdit->setText(HexText(FImage->GetByte(2), 2) + HexText(FImage->GetByte(1), 2));
}

void TMainWindow::ShowPID() {
  ui->PIDEdit->setText(HexText(FImage->GetByte(4), 2) + HexText(FImage->GetByte(3), 2));
}

void TMainWindow::ShowOCTimers() {
  const uint8_t timers = FImage->GetByte(7);
  ui->EnPortEdit->setText(HexText(timers >> 4, 1));
  ui->DisPortEdit->setText(HexText(timers & 0x0F, 1));
}

void TMainWindow::ShowBits(const std::array<QLineEdit*, 8>& edits, uint8_t value) {
  for (int bit = 0; bit < 8; ++bit)
    edits[bit]->setText(((value >> bit) & 1) != 0 ? QStringLiteral("1") : QStringLiteral("0"));
}

void TMainWindow::ShowConfigBits1() {
  ShowBits(FCfgBits1, FImage->GetByte(TagOf(ui->CfgBits1Grp)));
}

void TMainWindow::ShowConfigBits2() {
  ShowBits(FCfgBits2, FImage->GetByte(18));
}

void TMainWindow::ShowActivePorts() {
  const int offset = TagOf(ui->ActPortGrp);
  const uint8_t value = FImage->GetByte(offset);
  ShowBits(FActPorts, offset == 8 ? static_cast<uint8_t>(value >> 4) : value);
}

void TMainWindow::ShowRemovablePorts() {
  const int offset = TagOf(ui->RemPortGrp);
  const uint8_t value = FImage->GetByte(offset);
  ShowBits(FRemPorts, offset == 8 ? static_cast<uint8_t>(value & 0x0F) : value);
}

void TMainWindow::ShowSupportedStrings() {
  ShowBits(FSupportedStrings, FImage->GetByte(21));
}

void TMainWindow::ShowLanguages() {
  const int count = FImage->GetLanguageCount();
  QComboBox* box = StringPage().LangIDBox;
  // Filling the list from the program is no user choice of a language.
  const QSignalBlocker quiet(box);
  if (count == 0) {
    box->clear();
    ui->NumLangsEdit->setText(QStringLiteral("00"));
    ShowSupportedStrings();
    ShowStringDescriptors();
    return;
  }
  // A count above what the buffer can hold (an image of another kind, or one that failed its
  // check) lists only the entries inside the buffer.
  const int listed = std::min(count, kMaxLanguagesInBuffer);
  int index = box->currentIndex();
  if (index < 0 || index >= listed)
    index = 0;
  box->clear();
  for (int entry = 0; entry < listed; ++entry) {
    const int at = kLangTable + 2 * entry;
    const uint32_t langid = FImage->GetByte(at) | (FImage->GetByte(at + 1) << 8);
    box->addItem(QStringLiteral("0x") + HexText(langid, 4));
  }
  box->setCurrentIndex(index);
  ui->NumLangsEdit->setText(HexText(static_cast<uint32_t>(count), 2));
  ShowSupportedStrings();
  ShowStringDescriptors();
}
