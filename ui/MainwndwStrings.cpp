// The "String Descriptor" page: the descriptors of the selected LANGID, one group per string kind,
// each bString field stored back into the image when the focus leaves it, and the serial number
// generator, which stores through the same path.
#include "Eeimage.h"
#include "HexText.h"
#include "KeyFilter.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"
#include "Messages.h"
#include "SerialNumber.h"
#include "TextCodec.h"
#include "UpperCase.h"
#include "ui_StrDescPage.h"

#include <string>

namespace {

// bLength is one byte: 2 header bytes and at most 126 UTF-16 units.
constexpr int kMaxStringUnits = 126;
constexpr int kSerialDigits = 12;

const QString kStoreFailed =
    QStringLiteral("Couldn't modify string descriptor.\nThe string may be too long for available "
                   "EEPROM space.");

std::u16string_view Units(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

// The field shows text of the 8-bit set: what the set lacks becomes its default character, both
// when a descriptor is shown and when typed text is stored.
QString Through8Bit(std::u16string_view units) {
  return QString::fromStdU16String(TTextCodec::ThroughCp1252(units));
}

} // namespace

Ui::StrDescPage& TMainWindow::StringPage() {
  if (FStrPage != nullptr)
    return *FStrPage;
  FStrPage = std::make_unique<Ui::StrDescPage>();
  Ui::StrDescPage& page = *FStrPage;
  page.setupUi(ui->StrDescTab);
  FStringRows = {{
      {page.MfgLenEdit, page.MfgDescEdit, page.MfgStrEdit},
      {page.ProdLenEdit, page.ProdDescEdit, page.ProdStrEdit},
      {page.SNLenEdit, page.SNDescEdit, page.SNStrEdit},
      {page.FSCfgLenEdit, page.FSCfgDescEdit, page.FSCfgStrEdit},
      {page.HSCfgLenEdit, page.HSCfgDescEdit, page.HSCfgStrEdit},
      {page.IF0LenEdit, page.IF0DescEdit, page.IF0StrEdit},
      {page.IF1LenEdit, page.IF1DescEdit, page.IF1StrEdit},
  }};
  QList<QLineEdit*> fixed = {page.SNStrEdit};
  for (const TStringRow& row : FStringRows) {
    for (QLineEdit* edit : {row.Length, row.Type}) {
      edit->installEventFilter(FForceHex);
      TUpperCase::Apply(*edit);
      fixed << edit;
    }
    QLineEdit* field = row.Text;
    FExitHandlers[field] = [this, field] { UpdateStrDesc(field); };
    field->installEventFilter(this);
  }
  SetFixedFont(fixed);
  page.FontBtn->setEnabled(false);
  page.FontBtn->setVisible(false);
  page.GenerateSerialNoBtn->installEventFilter(this);
  connect(page.LangIDBox, &QComboBox::currentIndexChanged, this, &TMainWindow::LangIDBoxChange);
  connect(page.GenerateSerialNoBtn, &QPushButton::clicked, this, &TMainWindow::GenSNBtnClick);
  // The page's controls follow "Languages..." in the window's tab order, before the raw grid.
  TMainwndwUi::FollowInTabOrder(ui->LangBtn, page.LangIDBox, ui->StrDescTab);
  return page;
}

// The selected item of LangIDBox, read afresh each time; false when nothing is selected.
bool TMainWindow::CurrentLangID(uint16_t& langid) const {
  if (FStrPage == nullptr)
    return false;
  const QComboBox* box = FStrPage->LangIDBox;
  if (box->currentIndex() < 0)
    return false;
  langid = static_cast<uint16_t>(ConvertHex(box->currentText().mid(2)) & 0xFFFF);
  return true;
}

void TMainWindow::ShowStringDescriptors() {
  StringPage();
  FShownStrings.clear();
  uint16_t langid = 0;
  // Only a valid image is shown; the page never reads a string area that failed its check.
  const bool strings = FImage != nullptr && FImage->IsValid() && CurrentLangID(langid);
  const uint8_t mask = strings ? FImage->GetSupportedStrings() : 0;
  for (const TStringRow& row : FStringRows) {
    for (QLineEdit* edit : {row.Length, row.Type, row.Text}) {
      edit->clear();
      edit->setModified(false);
      edit->setReadOnly(true);
    }
    const auto kind = static_cast<uint8_t>(TagOf(row.Text));
    if ((mask & kind) == 0)
      continue;
    // bLength is one byte, so a buffer of 256 always holds the descriptor.
    uint8_t buffer[256] = {};
    buffer[0] = FImage->GetStringLength(langid, kind);
    if (buffer[0] == 0 || !FImage->GetStringDescriptor(langid, kind, buffer))
      continue;
    row.Length->setText(HexText(buffer[0], 2));
    row.Type->setText(HexText(buffer[1], 2));
    // An odd bLength drops its last byte.
    const int count = buffer[0] / 2 - 1;
    std::u16string units;
    for (int unit = 0; unit < count; ++unit)
      units.push_back(static_cast<char16_t>(buffer[2 + 2 * unit] | (buffer[3 + 2 * unit] << 8)));
    const QString text = Through8Bit(units);
    row.Text->setText(text);
    FShownStrings[row.Text] = text;
    row.Text->setReadOnly(false);
    row.Text->setCursorPosition(0);
    row.Text->deselect();
  }
}

void TMainWindow::LangIDBoxChange() {
  ShowStringDescriptors();
}

// Stores only a text that differs from what the field showed: merely passing through a string
// that the 8-bit set cannot hold, or one with an odd bLength, would otherwise rewrite it.
void TMainWindow::UpdateStrDesc(QLineEdit* field) {
  const QString typed = field->text();
  const auto shown = FShownStrings.find(field);
  if (shown != FShownStrings.end() && shown->second == typed)
    return;
  if (FImage == nullptr || !FImage->IsValid()) {
    // An invalid read leaves the page as it was: a changed text there cannot be stored, and
    // leaving it on screen would look like a success.
    if (!typed.isEmpty()) {
      ShowMessage(this, kStoreFailed);
      ShowStringDescriptors();
    }
    return;
  }
  const std::u16string units = TTextCodec::ThroughCp1252(Units(typed));
  if (units.empty())
    return; // an emptied field keeps the image's descriptor
  uint16_t langid = 0;
  // Without a current LANGID nothing is stored and nothing said, however long the text.
  if (CurrentLangID(langid)) {
    if (units.size() > static_cast<size_t>(kMaxStringUnits)) {
      ShowMessage(this, kStoreFailed);
    } else {
      uint8_t descriptor[256] = {};
      descriptor[0] = static_cast<uint8_t>(2 * units.size() + 2);
      descriptor[1] = 3;
      for (size_t unit = 0; unit < units.size(); ++unit) {
        descriptor[2 + 2 * unit] = static_cast<uint8_t>(units[unit] & 0xFF);
        descriptor[3 + 2 * unit] = static_cast<uint8_t>(units[unit] >> 8);
      }
      if (!FImage->SetStringDescriptor(langid, static_cast<uint8_t>(TagOf(field)), descriptor))
        ShowMessage(this, kStoreFailed);
    }
  }
  // The refresh shows the image as it now is, stored or not.
  RefreshByteList();
  RefreshFields();
}

void TMainWindow::GenSNBtnClick() {
  // The text goes into the field even while it is read-only; the store decides what stays.
  QLineEdit* field = StringPage().SNStrEdit;
  field->setText(QString::fromStdString(TSerialNumber::MakeSerialNumber(kSerialDigits)));
  UpdateStrDesc(field);
}
