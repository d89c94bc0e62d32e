#include "CliHubSession.h"

#include "CliArgs.h"
#include "CliContext.h"
#include "CliDrivers.h"
#include "CliError.h"
#include "CliJson.h"
#include "Discovery.h"
#include "Trgtdev.h"

#include <thread>

TCliHubSession::TCliHubSession(TCliContext& context) : FContext(context) {
  FDriver =
      context.makeDriver ? context.makeDriver(context, FBound) : TCliDrivers::Make(context, FBound);
  if (!FDriver) {
    throw TCliError(cliexit::kSoftware, "no hub driver could be made");
  }
}

TCliHubSession::~TCliHubSession() = default;

bool TCliHubSession::Simulated() const {
  return !FContext.simulate.empty() || !FContext.simulateDir.empty();
}

std::string TCliHubSession::AccessFix() {
  return "to let your user reach bound hubs, install the udev rules and replug the hub:\n"
         "  korvane-cli udev-rule | sudo tee /etc/udev/rules.d/70-korvane.rules\n"
         "  sudo install -m 644 packaging/udev/71-korvane-uaccess.rules /etc/udev/rules.d/\n"
         "  sudo udevadm control --reload-rules && sudo udevadm trigger";
}

std::vector<std::string> TCliHubSession::Select(const TCliArgs& args, bool allowAll) {
  std::vector<std::string> present;
  if (!FDriver->PresentInterfaces(present)) {
    if (FDriver->LastError() == THubError::AccessDenied) {
      throw TCliError(cliexit::kNoPerm, "access to the USB devices denied\n" + AccessFix());
    }
    throw TCliError(cliexit::kNoHub, "the hubs could not be listed");
  }
  const auto listing = [&present] {
    std::string text;
    for (const std::string& path : present) {
      text += "\n  " + path;
    }
    return text;
  };
  if (args.Has("--device")) {
    if (allowAll && args.Has("--all")) {
      throw TCliError(cliexit::kUsage, "--device and --all exclude each other");
    }
    const std::string path = args.Value("--device");
    for (const std::string& candidate : present) {
      if (candidate == path) {
        return {path};
      }
    }
    throw TCliError(cliexit::kNoHub,
                    "no bound hub at " + path +
                        (present.empty() ? std::string(" (no bound hub is present)")
                                         : "; present:" + listing()));
  }
  if (present.empty()) {
    throw TCliError(cliexit::kNoHub, Simulated()
                                         ? "no hub"
                                         : "no bound hub is present (bind one with --vidpid "
                                           "VID:PID; korvane-cli list shows every hub)");
  }
  if (allowAll && args.Has("--all")) {
    return present;
  }
  if (present.size() > 1) {
    throw TCliError(cliexit::kUsage,
                    "several bound hubs are present; choose one with --device PATH" +
                        std::string(allowAll ? " or act on all with --all" : "") + ":" + listing());
  }
  return present;
}

std::unique_ptr<TTargetDev> TCliHubSession::OpenHub(const std::string& path, THubResult& result) {
  std::unique_ptr<TTargetDev> channel;
  THubError why = THubError::None;
  if (OpenDeviceAt(*FDriver, path, channel, &why) == TDiscoveryStatus::Opened) {
    return channel;
  }
  OpenFailed(why, result);
  return nullptr;
}

std::vector<std::unique_ptr<TTargetDev>>
TCliHubSession::OpenHubs(const std::vector<std::string>& paths, std::vector<THubResult>& results) {
  std::vector<std::unique_ptr<TTargetDev>> channels;
  std::vector<THubError> whys;
  const std::vector<TDiscoveryStatus> opened = OpenDevicesAt(*FDriver, paths, channels, whys);
  results.resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    results[i].path = paths[i];
    if (opened[i] != TDiscoveryStatus::Opened) {
      OpenFailed(whys[i], results[i]);
    }
  }
  return channels;
}

void TCliHubSession::OpenFailed(THubError why, THubResult& result) {
  if (why == THubError::AccessDenied) {
    result.code = cliexit::kNoPerm;
    result.message = "access denied\n" + AccessFix();
  } else if (why == THubError::NotFound) {
    result.code = cliexit::kNoHub;
    result.message = "the hub is gone";
  } else {
    result.code = cliexit::kIoError;
    result.message = "the hub could not be opened";
  }
}

void TCliHubSession::TransferFailed(const TTargetDev& channel, const std::string& what,
                                    THubResult& result) {
  switch (channel.LastError()) {
  case THubError::AccessDenied:
    result.code = cliexit::kNoPerm;
    result.message = what + " failed: access denied\n" + AccessFix();
    return;
  case THubError::Timeout:
    result.message = what + " failed: the hub did not answer in time";
    break;
  case THubError::Stalled:
    result.message = what + " failed: the hub refused the request";
    break;
  case THubError::NotFound:
    result.message = what + " failed: the hub is gone";
    break;
  default:
    result.message = what + " failed";
  }
  result.code = cliexit::kIoError;
}

int TCliHubSession::Run(const std::vector<std::string>& paths,
                        const std::function<void(TTargetDev&, THubResult&)>& work) {
  std::vector<THubResult> results(paths.size());
  // Every channel is opened before any transfer starts: a search for one hub must not wait
  // behind another hub's write.
  std::vector<std::unique_ptr<TTargetDev>> channels = OpenHubs(paths, results);
  const auto one = [&](size_t i) {
    if (!channels[i]) {
      return;
    }
    try {
      work(*channels[i], results[i]);
    } catch (const TCliError& error) {
      results[i].code = error.Code();
      results[i].message = error.what();
    } catch (const std::exception& error) {
      results[i].code = cliexit::kSoftware;
      results[i].message = std::string("internal error: ") + error.what();
    }
    channels[i]->Close();
  };
  if (paths.size() == 1) {
    one(0);
  } else {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < paths.size(); ++i) {
      threads.emplace_back(one, i);
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
  }

  int code = cliexit::kOk;
  TJson list = TJson::array();
  for (const THubResult& result : results) {
    if (FContext.json) {
      list.push_back({{"path", result.path},
                      {"ok", result.code == 0},
                      {"code", result.code},
                      {"message", result.message}});
    } else if (result.code == cliexit::kOk) {
      FContext.out << result.path << ": " << result.message << "\n";
    } else {
      (paths.size() == 1 ? FContext.err : FContext.out)
          << (paths.size() == 1 ? "korvane-cli: " : "") << result.path << ": "
          << (paths.size() == 1 ? "" : "FAILED: ") << result.message << "\n";
    }
    if (result.code != cliexit::kOk) {
      code = paths.size() == 1 ? result.code : cliexit::kIoError;
    }
  }
  if (FContext.json) {
    FContext.out << TCliJson::Dump(list) << "\n";
  }
  return code;
}
