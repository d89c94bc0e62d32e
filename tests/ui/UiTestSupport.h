#pragma once

#include "Mainwndw.h"
#include "SimulatedHub.h"

#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string_view>
#include <vector>

class QLineEdit;
class TEEImage;

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

// A modal window that appeared while an action ran, as the user saw it.
struct TSeenBox {
  QString kind; // "message", "open", "save", "other"
  QString title;
  QString text;
  QString details; // a message box's detailed text
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the modal windows that an action opens, in order: a message box by one of its buttons,
// a file dialog with a file name or by cancelling. Modal windows left without an answer are
// closed with OK, or cancelled.
class TModalAnswerer : public QObject {
public:
  using TAnswer = std::function<void(QWidget*)>;
  static TAnswer Button(QMessageBox::StandardButton button);
  static TAnswer File(const QString& path);
  static TAnswer Cancel();
  // A key pressed as the user presses it: into the control of the window that has the focus.
  static TAnswer Key(Qt::Key key);

  std::vector<TSeenBox> Run(const std::function<void()>& action, std::deque<TAnswer> answers = {});

private:
  void Poll();

  QTimer FTimer;
  std::deque<TAnswer> FAnswers;
  std::vector<TSeenBox> FSeen;
};

// The texts of the boxes, in order, for comparing with one EXPECT.
std::vector<QString> Texts(const std::vector<TSeenBox>& boxes);
// Checks that `count` windows appeared, the last a message with this text and icon.
void ExpectLast(const std::vector<TSeenBox>& boxes, size_t count, const QString& text,
                QMessageBox::Icon icon);

inline constexpr uint16_t kEnglish = 0x0409;
inline constexpr uint16_t kGerman = 0x0407;
inline constexpr uint16_t kFrench = 0x040C;
inline const QString kStoreFailed = QStringLiteral(
    "Couldn't modify string descriptor.\nThe string may be too long for available EEPROM space.");

// A shown, active main window on a simulated hub whose EEPROM file lives in a temporary folder
// and starts as the example 0xD4 image.
class TWindowTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // A new main window in place of the current one, shown and active.
  void NewWindow();

  template <class T> T* W(const char* name) const {
    T* widget = FWindow->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr)
      ADD_FAILURE() << "no control " << name;
    return widget;
  }
  QLineEdit* E(const char* name) const;
  const TEEImage& Image() const { return *FWindow->Image(); }
  uint8_t Byte(int offset) const;
  // The value column of the raw data grid.
  QString GridText(int row) const;

  QString TempFile(const QString& name) const { return FDir.filePath(name); }
  // Writes `bytes` to a file and reads it through "Read From File...".
  std::vector<TSeenBox> OpenBytes(const std::vector<uint8_t>& bytes);
  std::vector<TSeenBox> OpenFile(const QString& path);
  void OpenExample();
  std::vector<TSeenBox> Click(const char* button, std::deque<TModalAnswerer::TAnswer> answers = {});
  void Activate();
  // Types into an edit as the user does: focus, then key presses.
  void Type(const char* edit, const QString& text);
  // Puts text in as the edit's paste command does: any character, no key filter, modified set.
  void Paste(const char* edit, const QString& text);
  // Makes a value cell of the grid current (the editor opens on it) and returns the editor.
  QLineEdit* EditCell(int row);
  void TypeInCell(int row, const QString& keys);
  // Empties a cell's editor and types `keys`, after a blank first position if `blank`.
  void RetypeCell(int row, const QString& keys, bool blank);
  std::vector<TSeenBox> Close(std::deque<TModalAnswerer::TAnswer> answers = {});
  // Moves the focus to another control of the window (runs the exit handler of the focused one).
  std::vector<TSeenBox> Leave(const char* to = "DevReadBtn");
  std::vector<uint8_t> ImageBytes(int count) const;
  std::vector<uint8_t> EepromBytes() const;

  QTemporaryDir FDir;
  std::string FEeprom;
  std::string FHubPath;
  TSimulatedHubDriver FDriver;
  std::unique_ptr<TMainWindow> FWindow;
  TModalAnswerer FBoxes;
  int FTerminations = 0;
};

// Image bytes with the given signature and header; the rest zero.
std::vector<uint8_t> HeaderImage(uint8_t signature,
                                 std::initializer_list<std::pair<int, uint8_t>> bytes);

// A descriptor's bytes: bLength, type 3, the text in UTF-16LE.
std::vector<uint8_t> Descriptor(std::u16string_view text);

// One descriptor of a fixture image: its LANGID, the kind's bit and its bytes as stored.
struct TFixtureString {
  uint16_t langid;
  uint8_t kind;
  std::vector<uint8_t> descriptor;
};

// A 0xD4 image built through the image's own operations: the languages, the mask (placeholders for
// every string), then each descriptor stored in turn. Fails the test if the image refuses a step.
std::vector<uint8_t> StringImage(const std::vector<uint16_t>& langids, uint8_t mask,
                                 const std::vector<TFixtureString>& strings);

// All bytes of an image.
std::vector<uint8_t> Bytes(const TEEImage& image);

// The descriptor the image holds for a LANGID and kind; empty when there is none.
std::vector<uint8_t> StoredDescriptor(const TEEImage& image, uint16_t langid, uint8_t kind);
