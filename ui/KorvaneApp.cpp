#include "KorvaneApp.h"

#include "Messages.h"

#include <QMessageBox>

#include <exception>
#include <new>

TKorvaneApp::TKorvaneApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("korvane"));
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
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
  }
  return false;
}
