#pragma once

#include <QLabel>
#include <QString>

// A one-line label for a text that may be longer than the label is wide, such as a file path: it
// leaves out the middle ("…") so both ends stay readable, and shows the whole text as its tooltip.
class TElidedLabel : public QLabel {
  Q_OBJECT
public:
  explicit TElidedLabel(QWidget* parent = nullptr);

  void SetFullText(const QString& text);
  const QString& FullText() const { return FFullText; }

protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void Elide();

  QString FFullText;
};
