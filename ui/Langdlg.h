#pragma once

#include <QDialog>

#include <memory>

class TKeyFilter;

namespace Ui {
class LangWndw;
}

// "Select Languages": the list of LANGIDs of a 0xD4 image, edited and handed back on OK.
class TLangWndw : public QDialog {
  Q_OBJECT
public:
  explicit TLangWndw(QWidget* parent = nullptr);
  ~TLangWndw() override;

private:
  std::unique_ptr<Ui::LangWndw> ui;
  TKeyFilter* FForceHex;
};
