#pragma once

#include "HubDriver.h"
#include "UsbBinding.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TCliContext;
class TCliArgs;
class TTargetDev;

// The outcome of a device command on one hub.
struct THubResult {
  std::string path;
  int code = 0;        // exit code of this hub's part
  std::string message; // what happened, for the result line
};

// One device command's view of the hubs: the driver, the IDs it talks to, which hubs the
// command acts on (--device, --all, or the only one present), and running the per-hub work,
// in parallel for --all.
class TCliHubSession {
public:
  explicit TCliHubSession(TCliContext& context);
  ~TCliHubSession();

  THubDriver& Driver() { return *FDriver; }
  const TUsbBinding& Bound() const { return FBound; }
  bool Simulated() const;

  // The hubs to act on. TCliError 69 when there is none, 64 when several are present and
  // neither --device nor (where allowed) --all chose.
  std::vector<std::string> Select(const TCliArgs& args, bool allowAll);

  // Opens the channel to `path`; on failure fills `result` (77 with the fix for access denied,
  // 69 for a hub that is gone, 74 otherwise) and returns nullptr.
  std::unique_ptr<TTargetDev> OpenHub(const std::string& path, THubResult& result);
  // Opens the channels to all of `paths` with one listing of the hubs; a result per path, filled
  // in (as by OpenHub) for each that did not open.
  std::vector<std::unique_ptr<TTargetDev>> OpenHubs(const std::vector<std::string>& paths,
                                                    std::vector<THubResult>& results);
  // What OpenHub fills in for a hub that did not open, by why.
  static void OpenFailed(THubError why, THubResult& result);

  // Opens every hub first, then runs `work` on each open channel, one thread per hub when there
  // are several (the channel is closed afterwards). Prints one result line per hub (or the single
  // hub's outcome) and returns the exit code: a single hub's own code, or with several 0 when all
  // succeeded and 74 otherwise.
  int Run(const std::vector<std::string>& paths,
          const std::function<void(TTargetDev&, THubResult&)>& work);

  // The message for a failed transfer on an open channel, by the driver's reason.
  static void TransferFailed(const TTargetDev& channel, const std::string& what,
                             THubResult& result);
  static std::string AccessFix();

private:
  TCliContext& FContext;
  TUsbBinding FBound;
  std::unique_ptr<THubDriver> FDriver;
};
