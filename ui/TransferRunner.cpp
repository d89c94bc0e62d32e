#include "TransferRunner.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QThread>

#include <stdexcept>
#include <thread>

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonRelease:
  case QEvent::MouseButtonDblClick:
  case QEvent::MouseMove:
  case QEvent::NonClientAreaMouseButtonPress:
  case QEvent::NonClientAreaMouseButtonRelease:
  case QEvent::NonClientAreaMouseButtonDblClick:
  case QEvent::NonClientAreaMouseMove:
  case QEvent::Wheel:
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
  case QEvent::ShortcutOverride:
  case QEvent::Shortcut:
  case QEvent::InputMethod:
  case QEvent::ContextMenu:
  case QEvent::TouchBegin:
  case QEvent::TouchUpdate:
  case QEvent::TouchEnd:
  case QEvent::TouchCancel:
  case QEvent::TabletPress:
  case QEvent::TabletMove:
  case QEvent::TabletRelease:
  case QEvent::NativeGesture:
  case QEvent::DragEnter:
  case QEvent::DragMove:
  case QEvent::Drop:
    return true;
  default:
    return false;
  }
}

} // namespace

TTransferRunner::TTransferRunner(QObject* parent) : QObject(parent) {}

// Run does not return while its worker lives, so no worker can outlive the runner.
TTransferRunner::~TTransferRunner() {
  Block(false);
}

void TTransferRunner::Run(const std::function<void()>& work) {
  if (FRunning)
    throw std::logic_error("a device transfer is already running");
  FRunning = true;
  FDone = false;
  Block(true);
  std::exception_ptr failure;
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    FDone = true;
    dispatcher->wakeUp(); // the wait below may be asleep until the next event
  });
  // Not a nested QEventLoop: once the application has been asked to quit (out of memory), such
  // a loop would return at once and the transfer could no longer be waited for.
  while (!FDone)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  worker.join();
  Block(false);
  FRunning = false;
  if (failure)
    std::rethrow_exception(failure);
}

void TTransferRunner::OnWindowThread(const std::function<void()>& task) {
  if (QThread::currentThread() == thread()) {
    task();
    return;
  }
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      this,
      [this, &task, &failure] {
        const bool blocking = FBlocking;
        Block(false);
        try {
          task();
        } catch (...) {
          failure = std::current_exception();
        }
        Block(blocking);
      },
      Qt::BlockingQueuedConnection);
  if (failure)
    std::rethrow_exception(failure);
}

void TTransferRunner::Block(bool on) {
  if (on == FBlocking)
    return;
  FBlocking = on;
  if (on) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    QCoreApplication::instance()->installEventFilter(this);
  } else {
    QCoreApplication::instance()->removeEventFilter(this);
    QGuiApplication::restoreOverrideCursor();
  }
}

bool TTransferRunner::eventFilter(QObject* watched, QEvent* event) {
  if (FBlocking && IsUserInput(event->type()))
    return true;
  return QObject::eventFilter(watched, event);
}
