#include "UpperCase.h"

#include <QLineEdit>

void TUpperCase::Apply(QLineEdit& edit) {
  QObject::connect(&edit, &QLineEdit::textEdited, &edit, [&edit](const QString& text) {
    // Character by character, so that the text keeps its length and the cursor its place.
    QString upper = text;
    for (QChar& c : upper)
      c = c.toUpper();
    if (upper == text)
      return;
    const int cursor = edit.cursorPosition();
    edit.setText(upper); // the program's text: it clears the modified flag
    edit.setModified(true);
    edit.setCursorPosition(cursor);
  });
}
