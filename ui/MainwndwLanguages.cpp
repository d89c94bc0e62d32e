// The "Languages..." button: the language dialog filled from the image, and on OK the new list
// handed to the image, which drops the strings of removed languages and adds placeholders for new
// ones.
#include "Eeimage.h"
#include "HexText.h"
#include "Langdlg.h"
#include "Mainwndw.h"
#include "MainwndwUi.h"
#include "Messages.h"

#include <array>

namespace {
// The number of languages is one byte of the image.
constexpr qsizetype kMaxLanguages = 255;
} // namespace

// The dialog is made on first use (its style icons are not needed for the window's first frame)
// and then lives as long as the window.
TLangWndw* TMainWindow::LangDialog() {
  auto* dialog = findChild<TLangWndw*>(QString(), Qt::FindDirectChildrenOnly);
  if (dialog == nullptr)
    dialog = new TLangWndw(this);
  return dialog;
}

void TMainWindow::LangBtnClick() {
  if (FImage == nullptr || !FImage->IsValid())
    return;
  TLangWndw* dialog = LangDialog();
  std::array<uint16_t, kMaxLanguages> langids{};
  uint8_t count = FImage->GetLanguageCount();
  if (!FImage->GetLanguages(langids.data(), count))
    count = 0;
  dialog->Fill({langids.data(), count});
  if (dialog->exec() != QDialog::Accepted)
    return;

  const QStringList items = dialog->Items();
  // Stored with its count cut to 8 bits, such a list would silently drop languages.
  if (items.size() > kMaxLanguages) {
    ShowMessage(this, QStringLiteral("Too many languages: no more than %1 LANGIDs can be stored.")
                          .arg(kMaxLanguages));
    return;
  }
  for (qsizetype i = 0; i < items.size(); ++i)
    langids[static_cast<size_t>(i)] = static_cast<uint16_t>(ConvertHex(items[i].mid(2)) & 0xFFFF);
  const auto listed = static_cast<uint8_t>(items.size());
  // The result is not examined: a refused list shows as the old languages.
  FImage->SetLanguages(listed > 0 ? langids.data() : nullptr, listed);
  // An image without languages carries no strings. Only when the languages are really gone: a
  // removal that failed part-way keeps its strings, and its mask must keep describing them.
  if (listed == 0 && FImage->GetLanguageCount() == 0)
    FImage->SetByte(21, 0);
  RefreshByteList();
  ShowLanguages();
}
