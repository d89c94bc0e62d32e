// The application object and the desktop entry the packages install name each other: the
// entry's file name is the application's desktop file name (Wayland's app id), its icon the
// theme icon the windows take, its StartupWMClass the class of the windows on X11.
#include "KorvaneApp.h"

#include <QFile>
#include <QGuiApplication>

#include <gtest/gtest.h>

TEST(Application, NamesTheDesktopEntryThePackagesInstall) {
  const QString id = QGuiApplication::desktopFileName();
  QFile entry(QStringLiteral(KORVANE_PACKAGING_DIR "/") + id + QStringLiteral(".desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly)) << qPrintable(entry.fileName());
  const QList<QByteArray> lines = entry.readAll().split('\n');
  EXPECT_TRUE(lines.contains("Icon=" + id.toUtf8()));
  // On X11 Qt's WM_CLASS names the application: the entry claims windows of that class.
  EXPECT_TRUE(lines.contains("StartupWMClass=" + QCoreApplication::applicationName().toUtf8()));
  EXPECT_EQ(id, QString::fromLatin1(TKorvaneApp::kDesktopId));
}
