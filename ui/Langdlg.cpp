#include "Langdlg.h"

#include "HexText.h"
#include "KeyFilter.h"
#include "ui_Langdlg.h"

#include <QStyle>

TLangWndw::TLangWndw(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::LangWndw>()),
      FForceHex(new TKeyFilter(TKeyFilter::TMode::Hex, false, this)) {
  ui->setupUi(this);
  // A fixed frame without title-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(239, 238);
  ui->LangIDEdit->installEventFilter(FForceHex);
  ui->EnLangList->setSelectionMode(QAbstractItemView::SingleSelection);
  ui->OKBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton, nullptr, this));
  ui->CancelBtn->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton, nullptr, this));
  // Every button takes Enter while it has the focus (a dialog's buttons are auto-default); with the
  // focus elsewhere Enter presses OK.
  ui->OKBtn->setDefault(true);
  connect(ui->AddBtn, &QPushButton::clicked, this, &TLangWndw::AddBtnClick);
  connect(ui->RemBtn, &QPushButton::clicked, this, &TLangWndw::RemBtnClick);
}

TLangWndw::~TLangWndw() = default;

void TLangWndw::Fill(std::span<const uint16_t> langids) {
  ui->EnLangList->clear();
  for (const uint16_t langid : langids)
    ui->EnLangList->addItem(QStringLiteral("0x") + HexText(langid, 4));
  // setText, unlike clear(), also forgets that the edit was typed into.
  ui->LangIDEdit->setText(QString());
}

QStringList TLangWndw::Items() const {
  QStringList items;
  for (int row = 0; row < ui->EnLangList->count(); ++row)
    items.append(ui->EnLangList->item(row)->text());
  return items;
}

void TLangWndw::AddBtnClick() {
  QLineEdit* edit = ui->LangIDEdit;
  if (!edit->isModified())
    return;
  const QString text = edit->text();
  // The key filter admits only digits, but the edit's context menu can still paste anything: such
  // text is left for the user to correct, like an incomplete one.
  if (text.size() != 4)
    return;
  for (const QChar c : text) {
    if (!FForceHex->Admits(c) || c.unicode() == 8)
      return;
  }
  const QString item = QStringLiteral("0x") + text;
  // MatchFixedString ignores letter case: 0x040C and 0x040c are one LANGID.
  if (ui->EnLangList->findItems(item, Qt::MatchFixedString).isEmpty())
    ui->EnLangList->addItem(item);
  edit->setText(QString());
}

void TLangWndw::RemBtnClick() {
  qDeleteAll(ui->EnLangList->selectedItems());
  // The list moves the current item to the neighbour and selects it; a second Remove must not
  // delete an item the user never chose.
  ui->EnLangList->clearSelection();
  ui->EnLangList->setCurrentRow(-1);
}
