// Storing edits of the header fields: each exit handler converts its edit's text, stores the
// bytes, rewrites the grid's header rows and shows the field again from the image.
#include "Eeimage.h"
#include "HexText.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"
#include "UiError.h"

namespace {
QString BitValueMessage(const QString& text) {
  return QStringLiteral("'%1' is not a valid bit value").arg(text);
}
} // namespace

void TMainWindow::UpdateWord(QLineEdit* edit, int offset) {
  if (!ImageUsable())
    return;
  if (edit->isModified()) {
    const uint32_t value = ConvertHex(edit->text());
    FImage->SetByte(offset, static_cast<uint8_t>(value & 0xFF));
    FImage->SetByte(offset + 1, static_cast<uint8_t>((value >> 8) & 0xFF));
    RefreshHeaderRows();
  }
  edit->setText(HexText(FImage->GetByte(offset + 1), 2) + HexText(FImage->GetByte(offset), 2));
}

void TMainWindow::UpdateByte(QLineEdit* edit, int offset) {
  if (!ImageUsable())
    return;
  if (edit->isModified()) {
    const uint32_t value = ConvertHex(edit->text());
    FImage->SetByte(offset, static_cast<uint8_t>(value & 0xFF));
    RefreshHeaderRows();
  }
  ShowByte(edit, offset);
}

// Converts the eight edits from bit 7 down to bit 0; false when none of them was typed into.
// A digit other than 0 or 1 (it can only be pasted) is refused as no bit; text that is not a
// hexadecimal digit fails the conversion like any field's.
bool TMainWindow::ReadBits(const std::array<QLineEdit*, 8>& edits, uint8_t& value) const {
  bool modified = false;
  for (const QLineEdit* edit : edits)
    modified = modified || edit->isModified();
  if (!modified)
    return false;
  value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    const uint32_t digit = ConvertHex(edits[bit]->text());
    if (digit > 1)
      throw TUiError(BitValueMessage(edits[bit]->text()).toStdString());
    value = static_cast<uint8_t>(value | (digit << bit));
  }
  return true;
}

void TMainWindow::UpdateVID() {
  UpdateWord(ui->VIDEdit, 1);
}
void TMainWindow::UpdatePID() {
  UpdateWord(ui->PIDEdit, 3);
}
void TMainWindow::UpdateDID() {
  UpdateByte(ui->DevRevEdit, 6);
}
void TMainWindow::UpdateMaxPowerFS() {
  UpdateByte(ui->MaxPwrFSEdit, TagOf(ui->MaxPwrFSEdit));
}
void TMainWindow::UpdateMaxPowerHS() {
  UpdateByte(ui->MaxPwrHSEdit, 9);
}
void TMainWindow::UpdateInternalControl() {
  UpdateByte(ui->ResIntCtlEdit, 10);
}
void TMainWindow::UpdateExternalControl() {
  UpdateByte(ui->ResExtCtlEdit, 11);
}
void TMainWindow::UpdateCtlrPwrFSBP() {
  UpdateByte(ui->CtlrPwrFSBPEdit, TagOf(ui->CtlrPwrFSBPEdit));
}
void TMainWindow::UpdateCtlrPwrHSBP() {
  UpdateByte(ui->CtlrPwrHSBPEdit, 13);
}
void TMainWindow::UpdateCtlrPwrFSSP() {
  UpdateByte(ui->CtlrPwrFSSPEdit, 14);
}
void TMainWindow::UpdateCtlrPwrHSSP() {
  UpdateByte(ui->CtlrPwrHSSPEdit, 15);
}
void TMainWindow::UpdatePowerOnTime() {
  UpdateByte(ui->PwrOnTimeEdit, TagOf(ui->PwrOnTimeEdit));
}
void TMainWindow::UpdateSPI() {
  UpdateByte(ui->WriteProtectEdit, 19);
}

// Only a 0xD3 image leaves the number of languages open to typing; it has no string area to keep
// right, so offset 20 is stored like any other header byte. Elsewhere the field is shown again.
void TMainWindow::UpdateNumLangs() {
  if (!ImageUsable())
    return;
  if (FImage->GetByte(0) == 0xD3) {
    UpdateByte(ui->NumLangsEdit, 20);
    return;
  }
  ShowByte(ui->NumLangsEdit, 20);
}

void TMainWindow::UpdateOCTimers() {
  if (!ImageUsable())
    return;
  if (ui->EnPortEdit->isModified() || ui->DisPortEdit->isModified()) {
    const uint32_t enabled = ConvertHex(ui->EnPortEdit->text());
    const uint32_t disabled = ConvertHex(ui->DisPortEdit->text());
    FImage->SetByte(7, static_cast<uint8_t>((enabled * 16 + disabled) & 0xFF));
    RefreshHeaderRows();
  }
  ShowOCTimers();
}

void TMainWindow::UpdateConfigBits1() {
  if (!ImageUsable())
    return;
  const int offset = TagOf(ui->CfgBits1Grp);
  uint8_t value = 0;
  if (ReadBits(FCfgBits1, value)) {
    FImage->SetByte(offset, value);
    RefreshHeaderRows();
  }
  ShowConfigBits1();
}

void TMainWindow::UpdateConfigBits2() {
  if (!ImageUsable())
    return;
  uint8_t value = 0;
  if (ReadBits(FCfgBits2, value)) {
    FImage->SetByte(18, value);
    RefreshHeaderRows();
  }
  ShowConfigBits2();
}

// In a 0xD2 image both port groups share byte 8: active ports 3-0 in the high nibble, removable
// ports 3-0 in the low one; each group keeps the other's nibble.
void TMainWindow::UpdateActivePorts() {
  if (!ImageUsable())
    return;
  const int offset = TagOf(ui->ActPortGrp);
  uint8_t value = 0;
  if (ReadBits(FActPorts, value)) {
    if (offset == 8)
      value = static_cast<uint8_t>(((value & 0x0F) << 4) + (FImage->GetByte(8) & 0x0F));
    FImage->SetByte(offset, value);
    RefreshHeaderRows();
  }
  ShowActivePorts();
}

void TMainWindow::UpdateRemovablePorts() {
  if (!ImageUsable())
    return;
  const int offset = TagOf(ui->RemPortGrp);
  uint8_t value = 0;
  if (ReadBits(FRemPorts, value)) {
    if (offset == 8)
      value = static_cast<uint8_t>((FImage->GetByte(8) & 0xF0) + (value & 0x0F));
    FImage->SetByte(offset, value);
    RefreshHeaderRows();
  }
  ShowRemovablePorts();
}

// The mask shapes a 0xD4 image's string area, so it changes only through SetSupportedStrings,
// which adds and removes descriptors; its result is not examined: the page then shows what the
// image holds. A 0xD3 image has no string area: its offset 21 is stored like any header byte.
void TMainWindow::UpdateSupportedStrings() {
  if (!ImageUsable())
    return;
  uint8_t value = 0;
  if (ReadBits(FSupportedStrings, value)) {
    if (FImage->GetByte(0) == 0xD3) {
      FImage->SetByte(21, value);
      RefreshHeaderRows();
    } else {
      FImage->SetSupportedStrings(value);
      RefreshByteList();
      ShowLanguages();
    }
  }
  ShowSupportedStrings();
}
