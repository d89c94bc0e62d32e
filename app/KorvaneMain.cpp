#include "KorvaneMain.h"

#include "DeferredHubDriver.h"
#include "Eeimage.h"
#include "KorvaneApp.h"
#include "Mainwndw.h"
#include "Messages.h"
#include "Module.h"
#include "SimulatedHub.h"
#include "StartOptions.h"
#include "Trgtdev.h"
#include "UsbHubs.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

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

std::vector<std::string> Arguments(int argc, char** argv) {
  return {argv + std::min(argc, 1), argv + argc};
}

// -1 when the program goes on; otherwise its exit code, after the help or the error was shown.
int Report(const TStartOptions& options) {
  if (options.FHelp) {
    std::fputs(TStartOptions::Usage(), stdout);
    return 0;
  }
  if (options.FError.empty())
    return -1;
  std::fprintf(stderr, "korvane: %s\n", options.FError.c_str());
  if (options.FShowUsage)
    std::fprintf(stderr, "\n%s", TStartOptions::Usage());
  return 64; // EX_USAGE
}

} // namespace

int KorvaneMain(int argc, char** argv, void (*shown)(QWidget& window)) {
  // Usage errors and the help need no display, so they come before the application object.
  TStartOptions options = TStartOptions::Parse(Arguments(argc, argv), false);
  if (const int code = Report(options); code >= 0)
    return code;

  std::unique_ptr<THubDriver> driver;
  if (!options.FSimulate.empty()) {
    auto hubs = std::make_unique<TSimulatedHubDriver>();
    for (const std::string& file : options.FSimulate) {
      std::string error;
      if (!hubs->AddHub(file, error)) {
        std::fprintf(stderr, "korvane: %s: %s\n", file.c_str(), error.c_str());
        return 66; // EX_NOINPUT
      }
    }
    // The delay only means something for simulated hubs, as in korvane-cli.
    if (options.FPageDelay)
      hubs->SetPageWriteDelay(TStartOptions::kDelayPageSize,
                              std::chrono::milliseconds(*options.FPageDelay));
    driver = std::move(hubs);
  } else {
    TUsbBinding binding;
    std::vector<std::string> problems;
    binding.AddDefaultFiles(problems);
    for (const std::string& problem : problems)
      std::fprintf(stderr, "korvane: %s\n", problem.c_str());
    // The USB stack is loaded with the first device command, not at start.
    driver = std::make_unique<TDeferredHubDriver>(
        [binding = std::move(binding)]() -> std::unique_ptr<THubDriver> {
          try {
            return TUsbHubs::Load(binding);
          } catch (const TModuleError& error) {
            std::fprintf(stderr, "korvane: %s\n", error.what());
            return nullptr;
          }
        });
  }

  TKorvaneApp app(argc, argv);
  // The application object has taken out its own options: what is left are ours and the IMAGE.
  options = TStartOptions::Parse(Arguments(argc, argv), true);
  if (const int code = Report(options); code >= 0)
    return code;
  TEEImage::SetOutOfMemoryHook(&ImageOutOfMemory);
  TTargetDev::SetOutOfMemoryHook(&OutOfMemory);
  try {
    TMainWindow window(*driver);
    // Centred on the screen when first shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    if (shown != nullptr)
      shown(window);
    const TOutOfMemoryRoute route(window);
    // Opened once the loop runs, so that a message about the file shows over the window.
    if (!options.FFile.empty()) {
      const QString file = QFile::decodeName(options.FFile.c_str());
      QTimer::singleShot(0, &window, [&window, file] { window.OpenImageFile(file); });
    }
    app.exec();
  } catch (const std::exception& error) {
    TKorvaneApp::ShowException(QString::fromUtf8(error.what()));
  } catch (...) {
    TKorvaneApp::ShowException(QString());
  }
  return 0;
}
