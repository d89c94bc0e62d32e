#pragma once

#include <QStyledItemDelegate>

class QLineEdit;
class TByteGrid;
class TKeyFilter;

// The in-place editor of the raw data grid. A row filled from the image is edited through a
// two-position mask (upper case; the first position optional, the second required; a blank for
// an empty position). An incomplete value is refused on Enter and when the editor loses the
// focus; Escape abandons the edit; after either key the cell's editor opens again. Ctrl+Delete
// removes the row; Tab leaves the grid.
class TByteCellDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  explicit TByteCellDelegate(TByteGrid& grid);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

  // Keeps the editor's value as leaving the grid does; an incomplete one is refused (TUiError).
  void Commit(QLineEdit& editor);

  static const char* const kIncompleteMessage;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  static bool Complete(const QLineEdit& editor);
  [[noreturn]] static void Refuse(QLineEdit& editor);
  void Finish(QLineEdit& editor, bool keep);

  TByteGrid& FGrid;
  TKeyFilter* FHexFilter;
};
