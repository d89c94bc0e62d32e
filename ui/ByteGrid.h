#pragma once

#include <QTableWidget>

#include <cstdint>
#include <optional>
#include <vector>

class TByteCellDelegate;
class TKeyFilter;

// The raw data grid: a fixed key column of addresses and an editable column of byte values, one
// row per image byte. It holds text only; the window reads it back when the focus leaves it.
class TByteGrid : public QTableWidget {
  Q_OBJECT
public:
  explicit TByteGrid(QWidget* parent = nullptr);
  ~TByteGrid() override;

  // The key of an address: upper-case hexadecimal, at least two digits.
  static QString KeyText(uint32_t address);

  void RemoveAllRows();
  // `masked`: the value is edited through the two-digit mask (rows filled from the image).
  void AppendRow(const QString& key, const QString& value, bool masked);
  int FindRow(const QString& key) const; // -1 when no row has that key
  QString ValueAt(int row) const;
  void SetValue(int row, const QString& value);
  bool IsMasked(int row) const;

  // The bytes that changes are marked against (the image as last read or saved). A row whose
  // value is another byte, or whose address lies beyond them, shows its value in bold on a
  // background tinted from the palette; the marks follow every value the grid is given or takes.
  void SetBaseline(std::vector<uint8_t> bytes);
  bool IsMarked(int row) const;

  void RemoveCurrentRow();
  // Moves the focus on to the next (or previous) control of the window.
  void LeaveGrid(bool forward);
  // The focus has gone from the grid or its editor to `now`: a grid exit unless `now` lies inside.
  void FocusWentTo(QWidget* now);
  // The grid's exit while it keeps the focus (the window is closing): the open editor's value is
  // kept, or refused, and the grid is left.
  void RunExit();

signals:
  void Left(); // the focus moved to another control of the window

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void updateGeometries() override;
  void changeEvent(QEvent* event) override;

private:
  void MarkRow(int row);
  void MarkAllRows();

  TByteCellDelegate* FDelegate;
  TKeyFilter* FHexFilter;
  bool FHasFocus = false; // a refused exit elsewhere can take back a focus the grid never got
  std::optional<std::vector<uint8_t>> FBaseline;
};
