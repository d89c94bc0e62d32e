// korvane: the desktop program. Creates the application object, the main window and the
// language dialog, and runs the event loop until the main window closes.
#include "Eeimage.h"
#include "KorvaneApp.h"
#include "Langdlg.h"
#include "Mainwndw.h"
#include "Messages.h"
#include "SimulatedHub.h"
#include "Trgtdev.h"
#include "UsbHubDriver.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: korvane [--simulate FILE]...\n"
    "\n"
    "Shows and edits the configuration EEPROM of a hub.\n"
    "\n"
    "  --simulate FILE  work on a simulated hub whose 512-byte EEPROM is FILE (created blank\n"
    "                   when missing); repeatable, one hub per file; real hubs are not used\n"
    "  --help           show this text and end\n";

// The window, while it exists, shows the report itself so that the command that ran out of memory
// knows it.
TMainWindow* GWindow = nullptr;

void OutOfMemory() {
  if (GWindow != nullptr)
    GWindow->OutOfMemory();
  else
    TKorvaneApp::OutOfMemory(QStringLiteral("Out of memory"));
}

// Points the reports at the window for as long as it lives.
struct TOutOfMemoryRoute {
  explicit TOutOfMemoryRoute(TMainWindow& window) { GWindow = &window; }
  ~TOutOfMemoryRoute() { GWindow = nullptr; }
  TOutOfMemoryRoute(const TOutOfMemoryRoute&) = delete;
  TOutOfMemoryRoute& operator=(const TOutOfMemoryRoute&) = delete;
};

void ImageOutOfMemory(bool fatal) {
  if (fatal)
    OutOfMemory();
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> simulated;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--simulate") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "korvane: --simulate needs a FILE\n\n%s", kUsage);
        return 64; // EX_USAGE
      }
      simulated.emplace_back(argv[++i]);
      continue;
    }
    // Qt's own options (-platform, -style, ...) are left to the application object.
    if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "korvane: unknown option '%s'\n\n%s", argv[i], kUsage);
      return 64; // EX_USAGE
    }
  }

  std::unique_ptr<THubDriver> driver;
  if (!simulated.empty()) {
    auto hubs = std::make_unique<TSimulatedHubDriver>();
    for (const std::string& file : simulated) {
      std::string error;
      if (!hubs->AddHub(file, error)) {
        std::fprintf(stderr, "korvane: %s: %s\n", file.c_str(), error.c_str());
        return 66; // EX_NOINPUT
      }
    }
    driver = std::move(hubs);
  } else {
    TUsbBinding binding;
    std::vector<std::string> problems;
    binding.AddDefaultFiles(problems);
    for (const std::string& problem : problems)
      std::fprintf(stderr, "korvane: %s\n", problem.c_str());
    driver = std::make_unique<TUsbHubDriver>(std::move(binding));
  }

  TKorvaneApp app(argc, argv);
  TEEImage::SetOutOfMemoryHook(&ImageOutOfMemory);
  TTargetDev::SetOutOfMemoryHook(&OutOfMemory);
  try {
    TMainWindow window(*driver);
    TLangWndw languages(&window);
    languages.hide();
    // Centred on the screen when first shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    const TOutOfMemoryRoute route(window);
    app.exec();
  } catch (const std::exception& error) {
    TKorvaneApp::ShowException(QString::fromUtf8(error.what()));
  } catch (...) {
    TKorvaneApp::ShowException(QString());
  }
  return 0;
}
