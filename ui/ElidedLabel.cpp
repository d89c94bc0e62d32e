#include "ElidedLabel.h"

#include <QEvent>
#include <QResizeEvent>

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText); // a path may hold '<' or '&'
}

void TElidedLabel::SetFullText(const QString& text) {
  FFullText = text;
  setToolTip(text);
  Elide();
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void TElidedLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange)
    Elide();
}

void TElidedLabel::Elide() {
  setText(fontMetrics().elidedText(FFullText, Qt::ElideMiddle, contentsRect().width()));
}
