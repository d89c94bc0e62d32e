#include "MainwndwUi.h"

#include <QList>

void TMainwndwUi::setupUi(QWidget* window) {
  Ui::MainWindow::setupUi(window);
  Ui::DevSetPage::setupUi(DevSetTab);
  // The page's controls, in the page form's own order, come between the tabs and the raw grid.
  QList<QWidget*> order;
  for (QWidget* next = SigEdit; DevSetTab->isAncestorOf(next); next = next->nextInFocusChain())
    if (next->focusPolicy() != Qt::NoFocus)
      order << next;
  QWidget* previous = MainPageCtl;
  for (QWidget* next : order) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  }
}
