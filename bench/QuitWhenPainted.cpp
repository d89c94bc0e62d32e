#include "QuitWhenPainted.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

namespace {

class TPaintWatch : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The window paints before its children; the queued quit runs once the whole frame is done.
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return false;
  }
};

} // namespace

void QuitWhenPainted(QWidget& window) {
  window.installEventFilter(new TPaintWatch(&window));
}
