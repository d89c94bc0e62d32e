#pragma once

#include "HubDriver.h"

#include <functional>
#include <memory>
#include <mutex>

// A driver made on the first call that needs it, so that a program which may never talk to a
// hub (the window, until a device command) does not load the USB stack at start. When `make`
// gives no driver, every call fails with Other.
class TDeferredHubDriver : public THubDriver {
public:
  explicit TDeferredHubDriver(std::function<std::unique_ptr<THubDriver>()> make);

  bool PresentInterfaces(std::vector<std::string>& paths) override;
  THandle Open(const std::string& path) override;
  bool IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                 uint32_t* returned) override;
  bool Close(THandle handle) override;
  THubError LastError() const override;
  bool WaitForChange(std::chrono::milliseconds timeout) override;
  bool LastFailureSentNothing() const override;

private:
  THubDriver* Driver() const;

  mutable std::once_flag FMade;
  mutable std::function<std::unique_ptr<THubDriver>()> FMake;
  mutable std::unique_ptr<THubDriver> FDriver;
};
