#include "CliDrivers.h"

#include "CliContext.h"
#include "CliError.h"
#include "SimulatedHub.h"
#include "UsbBinding.h"
#include "UsbHubs.h"

#include <cstdlib>
#include <filesystem>

void TCliDrivers::LoadBindings(const TCliContext& context, TUsbBinding& bound, bool files) {
  if (files) {
    std::vector<std::string> problems;
    if (!bound.AddDefaultFiles(problems)) {
      for (const std::string& problem : problems) {
        context.err << "korvane-cli: warning: " << problem << "\n";
      }
    }
  }
  for (const std::string& text : context.vidpid) {
    const auto id = TUsbBinding::ParseId(text);
    if (!id) {
      throw TCliError(cliexit::kUsage, "\"" + text + "\" is not a VID:PID (for example 1a2b:3c4d)");
    }
    bound.Add(*id);
  }
}

std::unique_ptr<THubDriver> TCliDrivers::Make(const TCliContext& context, TUsbBinding& bound) {
  if (context.simulate.empty() && context.simulateDir.empty()) {
    LoadBindings(context, bound, true);
    return TUsbHubs::Load(bound);
  }
  // Simulated hubs answer whatever their files hold; only IDs named here count as bound.
  LoadBindings(context, bound, false);
  auto driver = std::make_unique<TSimulatedHubDriver>();
  for (const std::string& file : context.simulate) {
    std::string error;
    TSimulatedHubDriver::TAddProblem problem{};
    if (!driver->AddHub(file, error, &problem)) {
      using TProblem = TSimulatedHubDriver::TAddProblem;
      const int code = problem == TProblem::Unreadable     ? cliexit::kNoInput
                       : problem == TProblem::CannotCreate ? cliexit::kCantCreate
                                                           : cliexit::kData;
      throw TCliError(code, "--simulate " + file + ": " + error);
    }
  }
  if (!context.simulateDir.empty()) {
    std::error_code code;
    if (!std::filesystem::is_directory(context.simulateDir, code)) {
      throw TCliError(cliexit::kNoInput, "--simulate-dir " + context.simulateDir + ": no folder");
    }
    driver->WatchFolder(context.simulateDir);
  }
  if (!context.pageDelay.empty()) {
    char* end = nullptr;
    const unsigned long milliseconds = std::strtoul(context.pageDelay.c_str(), &end, 10);
    if (end == context.pageDelay.c_str() || *end != '\0' || milliseconds > 60000) {
      throw TCliError(cliexit::kUsage,
                      "--simulate-page-delay takes milliseconds (0 to 60000), not \"" +
                          context.pageDelay + "\"");
    }
    driver->SetPageWriteDelay(16, std::chrono::milliseconds(milliseconds));
  }
  return driver;
}
