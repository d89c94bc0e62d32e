#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class TEEImage;
class THubDriver;
class TKeyFilter;
class TLangWndw;
class TTargetDev;
class TTransferRunner;
enum class TEepromOutcome;

struct TMainwndwUi;
namespace Ui {
class StrDescPage;
} // namespace Ui

// The main window: the "Device Settings" and "String Descriptor" pages, the raw data grid, the
// file and device commands. It owns the current image and the device channel; every control shows
// what the image holds and every edit goes into the image.
class TMainWindow : public QWidget {
  Q_OBJECT
public:
  explicit TMainWindow(THubDriver& driver, QWidget* parent = nullptr);
  ~TMainWindow() override;

  // The current image, or nullptr (for tests and the commands of later pages).
  const TEEImage* Image() const { return FImage.get(); }

  // Called where the application must end after memory could not be had.
  void SetTerminate(std::function<void()> terminate) { FTerminate = std::move(terminate); }
  // "Out of memory", then the application is asked to end. The application routes the image's
  // and the channel's out-of-memory reports here, so a load can stop without a second message.
  // Callable from a transfer's worker thread: the report is shown on the window's thread.
  void OutOfMemory();

  // Opens an image file as "Read From File..." does once a name was chosen: the IMAGE named on
  // the command line.
  void OpenImageFile(const QString& name);

public slots:
  void FileReadBtnClick();
  void FileWriteBtnClick();
  void DevReadBtnClick();
  void DevWriteBtnClick();
  void InitEEPROMBtnClick();
  void LangBtnClick();
  void GenSNBtnClick();

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // Shell (Mainwndw.cpp)
  void SetupFilters();
  // The edits of the "Device Settings" page that show hexadecimal digits.
  QList<QLineEdit*> HexEdits() const;
  // Shows the messages every device command shares (the search for the hub, memory for its
  // buffer); true when the outcome was one of those and the command has nothing more to say.
  bool ReportCommonOutcome(TEepromOutcome outcome, const QString& outOfMemory);
  void SetupExitHandlers();
  // Runs the exit of the control that holds the focus, where no focus change will.
  void RunFocusedExit();
  // Edits that show values in the platform's fixed-pitch font, at their own point size.
  static void SetFixedFont(const QList<QLineEdit*>& edits);
  void ReplaceImage(std::unique_ptr<TEEImage> image);
  void ShowNewImage();
  // A close asked for while a transfer ran is carried out once its command has ended.
  void CloseIfAsked();
  bool ImageUsable() const;
  void Terminate();

  // Grid (MainwndwGrid.cpp)
  void RefreshByteList();
  void UpdateByteList();
  void RefreshHeaderRows();
  // The image as it now is becomes the one the grid marks changed bytes against.
  void ResetChangeMarks();

  // Size and hub (MainwndwStatus.cpp)
  void ShowImageSize();
  void ShowHub();

  // Layouts (MainwndwLayout.cpp)
  void ApplyLayout(int kind);
  void LayoutD0();
  void LayoutD2();
  void LayoutD3();
  void LayoutD4();

  // Display (MainwndwDisplay.cpp)
  void ClearFields();
  void RefreshFields();
  void ShowByte(QLineEdit* edit, int offset);
  void ShowVID();
  void ShowPID();
  void ShowOCTimers();
  void ShowBits(const std::array<QLineEdit*, 8>& edits, uint8_t value);
  void ShowConfigBits1();
  void ShowConfigBits2();
  void ShowActivePorts();
  void ShowRemovablePorts();
  void ShowSupportedStrings();
  void ShowLanguages();

  // String descriptor page (MainwndwStrings.cpp). Its controls are made on first use: nothing of
  // the page can be seen or reached before an image was read, and making them would slow the start.
  Ui::StrDescPage& StringPage();
  bool StringPageMade() const { return FStrPage != nullptr; }
  void ShowStringDescriptors();
  void LangIDBoxChange();
  void UpdateStrDesc(QLineEdit* field);
  bool CurrentLangID(uint16_t& langid) const;

  // Languages (MainwndwLanguages.cpp)
  TLangWndw* LangDialog();

  // Editing (MainwndwEdit.cpp)
  void UpdateWord(QLineEdit* edit, int offset);
  void UpdateByte(QLineEdit* edit, int offset);
  bool ReadBits(const std::array<QLineEdit*, 8>& edits, uint8_t& value) const;
  void UpdateVID();
  void UpdatePID();
  void UpdateDID();
  void UpdateMaxPowerFS();
  void UpdateMaxPowerHS();
  void UpdateInternalControl();
  void UpdateExternalControl();
  void UpdateCtlrPwrFSBP();
  void UpdateCtlrPwrHSBP();
  void UpdateCtlrPwrFSSP();
  void UpdateCtlrPwrHSSP();
  void UpdatePowerOnTime();
  void UpdateSPI();
  void UpdateNumLangs();
  void UpdateOCTimers();
  void UpdateConfigBits1();
  void UpdateConfigBits2();
  void UpdateActivePorts();
  void UpdateRemovablePorts();
  void UpdateSupportedStrings();

  static int TagOf(const QWidget* control);

  std::unique_ptr<TMainwndwUi> ui;
  std::unique_ptr<Ui::StrDescPage> FStrPage;
  THubDriver& FDriver;
  std::unique_ptr<TEEImage> FImage;
  std::unique_ptr<TTargetDev> FDevice;
  // The file dialogs are built on first use: building them (the file-system model, the style's
  // icons) would take longer than the rest of the window's start.
  QFileDialog* ImportDlg = nullptr;
  QFileDialog* ExportDlg = nullptr;
  TKeyFilter* FForceHex;
  TKeyFilter* FForceBin;
  TTransferRunner* FTransfers;
  // Bit edits by bit number (index N shows bit N, or port N).
  std::array<QLineEdit*, 8> FCfgBits1{};
  std::array<QLineEdit*, 8> FCfgBits2{};
  std::array<QLineEdit*, 8> FSupportedStrings{};
  std::array<QLineEdit*, 8> FActPorts{};
  std::array<QLineEdit*, 8> FRemPorts{};
  // One row per string kind of the "String Descriptor" page, in the order the page is filled.
  struct TStringRow {
    QLineEdit* Length;
    QLineEdit* Type;
    QLineEdit* Text; // its Tag is the kind's bit
  };
  std::array<TStringRow, 7> FStringRows{};
  // What each bString field showed at the last fill: leaving a field unchanged stores nothing.
  std::map<const QObject*, QString> FShownStrings;
  std::map<QObject*, std::function<void()>> FExitHandlers;
  const QObject* FFocusedEdit = nullptr; // the exit-handled edit that last received the focus
  std::function<void()> FTerminate;
  bool FOutOfMemory = false; // reported since the current load began
  bool FUpdatingGrid = false;
  bool FCloseAsked = false; // the window was closed while a transfer ran
};
