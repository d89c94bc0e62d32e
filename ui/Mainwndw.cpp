#include "Mainwndw.h"

#include "ByteGrid.h"
#include "Eeimage.h"
#include "EepromCommands.h"
#include "FileLock.h"
#include "KeyFilter.h"
#include "KorvaneApp.h"
#include "MainwndwUi.h"
#include "Messages.h"
#include "TransferRunner.h"
#include "Trgtdev.h"
#include "UpperCase.h"
#include "ui_StrDescPage.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScopeGuard>

#include <cstring>
#include <exception>
#include <utility>

namespace {

// The file dialogs' filter. The combined entry lists both patterns, so it shows both kinds.
const QStringList kImageFilters = {
    QStringLiteral("I2C EEPROM Image (*.iic)"),
    QStringLiteral("Binary EEPROM Image (*.bin)"),
    QStringLiteral("Any EEPROM Image (*.iic *.bin)"),
    QStringLiteral("Any File (*)"),
};

QFileDialog* MakeFileDialog(QWidget* parent, const QString& name, QFileDialog::AcceptMode mode) {
  auto* dialog = new QFileDialog(parent);
  dialog->setObjectName(name);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setAcceptMode(mode);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  dialog->setNameFilters(kImageFilters);
  dialog->selectNameFilter(kImageFilters.front());
  return dialog;
}

// A dialog is built on its first use and kept, so that it remembers the chosen filter.
QFileDialog& DialogOnFirstUse(QFileDialog*& dialog, QWidget* parent, const QString& name,
                              QFileDialog::AcceptMode mode) {
  if (dialog == nullptr)
    dialog = MakeFileDialog(parent, name, mode);
  return *dialog;
}

// The folder both file dialogs start in, relative to the current folder.
QString ConfigFolder() {
  return QDir::current().absoluteFilePath(QStringLiteral("Config_Files"));
}

} // namespace

TMainWindow::TMainWindow(THubDriver& driver, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<TMainwndwUi>()), FDriver(driver),
      FForceHex(new TKeyFilter(TKeyFilter::TMode::Hex, true, this)),
      FForceBin(new TKeyFilter(TKeyFilter::TMode::Bin, false, this)),
      FTransfers(new TTransferRunner(this)), FTerminate([] { QCoreApplication::quit(); }) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(792, 566);

  FCfgBits1 = {ui->CB1Res0Edit, ui->SingleTTEdit, ui->GangPwrdEdit, ui->CB1Res3Edit,
               ui->NoIndicEdit, ui->FSOnlyEdit,   ui->CmpdDevEdit,  ui->IllegalDescEdit};
  FCfgBits2 = {ui->OCMode2Edit,  ui->OCMode1Edit, ui->OCPolEdit,       ui->PwrCtlPolEdit,
               ui->ModIndicEdit, ui->SelfPwrEdit, ui->GreenLEDPolEdit, ui->AmberLEDPolEdit};
  FSupportedStrings = {ui->MfgEdit,   ui->ProdEdit, ui->SerNumEdit, ui->CfgFSEdit,
                       ui->CfgHSEdit, ui->IF0Edit,  ui->IF1Edit,    ui->StrResEdit};
  FActPorts = {ui->ActPort0Edit, ui->ActPort1Edit, ui->ActPort2Edit, ui->ActPort3Edit,
               ui->ActPort4Edit, ui->ActPort5Edit, ui->ActPort6Edit, ui->ActPort7Edit};
  FRemPorts = {ui->RemPort0Edit, ui->RemPort1Edit, ui->RemPort2Edit, ui->RemPort3Edit,
               ui->RemPort4Edit, ui->RemPort5Edit, ui->RemPort6Edit, ui->RemPort7Edit};

  SetupFilters();
  SetupExitHandlers();
  SetFixedFont(ui->DevSetTab->findChildren<QLineEdit*>());

  connect(ui->FileReadBtn, &QPushButton::clicked, this, &TMainWindow::FileReadBtnClick);
  connect(ui->FileWriteBtn, &QPushButton::clicked, this, &TMainWindow::FileWriteBtnClick);
  connect(ui->DevReadBtn, &QPushButton::clicked, this, &TMainWindow::DevReadBtnClick);
  connect(ui->DevWriteBtn, &QPushButton::clicked, this, &TMainWindow::DevWriteBtnClick);
  connect(ui->InitDevBtn, &QPushButton::clicked, this, &TMainWindow::InitEEPROMBtnClick);
  connect(ui->LangBtn, &QPushButton::clicked, this, &TMainWindow::LangBtnClick);
  connect(ui->ByteList, &TByteGrid::Left, this, &TMainWindow::UpdateByteList);
}

TMainWindow::~TMainWindow() = default;

QList<QLineEdit*> TMainWindow::HexEdits() const {
  return {ui->SigEdit,         ui->VIDEdit,         ui->PIDEdit,          ui->ResRevEdit,
          ui->DevRevEdit,      ui->MaxPwrFSEdit,    ui->MaxPwrHSEdit,     ui->ResIntCtlEdit,
          ui->ResExtCtlEdit,   ui->CtlrPwrFSBPEdit, ui->CtlrPwrHSBPEdit,  ui->CtlrPwrFSSPEdit,
          ui->CtlrPwrHSSPEdit, ui->PwrOnTimeEdit,   ui->WriteProtectEdit, ui->NumLangsEdit,
          ui->EnPortEdit,      ui->DisPortEdit};
}

// Every edit of the page but the eight of "Supported Strings" shows letters in upper case; the
// key filter turns typed ones, TUpperCase pasted ones.
void TMainWindow::SetupFilters() {
  for (QLineEdit* edit : HexEdits()) {
    edit->installEventFilter(FForceHex);
    TUpperCase::Apply(*edit);
  }
  for (const auto* group : {&FCfgBits1, &FCfgBits2, &FSupportedStrings, &FActPorts, &FRemPorts})
    for (QLineEdit* edit : *group) {
      edit->installEventFilter(FForceBin);
      if (group != &FSupportedStrings)
        TUpperCase::Apply(*edit);
    }
}

// The header fields, the descriptor length and type fields and the serial number are shown in the
// platform's fixed-pitch font (a family name such as "Monospace" exists only on some systems).
void TMainWindow::SetFixedFont(const QList<QLineEdit*>& edits) {
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  for (QLineEdit* edit : edits) {
    QFont font = fixed;
    font.setPointSizeF(edit->font().pointSizeF());
    edit->setFont(font);
  }
}

void TMainWindow::SetupExitHandlers() {
  const std::pair<QLineEdit*, void (TMainWindow::*)()> singles[] = {
      {ui->VIDEdit, &TMainWindow::UpdateVID},
      {ui->PIDEdit, &TMainWindow::UpdatePID},
      {ui->DevRevEdit, &TMainWindow::UpdateDID},
      {ui->MaxPwrFSEdit, &TMainWindow::UpdateMaxPowerFS},
      {ui->MaxPwrHSEdit, &TMainWindow::UpdateMaxPowerHS},
      {ui->ResIntCtlEdit, &TMainWindow::UpdateInternalControl},
      {ui->ResExtCtlEdit, &TMainWindow::UpdateExternalControl},
      {ui->CtlrPwrFSBPEdit, &TMainWindow::UpdateCtlrPwrFSBP},
      {ui->CtlrPwrHSBPEdit, &TMainWindow::UpdateCtlrPwrHSBP},
      {ui->CtlrPwrFSSPEdit, &TMainWindow::UpdateCtlrPwrFSSP},
      {ui->CtlrPwrHSSPEdit, &TMainWindow::UpdateCtlrPwrHSSP},
      {ui->PwrOnTimeEdit, &TMainWindow::UpdatePowerOnTime},
      {ui->WriteProtectEdit, &TMainWindow::UpdateSPI},
      {ui->NumLangsEdit, &TMainWindow::UpdateNumLangs},
      {ui->EnPortEdit, &TMainWindow::UpdateOCTimers},
      {ui->DisPortEdit, &TMainWindow::UpdateOCTimers},
  };
  for (const auto& [edit, handler] : singles)
    FExitHandlers[edit] = [this, handler = handler] { (this->*handler)(); };
  const std::pair<const std::array<QLineEdit*, 8>*, void (TMainWindow::*)()> groups[] = {
      {&FCfgBits1, &TMainWindow::UpdateConfigBits1},
      {&FCfgBits2, &TMainWindow::UpdateConfigBits2},
      {&FActPorts, &TMainWindow::UpdateActivePorts},
      {&FRemPorts, &TMainWindow::UpdateRemovablePorts},
      {&FSupportedStrings, &TMainWindow::UpdateSupportedStrings},
  };
  for (const auto& [edits, handler] : groups)
    for (QLineEdit* edit : *edits)
      FExitHandlers[edit] = [this, handler = handler] { (this->*handler)(); };
  for (const auto& entry : FExitHandlers)
    entry.first->installEventFilter(this);
  for (QPushButton* button : {ui->FileReadBtn, ui->FileWriteBtn, ui->DevReadBtn, ui->DevWriteBtn,
                              ui->InitDevBtn, ui->LangBtn})
    button->installEventFilter(this);
}

// Exit handlers run when the focus moves to another control of this window; a message box
// opening, another window or a drop-down list taking the focus is no exit.
// Only an edit that had the focus is left: when a refused exit hands the focus back, the control
// it was going to never got it, and its FocusOut is no exit.
bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    FFocusedEdit = watched;
  } else if (event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
        std::exchange(FFocusedEdit, nullptr) == watched) {
      const auto handler = FExitHandlers.find(watched);
      if (handler != FExitHandlers.end()) {
        try {
          handler->second();
        } catch (...) {
          // The edit keeps the focus, so a button whose click moved it does not act (below).
          static_cast<QWidget*>(watched)->setFocus(Qt::OtherFocusReason);
          throw;
        }
      }
    }
  } else if (event->type() == QEvent::MouseButtonPress && event->spontaneous()) {
    // A click gives the button the focus before the press reaches it, which runs the exit handler
    // of the control that had it. If that handler refused and took the focus back (a field, a
    // grid value), the command must not run on an image without the refused edit.
    const auto* button = qobject_cast<QPushButton*>(watched);
    if (button != nullptr && (button->focusPolicy() & Qt::ClickFocus) != 0 &&
        focusWidget() != button)
      return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TMainWindow::RunFocusedExit() {
  QWidget* focused = focusWidget();
  if (focused == nullptr)
    return;
  if (focused == ui->ByteList || ui->ByteList->isAncestorOf(focused)) {
    ui->ByteList->RunExit();
    return;
  }
  const auto handler = FExitHandlers.find(focused);
  if (handler != FExitHandlers.end())
    handler->second();
}

int TMainWindow::TagOf(const QWidget* control) {
  return control->property("Tag").toInt();
}

void TMainWindow::OutOfMemory() {
  // A transfer's worker reports here too; it waits while the box shows, so the report keeps its
  // place before the transfer's own failure.
  FTransfers->OnWindowThread([this] {
    FOutOfMemory = true;
    ShowMessage(this, QStringLiteral("Out of memory"));
    Terminate();
  });
}

void TMainWindow::Terminate() {
  if (FTerminate)
    FTerminate();
}

// An image built from a file that could not be read has no buffer: it is the one kind of image
// that is invalid with length 0 (a loaded image keeps at least its header length or the count).
bool TMainWindow::ImageUsable() const {
  return FImage != nullptr && (FImage->IsValid() || FImage->GetLength() > 0);
}

void TMainWindow::ReplaceImage(std::unique_ptr<TEEImage> image) {
  if (FImage != nullptr) {
    FImage.reset();
    ui->ByteList->RemoveAllRows();
    ClearFields();
  }
  FImage = std::move(image);
  ResetChangeMarks();
  ShowImageSize();
}

void TMainWindow::ShowNewImage() {
  ui->DevWriteBtn->setEnabled(true);
  ui->FileWriteBtn->setEnabled(true);
  RefreshByteList();
  RefreshFields();
}

void TMainWindow::FileReadBtnClick() {
  QFileDialog& dialog =
      DialogOnFirstUse(ImportDlg, this, QStringLiteral("ImportDlg"), QFileDialog::AcceptOpen);
  dialog.setDirectory(ConfigFolder());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return;
  OpenImageFile(dialog.selectedFiles().front());
}

void TMainWindow::OpenImageFile(const QString& name) {
  FOutOfMemory = false;
  ReplaceImage(std::make_unique<TEEImage>(QFile::encodeName(name).toStdString()));
  if (FOutOfMemory)
    return; // already reported, and the application is ending
  if (FImage->IsValid())
    ShowNewImage();
  else
    ShowMessage(this, QStringLiteral("Configuration data read from file is invalid"));
}

void TMainWindow::FileWriteBtnClick() {
  QFileDialog& dialog =
      DialogOnFirstUse(ExportDlg, this, QStringLiteral("ExportDlg"), QFileDialog::AcceptSave);
  dialog.setDirectory(ConfigFolder());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return;
  if (FImage == nullptr)
    return;
  const std::string file = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
  const QString failed = QStringLiteral("Unable to save configuration data to file");
  // Another program's edit of the same file (korvane-cli holds this lock from reading to saving)
  // must not be overwritten half-way through.
  TFileLock lock;
  if (lock.Acquire(file, TFileLock::kDefaultWait) == TFileLock::TResult::Busy) {
    ShowMessage(this, failed, QStringLiteral("The file is being changed by another process."));
    return;
  }
  int error = 0;
  if (!FImage->SaveToFile(file, &error)) {
    ShowMessage(this, failed,
                error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error)));
    return;
  }
  ResetChangeMarks();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  // The transfer's worker uses the channel and the image: the close waits for the command.
  if (FTransfers->Running()) {
    FCloseAsked = true;
    event->ignore();
    return;
  }
  // The question box taking the focus is no exit, so an edit still in the focused control would
  // be lost: its exit runs first, as a click on a button would make it. A refusal is shown as the
  // exception display shows it, and the window still closes.
  try {
    RunFocusedExit();
  } catch (...) {
    TKorvaneApp::ShowCurrentException();
  }
  if (FImage != nullptr && AskConfirm(this, QStringLiteral("Do you want to save the image?")))
    FileWriteBtnClick();
  FDevice.reset();
  FImage.reset();
  ShowImageSize();
  ShowHub();
  event->accept();
}

void TMainWindow::CloseIfAsked() {
  if (!std::exchange(FCloseAsked, false))
    return;
  // Not from a command that is ending with an exception: the close's own boxes come later.
  if (std::uncaught_exceptions() > 0)
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
  else
    close();
}

bool TMainWindow::ReportCommonOutcome(TEepromOutcome outcome, const QString& outOfMemory) {
  switch (outcome) {
  case TEepromOutcome::EnumerationFailed:
    ShowMessage(this, QStringLiteral("Can't find any devices"));
    [[fallthrough]];
  case TEepromOutcome::NoDevice:
    ShowMessage(this, QStringLiteral("Couldn't open device"));
    return true;
  case TEepromOutcome::OutOfMemory:
    ShowMessage(this, outOfMemory);
    Terminate();
    return true;
  default:
    return false;
  }
}

void TMainWindow::DevReadBtnClick() {
  const auto closeAfter = qScopeGuard([this] { CloseIfAsked(); });
  std::unique_ptr<TEEImage> image;
  TEepromOutcome outcome{};
  FTransfers->Run([this, &image, &outcome] { outcome = ReadEeprom(FDriver, FDevice, image); });
  ShowHub();
  if (ReportCommonOutcome(outcome, QStringLiteral("Out of memory")))
    return;
  switch (outcome) {
  case TEepromOutcome::Success:
  case TEepromOutcome::InvalidImage:
    if (image == nullptr)
      return;
    ReplaceImage(std::move(image));
    if (FImage->IsValid())
      ShowNewImage();
    else
      ShowMessage(this, QStringLiteral("Configuration data read from device is invalid"));
    return;
  default:
    ShowMessage(this, QStringLiteral("Couldn't read configuration data from device"));
    return;
  }
}

void TMainWindow::DevWriteBtnClick() {
  if (FImage == nullptr)
    return;
  const auto closeAfter = qScopeGuard([this] { CloseIfAsked(); });
  TEepromOutcome outcome{};
  FTransfers->Run([this, &outcome] { outcome = WriteEeprom(FDriver, FDevice, *FImage); });
  ShowHub();
  if (ReportCommonOutcome(outcome, QStringLiteral("Out of memory!")))
    return;
  switch (outcome) {
  case TEepromOutcome::EmptyImage:
    return;
  case TEepromOutcome::Success:
    ShowMessage(this, QStringLiteral("Successfully wrote configuration data to device"));
    return;
  default:
    ShowMessage(this, QStringLiteral("Couldn't write configuration data to device"));
    return;
  }
}

void TMainWindow::InitEEPROMBtnClick() {
  const auto closeAfter = qScopeGuard([this] { CloseIfAsked(); });
  TEepromOutcome outcome{};
  // The question comes between the search and the transfer, so the worker asks it on the
  // window's thread; nothing is sent until it is answered.
  const auto confirm = [this] {
    bool yes = false;
    FTransfers->OnWindowThread([this, &yes] {
      yes = AskConfirm(this, QStringLiteral("Are you sure you want to erase the device EEPROM?"),
                       TDefaultAnswer::No);
    });
    return yes;
  };
  FTransfers->Run([this, &outcome, &confirm] { outcome = EraseEeprom(FDriver, FDevice, confirm); });
  ShowHub();
  if (ReportCommonOutcome(outcome, QStringLiteral("Out of memory")))
    return;
  switch (outcome) {
  case TEepromOutcome::Declined:
    return;
  case TEepromOutcome::Success:
    ShowMessage(this, QStringLiteral("Successfully erased device EEPROM"));
    return;
  default:
    ShowMessage(this, QStringLiteral("Couldn't erase device EEPROM"));
    return;
  }
}
