#include "UiTestSupport.h"

#include "Eeimage.h"
#include "ExampleImages.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

TModalAnswerer::TAnswer TModalAnswerer::Button(QMessageBox::StandardButton button) {
  return [button](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->button(button) != nullptr)
      box->button(button)->click();
    else
      widget->close();
  };
}

TModalAnswerer::TAnswer TModalAnswerer::File(const QString& path) {
  return [path](QWidget* widget) {
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    if (dialog == nullptr) {
      widget->close();
      return;
    }
    dialog->selectFile(path);
    // selectFile leaves the name field alone while it has the focus: type the name as a user does.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
      name->setText(path);
    static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept checks the name
  };
}

TModalAnswerer::TAnswer TModalAnswerer::Cancel() {
  return [](QWidget* widget) {
    if (auto* dialog = qobject_cast<QDialog*>(widget))
      dialog->reject();
    else
      widget->close();
  };
}

TModalAnswerer::TAnswer TModalAnswerer::Key(Qt::Key key) {
  return [key](QWidget* widget) {
    QWidget* focus = widget->focusWidget();
    QTest::keyClick(focus != nullptr ? focus : widget, key);
  };
}

std::vector<TSeenBox> TModalAnswerer::Run(const std::function<void()>& action,
                                          std::deque<TAnswer> answers) {
  FAnswers = std::move(answers);
  FSeen.clear();
  FTimer.setInterval(0);
  QObject::connect(&FTimer, &QTimer::timeout, this, &TModalAnswerer::Poll, Qt::UniqueConnection);
  FTimer.start();
  action();
  FTimer.stop();
  EXPECT_TRUE(FAnswers.empty()) << FAnswers.size() << " answers left unused";
  return FSeen;
}

void TModalAnswerer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal->property("answered").toBool() || !modal->isVisible())
    return;
  modal->setProperty("answered", true);
  TSeenBox seen;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    seen.kind = QStringLiteral("message");
    seen.text = box->text();
    seen.details = box->detailedText();
    seen.icon = box->icon();
  } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
    seen.kind = dialog->acceptMode() == QFileDialog::AcceptOpen ? QStringLiteral("open")
                                                                : QStringLiteral("save");
    seen.text = dialog->objectName();
  } else {
    seen.kind = QStringLiteral("other");
  }
  seen.title = modal->windowTitle();
  FSeen.push_back(seen);
  TAnswer answer = Cancel();
  if (!FAnswers.empty()) {
    answer = FAnswers.front();
    FAnswers.pop_front();
  } else if (qobject_cast<QMessageBox*>(modal) != nullptr) {
    answer = Button(QMessageBox::Ok);
  }
  QPointer<QWidget> guard(modal);
  answer(modal);
  // Dialogs that live on (the window's file dialogs) are answered afresh at their next opening.
  if (guard != nullptr && !guard->isVisible())
    guard->setProperty("answered", false);
}

std::vector<QString> Texts(const std::vector<TSeenBox>& boxes) {
  std::vector<QString> texts;
  for (const TSeenBox& box : boxes)
    texts.push_back(box.text);
  return texts;
}

void ExpectLast(const std::vector<TSeenBox>& boxes, size_t count, const QString& text,
                QMessageBox::Icon icon) {
  ASSERT_EQ(boxes.size(), count);
  EXPECT_EQ(boxes.back().text, text);
  EXPECT_EQ(boxes.back().icon, icon);
}

std::vector<uint8_t> HeaderImage(uint8_t signature,
                                 std::initializer_list<std::pair<int, uint8_t>> bytes) {
  std::vector<uint8_t> image(24, 0);
  image[0] = signature;
  for (const auto& [offset, value] : bytes)
    image[static_cast<size_t>(offset)] = value;
  return image;
}

void TWindowTest::SetUp() {
  ASSERT_TRUE(FDir.isValid());
  FEeprom = FDir.filePath(QStringLiteral("eeprom.bin")).toStdString();
  ASSERT_EQ(CreateExampleEeprom(FEeprom), TEepromResult::Created);
  std::string error;
  ASSERT_TRUE(FDriver.AddHub(FEeprom, error)) << error;
  FHubPath = TSimulatedHubDriver::PathOf(FEeprom);
  NewWindow();
}

void TWindowTest::NewWindow() {
  FWindow.reset();
  FWindow = std::make_unique<TMainWindow>(FDriver);
  FWindow->SetTerminate([this] { ++FTerminations; });
  FWindow->show();
  QApplication::setActiveWindow(FWindow.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(FWindow.get()));
}

void TWindowTest::TearDown() {
  FWindow.reset();
}

QLineEdit* TWindowTest::E(const char* name) const {
  return W<QLineEdit>(name);
}

uint8_t TWindowTest::Byte(int offset) const {
  return Image().GetByte(offset);
}

QString TWindowTest::GridText(int row) const {
  return W<QTableWidget>("ByteList")->item(row, 1)->text();
}

void TWindowTest::OpenExample() {
  OpenBytes(Bytes(*MakeExampleD4()));
}

std::vector<TSeenBox> TWindowTest::OpenFile(const QString& path) {
  return Click("FileReadBtn", {TModalAnswerer::File(path)});
}

std::vector<TSeenBox> TWindowTest::OpenBytes(const std::vector<uint8_t>& bytes) {
  static int counter = 0;
  const QString path = TempFile(QStringLiteral("image%1.bin").arg(++counter));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  file.close();
  return OpenFile(path);
}

std::vector<TSeenBox> TWindowTest::Click(const char* button,
                                         std::deque<TModalAnswerer::TAnswer> answers) {
  QPushButton* target = W<QPushButton>(button);
  return FBoxes.Run([target] { QTest::mouseClick(target, Qt::LeftButton); }, std::move(answers));
}

void TWindowTest::Activate() {
  // A closed dialog gives the activation back asynchronously; focus events need an active window.
  if (QApplication::activeWindow() != FWindow.get()) {
    QApplication::setActiveWindow(FWindow.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(FWindow.get()));
  }
}

void TWindowTest::Type(const char* edit, const QString& text) {
  Activate();
  QLineEdit* target = E(edit);
  // Moving the focus runs the exit handler of the control that had it: answer what it shows.
  const auto boxes = FBoxes.Run([target] { target->setFocus(Qt::OtherFocusReason); });
  EXPECT_TRUE(boxes.empty()) << "unexpected message: " << boxes.front().text.toStdString();
  target->selectAll();
  QTest::keyClicks(target, text);
}

void TWindowTest::Paste(const char* edit, const QString& text) {
  Activate();
  QLineEdit* target = E(edit);
  target->setFocus();
  target->selectAll();
  target->insert(text);
}

QLineEdit* TWindowTest::EditCell(int row) {
  Activate();
  auto* grid = W<QTableWidget>("ByteList");
  grid->setFocus();
  grid->setCurrentCell(row, 1);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  EXPECT_NE(editor, nullptr) << "no editor on row " << row;
  return editor;
}

void TWindowTest::TypeInCell(int row, const QString& keys) {
  if (QLineEdit* editor = EditCell(row))
    QTest::keyClicks(editor, keys);
}

void TWindowTest::RetypeCell(int row, const QString& keys, bool blank) {
  QLineEdit* editor = EditCell(row);
  if (editor == nullptr)
    return;
  editor->selectAll();
  QTest::keyClick(editor, Qt::Key_Delete);
  if (blank)
    QTest::keyClick(editor, Qt::Key_Right);
  QTest::keyClicks(editor, keys);
}

std::vector<TSeenBox> TWindowTest::Close(std::deque<TModalAnswerer::TAnswer> answers) {
  return FBoxes.Run([this] { FWindow->close(); }, std::move(answers));
}

std::vector<TSeenBox> TWindowTest::Leave(const char* to) {
  Activate();
  QWidget* target = W<QWidget>(to);
  return FBoxes.Run([target] { target->setFocus(Qt::TabFocusReason); });
}

std::vector<uint8_t> TWindowTest::ImageBytes(int count) const {
  std::vector<uint8_t> bytes;
  const TEEImage* image = FWindow->Image();
  for (int i = 0; image != nullptr && i < count; ++i)
    bytes.push_back(image->GetByte(i));
  return bytes;
}

std::vector<uint8_t> TWindowTest::EepromBytes() const {
  std::vector<uint8_t> bytes;
  FDriver.Contents(FHubPath, bytes);
  return bytes;
}

std::vector<uint8_t> Descriptor(std::u16string_view text) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(2 * text.size() + 2), 3};
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

std::vector<uint8_t> StringImage(const std::vector<uint16_t>& langids, uint8_t mask,
                                 const std::vector<TFixtureString>& strings) {
  const uint8_t signature = 0xD4;
  TEEImage image(&signature, 1);
  EXPECT_TRUE(image.SetLanguages(langids.data(), static_cast<uint8_t>(langids.size())));
  EXPECT_TRUE(image.SetSupportedStrings(mask));
  for (const TFixtureString& string : strings)
    EXPECT_TRUE(image.SetStringDescriptor(string.langid, string.kind, string.descriptor.data()));
  std::vector<uint8_t> bytes(image.GetLength());
  EXPECT_TRUE(image.CopyTo(bytes.data(), image.GetLength()));
  return bytes;
}

std::vector<uint8_t> Bytes(const TEEImage& image) {
  std::vector<uint8_t> bytes(image.GetLength());
  image.CopyTo(bytes.data(), image.GetLength());
  return bytes;
}

std::vector<uint8_t> StoredDescriptor(const TEEImage& image, uint16_t langid, uint8_t kind) {
  uint8_t buffer[256] = {};
  buffer[0] = image.GetStringLength(langid, kind);
  if (buffer[0] == 0 || !image.GetStringDescriptor(langid, kind, buffer))
    return {};
  return {buffer, buffer + buffer[0]};
}
