#include "ByteCellDelegate.h"

#include "ByteGrid.h"
#include "KeyFilter.h"
#include "UiError.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

const char* const TByteCellDelegate::kIncompleteMessage =
    "Invalid input value.  Use escape key to abandon changes";

namespace {
const char* const kClosing = "korvaneClosing";
}

TByteCellDelegate::TByteCellDelegate(TByteGrid& grid)
    : QStyledItemDelegate(&grid), FGrid(grid),
      FHexFilter(new TKeyFilter(TKeyFilter::TMode::Hex, false, this)) {}

QWidget* TByteCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                         const QModelIndex& index) const {
  auto* editor = new QLineEdit(parent);
  editor->setFrame(false);
  if (FGrid.IsMasked(index.row()))
    editor->setInputMask(QStringLiteral(">nN; "));
  else
    editor->setMaxLength(2);
  editor->installEventFilter(FHexFilter);
  return editor;
}

// A masked value is taken as shown, its blank included: the mask's text() would drop the blank
// and turn " 5" into a valid "5", where a value with a blank in it must fail conversion.
void TByteCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
  auto* edit = qobject_cast<QLineEdit*>(editor);
  if (edit != nullptr && !edit->inputMask().isEmpty())
    model->setData(index, edit->displayText(), Qt::EditRole);
  else
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool TByteCellDelegate::Complete(const QLineEdit& editor) {
  return editor.inputMask().isEmpty() || editor.hasAcceptableInput();
}

void TByteCellDelegate::Refuse(QLineEdit& editor) {
  QApplication::beep();
  editor.setFocus();
  throw TUiError(kIncompleteMessage);
}

void TByteCellDelegate::Finish(QLineEdit& editor, bool keep) {
  editor.setProperty(kClosing, true);
  if (keep)
    emit commitData(&editor);
  emit closeEditor(&editor, keep ? NoHint : RevertModelCache);
}

void TByteCellDelegate::Commit(QLineEdit& editor) {
  if (!Complete(editor))
    Refuse(editor);
  Finish(editor, true);
}

bool TByteCellDelegate::eventFilter(QObject* watched, QEvent* event) {
  auto* editor = qobject_cast<QLineEdit*>(watched);
  if (editor == nullptr)
    return QStyledItemDelegate::eventFilter(watched, event);

  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Delete:
      if (!(key->modifiers() & Qt::ControlModifier))
        return false;
      Finish(*editor, false);
      FGrid.RemoveCurrentRow();
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!Complete(*editor))
        Refuse(*editor);
      Finish(*editor, true);
      FGrid.edit(FGrid.currentIndex()); // the cell stays current, so its editor shows again
      return true;
    case Qt::Key_Escape:
      Finish(*editor, false);
      FGrid.edit(FGrid.currentIndex());
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      Commit(*editor);
      FGrid.LeaveGrid(key->key() == Qt::Key_Tab);
      return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (!Complete(*editor))
        Refuse(*editor);
      return false;
    default:
      return false;
    }
  }

  if (event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    // A message box or a popup taking the focus is no exit: the editor stays as it is.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
      return false;
    if (editor->property(kClosing).toBool())
      return false;
    QWidget* now = QApplication::focusWidget();
    if (now == editor || (now != nullptr && editor->isAncestorOf(now)))
      return false;
    Commit(*editor);
    FGrid.FocusWentTo(now);
    return false;
  }
  return QStyledItemDelegate::eventFilter(watched, event);
}
