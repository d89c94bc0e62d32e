#pragma once

#include "ui_DevSetPage.h"
#include "ui_Mainwndw.h"

#include <QWidget>

// The window's controls, from two forms: the window's own and its "Device Settings" page. The page
// is a form of its own so that its controls are made inside the window, where they take the
// window's font once; a page of the window's form would be made apart and then moved in, which
// resolves the font of each of its 150 controls again.
struct TMainwndwUi : Ui::MainWindow, Ui::DevSetPage {
  void setupUi(QWidget* window);

  // Puts the controls of page that take focus, from first on in the page form's own order, right
  // after previous in the window's tab order. A page filled after the window's form would
  // otherwise come last.
  static void FollowInTabOrder(QWidget* previous, QWidget* first, const QWidget* page);
};
