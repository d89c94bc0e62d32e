// The yardstick for the window's start: a minimal Qt Widgets program of the same shape (a main
// window with a tab widget, a line edit and a 512-row table), ended once it has painted.
#include "QuitWhenPainted.h"

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  auto* tabs = new QTabWidget(&window);
  auto* page = new QWidget(tabs);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLineEdit(page));
  auto* table = new QTableWidget(512, 2, page);
  for (int row = 0; row < 512; ++row) {
    table->setItem(row, 0, new QTableWidgetItem(QString::number(row, 16)));
    table->setItem(row, 1, new QTableWidgetItem(QStringLiteral("FF")));
  }
  layout->addWidget(table);
  tabs->addTab(page, QStringLiteral("Page"));
  window.setCentralWidget(tabs);
  window.resize(792, 566);
  window.show();
  QuitWhenPainted(window);
  return app.exec();
}
