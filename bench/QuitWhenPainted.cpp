#include "QuitWhenPainted.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>

namespace {

class TPaintWatch : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The window paints before its children; the quit, posted now, runs once the whole frame is
    // done and before anything the program posts after it.
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
    return false;
  }
};

} // namespace

void QuitWhenPainted(QWidget& window) {
  window.installEventFilter(new TPaintWatch(&window));
}
