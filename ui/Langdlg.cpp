#include "Langdlg.h"

#include "KeyFilter.h"
#include "ui_Langdlg.h"

TLangWndw::TLangWndw(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::LangWndw>()),
      FForceHex(new TKeyFilter(TKeyFilter::TMode::Hex, false, this)) {
  ui->setupUi(this);
  // A fixed frame without title-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(239, 238);
  ui->LangIDEdit->installEventFilter(FForceHex);
  ui->CancelBtn->setAutoDefault(false);
  ui->OKBtn->setDefault(true);
}

TLangWndw::~TLangWndw() = default;
