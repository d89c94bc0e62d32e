#include "ByteGrid.h"

#include "ByteCellDelegate.h"
#include "KeyFilter.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace {
constexpr int kMaskedRole = Qt::UserRole + 1;

bool IsHexDigit(QChar c) {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
         (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

// A value text that is no byte at all (empty, a blank in it) differs from every byte.
bool IsByte(const QString& text, uint8_t byte) {
  if (text.isEmpty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), IsHexDigit))
    return false;
  return text.toUInt(nullptr, 16) == byte;
}

// A third of the way from the cell's background towards the selection colour: light on a light
// palette, dark on a dark one, so the palette's text colour stays readable on it.
QColor MarkColor(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Base);
  const QColor tint = palette.color(QPalette::Highlight);
  const auto mix = [](int from, int to) { return (2 * from + to) / 3; };
  return QColor(mix(base.red(), tint.red()), mix(base.green(), tint.green()),
                mix(base.blue(), tint.blue()));
}
} // namespace

TByteGrid::TByteGrid(QWidget* parent)
    : QTableWidget(0, 2, parent), FDelegate(new TByteCellDelegate(*this)),
      FHexFilter(new TKeyFilter(TKeyFilter::TMode::Hex, false, this)) {
  setHorizontalHeaderLabels({QStringLiteral("Address "), QStringLiteral("Byte")});
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(18);
  verticalHeader()->setMinimumSectionSize(10);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  setColumnWidth(0, 50);
  setColumnWidth(1, 60);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setTabKeyNavigation(false);
  setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::AnyKeyPressed |
                  QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
  setItemDelegateForColumn(1, FDelegate);
  installEventFilter(FHexFilter);
  connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* changed) {
    if (changed->column() == 1)
      MarkRow(changed->row());
  });
}

TByteGrid::~TByteGrid() = default;

QString TByteGrid::KeyText(uint32_t address) {
  return QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper();
}

void TByteGrid::RemoveAllRows() {
  // Closing an editor that holds the focus must not count as leaving the grid.
  const QSignalBlocker quiet(this);
  setRowCount(0);
}

void TByteGrid::AppendRow(const QString& key, const QString& value, bool masked) {
  const QSignalBlocker quiet(this);
  const int row = rowCount();
  insertRow(row);
  auto* keyItem = new QTableWidgetItem(key);
  keyItem->setFlags(Qt::ItemIsEnabled);
  setItem(row, 0, keyItem);
  auto* valueItem = new QTableWidgetItem(value);
  valueItem->setData(kMaskedRole, masked);
  setItem(row, 1, valueItem);
  MarkRow(row);
}

int TByteGrid::FindRow(const QString& key) const {
  for (int row = 0; row < rowCount(); ++row) {
    const QTableWidgetItem* keyItem = item(row, 0);
    if (keyItem != nullptr && keyItem->text() == key)
      return row;
  }
  return -1;
}

QString TByteGrid::ValueAt(int row) const {
  const QTableWidgetItem* valueItem = item(row, 1);
  return valueItem == nullptr ? QString() : valueItem->text();
}

void TByteGrid::SetValue(int row, const QString& value) {
  if (QTableWidgetItem* valueItem = item(row, 1))
    valueItem->setText(value);
}

bool TByteGrid::IsMasked(int row) const {
  const QTableWidgetItem* valueItem = item(row, 1);
  return valueItem != nullptr && valueItem->data(kMaskedRole).toBool();
}

void TByteGrid::SetBaseline(std::vector<uint8_t> bytes) {
  FBaseline = std::move(bytes);
  MarkAllRows();
}

bool TByteGrid::IsMarked(int row) const {
  const QTableWidgetItem* keyItem = item(row, 0);
  const QTableWidgetItem* valueItem = item(row, 1);
  if (!FBaseline || keyItem == nullptr || valueItem == nullptr)
    return false;
  bool ok = false;
  const uint32_t address = keyItem->text().toUInt(&ok, 16);
  if (!ok)
    return false;
  return address >= FBaseline->size() || !IsByte(valueItem->text(), (*FBaseline)[address]);
}

void TByteGrid::MarkRow(int row) {
  QTableWidgetItem* valueItem = item(row, 1);
  if (valueItem == nullptr)
    return;
  // The marks are data of the item: setting them must not count as a changed value again.
  const QSignalBlocker quiet(this);
  if (IsMarked(row)) {
    QFont bold = font();
    bold.setBold(true);
    valueItem->setFont(bold);
    valueItem->setBackground(MarkColor(palette()));
  } else if (valueItem->data(Qt::FontRole).isValid()) {
    // Only an item that was marked: clearing a role it never had would still repaint the row.
    valueItem->setData(Qt::FontRole, QVariant());
    valueItem->setData(Qt::BackgroundRole, QVariant());
  }
}

void TByteGrid::MarkAllRows() {
  for (int row = 0; row < rowCount(); ++row)
    MarkRow(row);
}

void TByteGrid::changeEvent(QEvent* event) {
  QTableWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
    MarkAllRows();
}

void TByteGrid::RemoveCurrentRow() {
  const int row = currentRow();
  if (row < 0)
    return;
  const QSignalBlocker quiet(this);
  removeRow(row);
}

void TByteGrid::LeaveGrid(bool forward) {
  focusNextPrevChild(forward);
}

void TByteGrid::FocusWentTo(QWidget* now) {
  if (now == this || (now != nullptr && isAncestorOf(now)))
    return;
  emit Left();
}

void TByteGrid::RunExit() {
  if (auto* editor = qobject_cast<QLineEdit*>(indexWidget(currentIndex())))
    FDelegate->Commit(*editor);
  emit Left();
}

void TByteGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
    RemoveCurrentRow();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

void TByteGrid::focusInEvent(QFocusEvent* event) {
  FHasFocus = true;
  QTableWidget::focusInEvent(event);
}

void TByteGrid::focusOutEvent(QFocusEvent* event) {
  QTableWidget::focusOutEvent(event);
  const Qt::FocusReason reason = event->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
    return;
  if (!std::exchange(FHasFocus, false))
    return;
  FocusWentTo(QApplication::focusWidget());
}

void TByteGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableWidget::currentChanged(current, previous);
  // The key column cannot be current: the value beside it is.
  if (current.isValid() && current.column() == 0)
    setCurrentCell(current.row(), 1);
}

// The two columns are wider than the space beside the vertical scroll bar, so making a value cell
// current would scroll the addresses partly out of view; with no horizontal scroll bar they would
// stay so. The grid never scrolls sideways: the value column is clipped on the right instead.
void TByteGrid::updateGeometries() {
  QTableWidget::updateGeometries();
  horizontalScrollBar()->setRange(0, 0);
}
