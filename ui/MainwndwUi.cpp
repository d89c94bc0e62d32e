#include "MainwndwUi.h"

#include <QList>

void TMainwndwUi::setupUi(QWidget* window) {
  Ui::MainWindow::setupUi(window);
  Ui::DevSetPage::setupUi(DevSetTab);
  // The page's controls come between the tabs and the raw grid.
  FollowInTabOrder(MainPageCtl, SigEdit, DevSetTab);
}

void TMainwndwUi::FollowInTabOrder(QWidget* previous, QWidget* first, const QWidget* page) {
  QList<QWidget*> order;
  for (QWidget* next = first; page->isAncestorOf(next); next = next->nextInFocusChain())
    if (next->focusPolicy() != Qt::NoFocus)
      order << next;
  for (QWidget* next : order) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  }
}
