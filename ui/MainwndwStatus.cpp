// The strip between the file and the device buttons: how much of the EEPROM the current image
// fills, so the room left for strings and languages shows before a change is refused, and the
// hub that the last device command used.
#include "Eeimage.h"
#include "ElidedLabel.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"
#include "Trgtdev.h"

#include <QFile>

#include <algorithm>

void TMainWindow::ShowImageSize() {
  if (FImage == nullptr) {
    ui->SizeLbl->clear();
    ui->SizeBar->setValue(0);
    return;
  }
  // An image without a buffer (a file that could not be read) has length 0.
  const uint32_t length = std::min(FImage->GetLength(), TEEImage::kBufferSize);
  ui->SizeLbl->setText(QStringLiteral("%1 of %2 bytes").arg(length).arg(TEEImage::kBufferSize));
  ui->SizeBar->setValue(static_cast<int>(length));
}

// A command that found no hub used none, so the name of an earlier one would mislead.
void TMainWindow::ShowHub() {
  ui->HubLbl->SetFullText(FDevice == nullptr ? QString()
                                             : QFile::decodeName(FDevice->Path().c_str()));
}
