#pragma once

#include <QApplication>
#include <QString>

// The application object. It names the desktop entry its windows belong to, draws tall frames in
// strips (TStripStyle), and its notify override is the exception display: an exception that
// escapes an event handler is shown in a modal error box captioned with the application title,
// and the event loop goes on.
class TKorvaneApp : public QApplication {
  Q_OBJECT
public:
  TKorvaneApp(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The exception display's text: a full stop is appended when the last character's code is above
  // that of the full stop.
  static QString ExceptionText(const QString& message);
  static void ShowException(const QString& message);
  // Shows the exception being handled as the display does; for a handler that must go on.
  static void ShowCurrentException();
  // "Out of memory", then the application is asked to end.
  static void OutOfMemory(const QString& message);

  // The desktop entry's name, which is also its icon's in the theme.
  static constexpr const char* kDesktopId = "org.korvane.Korvane";

private:
  bool FIconAsked = false;
};
