#include "KeyFilter.h"

#include <QCoreApplication>
#include <QKeyEvent>

TKeyFilter::TKeyFilter(TMode mode, bool upper, QObject* parent)
    : QObject(parent), FMode(mode), FUpper(upper) {}

bool TKeyFilter::Admits(QChar c) const {
  const char16_t u = c.unicode();
  if (u == 8)
    return true;
  if (FMode == TMode::Bin)
    return u == '0' || u == '1';
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

bool TKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress)
    return QObject::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const int code = key->key();
  // Enter and Esc produce control characters too, but a dialog needs them for its default and
  // cancel buttons; an edit ignores them, so they reach the dialog (the main window has no use).
  if (code == Qt::Key_Tab || code == Qt::Key_Backtab || code == Qt::Key_Backspace ||
      code == Qt::Key_Return || code == Qt::Key_Enter || code == Qt::Key_Escape)
    return false;
  // Ctrl+letter combinations produce control characters, so copy, paste and cut are discarded.
  if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
    return code != Qt::Key_Delete && code != Qt::Key_Left && code != Qt::Key_Right &&
           code != Qt::Key_Home && code != Qt::Key_End && code != Qt::Key_Up &&
           code != Qt::Key_Down;
  const QString text = key->text();
  if (text.isEmpty())
    return false; // no character: the key's own action is not filtered
  for (QChar c : text) {
    if (!Admits(c))
      return true;
  }
  if (FUpper && text != text.toUpper()) {
    QKeyEvent upper(key->type(), code, key->modifiers(), text.toUpper(), key->isAutoRepeat(),
                    static_cast<ushort>(key->count()));
    QCoreApplication::sendEvent(watched, &upper);
    return true;
  }
  return false;
}
