#include "Messages.h"

#include <QMessageBox>

const QString kAppTitle = QStringLiteral("Korvane Configuration Utility");

void ShowMessage(QWidget* parent, const QString& text, const QString& details) {
  QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, parent);
  if (!details.isEmpty())
    box.setDetailedText(details);
  box.exec();
}

bool AskConfirm(QWidget* parent, const QString& question, TDefaultAnswer answer) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(answer == TDefaultAnswer::Yes ? QMessageBox::Yes : QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}
