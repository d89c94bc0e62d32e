#pragma once

#include <QString>

class QWidget;

// The application's title: the main window's caption and the caption of its message boxes.
extern const QString kAppTitle;

// A modal message box: the application title, the text, no icon, an OK button.
// `details`, when not empty, goes into the box's detailed text (the system's reason for a failure).
void ShowMessage(QWidget* parent, const QString& text, const QString& details = QString());

// The button that Enter presses in a question. A question whose Yes destroys something defaults
// to No, so that Enter cannot do the damage.
enum class TDefaultAnswer { Yes, No };

// A modal question captioned "Confirm" with a question icon and the buttons Yes and No. True
// only for Yes; closing the box by any other means (Esc included) counts as No.
bool AskConfirm(QWidget* parent, const QString& question,
                TDefaultAnswer answer = TDefaultAnswer::Yes);
