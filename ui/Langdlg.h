#pragma once

#include <QDialog>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <span>

class TKeyFilter;

namespace Ui {
class LangWndw;
}

// "Select Languages": the list of LANGIDs of a 0xD4 image, edited and handed back on OK. It keeps
// nothing of its own beyond its controls: each opening starts from the image.
class TLangWndw : public QDialog {
  Q_OBJECT
public:
  explicit TLangWndw(QWidget* parent = nullptr);
  ~TLangWndw() override;

  // Lists the LANGIDs in table order ("0x" and four upper-case digits) and empties the edit.
  void Fill(std::span<const uint16_t> langids);
  // The list's items in list order; added ones keep their letters as typed.
  QStringList Items() const;

public slots:
  void AddBtnClick();
  void RemBtnClick();

private:
  std::unique_ptr<Ui::LangWndw> ui;
  TKeyFilter* FForceHex;
};
