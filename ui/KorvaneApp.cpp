#include "KorvaneApp.h"

#include "Messages.h"
#include "StripStyle.h"

#include <QIcon>
#include <QMessageBox>

#include <exception>
#include <new>

TKorvaneApp::TKorvaneApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("korvane"));
  // Wayland's app id, by which the panel and the task switcher find the entry's name and icon.
  setDesktopFileName(QString::fromLatin1(kDesktopId));
  TStripStyle::Install();
}

QString TKorvaneApp::ExceptionText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.')
    return message + QLatin1Char('.');
  return message;
}

void TKorvaneApp::ShowException(const QString& message) {
  QMessageBox box(QMessageBox::Critical, kAppTitle, ExceptionText(message), QMessageBox::Ok,
                  activeWindow());
  box.exec();
}

void TKorvaneApp::OutOfMemory(const QString& message) {
  ShowMessage(activeWindow(), message);
  QCoreApplication::quit();
}

void TKorvaneApp::ShowCurrentException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    OutOfMemory(QStringLiteral("Out of memory"));
  } catch (const std::exception& error) {
    ShowException(QString::fromUtf8(error.what()));
  } catch (...) {
    ShowException(QString());
  }
}

bool TKorvaneApp::notify(QObject* receiver, QEvent* event) {
  try {
    const bool handled = QApplication::notify(receiver, event);
    if (!FIconAsked && event->type() == QEvent::Expose) {
      // The windows' icon (X11 shows it; Wayland takes the entry's). Finding it searches every
      // folder of the icon theme, some milliseconds: only once the first window has painted its
      // first frame, which the expose just did.
      FIconAsked = true;
      QMetaObject::invokeMethod(
          this, [this] { setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kDesktopId))); },
          Qt::QueuedConnection);
    }
    return handled;
  } catch (...) {
    ShowCurrentException();
  }
  return false;
}
