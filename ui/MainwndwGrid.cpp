// The raw data grid's side of the main window: filling it from the image, reading it back when
// the focus leaves it, and rewriting the header rows after a field edit.
#include "ByteGrid.h"
#include "Eeimage.h"
#include "HexText.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"
#include "Messages.h"
#include "UiError.h"

#include <vector>

namespace {
// The configuration header's length for a signature byte; 0 for an unknown one.
int HeaderLength(uint8_t signature) {
  switch (signature) {
  case 0xD0:
    return 7;
  case 0xD2:
    return 13;
  case 0xD3:
  case 0xD4:
    return 24;
  default:
    return 0;
  }
}
} // namespace

// Every change of the image's length or layout rebuilds the grid, so the size shown follows here.
void TMainWindow::RefreshByteList() {
  TByteGrid& grid = *ui->ByteList;
  grid.RemoveAllRows();
  ShowImageSize();
  if (!ImageUsable())
    return;
  const uint32_t length = FImage->GetLength();
  for (uint32_t address = 0; address < length; ++address)
    grid.AppendRow(TByteGrid::KeyText(address),
                   HexText(FImage->GetByte(static_cast<int32_t>(address)), 2), true);
}

void TMainWindow::ResetChangeMarks() {
  std::vector<uint8_t> bytes;
  if (ImageUsable()) {
    const uint32_t length = FImage->GetLength();
    for (uint32_t address = 0; address < length; ++address)
      bytes.push_back(FImage->GetByte(static_cast<int32_t>(address)));
  }
  ui->ByteList->SetBaseline(std::move(bytes));
}

void TMainWindow::UpdateByteList() {
  if (!ImageUsable() || FUpdatingGrid)
    return;
  const uint32_t length = FImage->GetLength();
  std::vector<uint8_t> block(length, 0);
  const TByteGrid& grid = *ui->ByteList;
  for (uint32_t address = 0; address < length; ++address) {
    const int row = grid.FindRow(TByteGrid::KeyText(address));
    const QString text = row < 0 ? QString() : grid.ValueAt(row);
    uint32_t value = 0;
    try {
      value = ConvertHex(text);
    } catch (const TUiError&) {
      // A value the user can correct takes the focus back to the grid. A deleted row cannot be
      // put back from the grid, and holding the focus there would leave no way out of it.
      if (row >= 0)
        ui->ByteList->setFocus(Qt::OtherFocusReason);
      throw;
    }
    block[address] = static_cast<uint8_t>(value & 0xFF);
  }
  auto image = std::make_unique<TEEImage>(block.data(), static_cast<int32_t>(length));
  FUpdatingGrid = true;
  if (image->IsValid())
    FImage = std::move(image);
  else
    ShowMessage(this, QStringLiteral("Configuration data entered is invalid"));
  RefreshByteList();
  RefreshFields();
  FUpdatingGrid = false;
}

void TMainWindow::RefreshHeaderRows() {
  if (!ImageUsable())
    return;
  TByteGrid& grid = *ui->ByteList;
  const int length = HeaderLength(FImage->GetByte(0));
  for (int offset = 0; offset < length; ++offset) {
    const QString key = TByteGrid::KeyText(static_cast<uint32_t>(offset));
    const QString value = HexText(FImage->GetByte(offset), 2);
    const int row = grid.FindRow(key);
    if (row < 0)
      grid.AppendRow(key, value, false);
    else
      grid.SetValue(row, value);
  }
}
