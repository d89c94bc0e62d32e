#include "DeferredHubDriver.h"

TDeferredHubDriver::TDeferredHubDriver(std::function<std::unique_ptr<THubDriver>()> make)
    : FMake(std::move(make)) {}

THubDriver* TDeferredHubDriver::Driver() const {
  std::call_once(FMade, [this] {
    FDriver = FMake();
    FMake = nullptr;
  });
  return FDriver.get();
}

bool TDeferredHubDriver::PresentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  return Driver() != nullptr && Driver()->PresentInterfaces(paths);
}

THandle TDeferredHubDriver::Open(const std::string& path) {
  return Driver() != nullptr ? Driver()->Open(path) : kInvalidHandle;
}

bool TDeferredHubDriver::IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                                   uint32_t* returned) {
  return Driver() != nullptr && Driver()->IoControl(handle, code, buffer, size, returned);
}

bool TDeferredHubDriver::Close(THandle handle) {
  return Driver() != nullptr && Driver()->Close(handle);
}

THubError TDeferredHubDriver::LastError() const {
  return Driver() != nullptr ? Driver()->LastError() : THubError::Other;
}

bool TDeferredHubDriver::WaitForChange(std::chrono::milliseconds timeout) {
  return Driver() != nullptr ? Driver()->WaitForChange(timeout)
                             : THubDriver::WaitForChange(timeout);
}

bool TDeferredHubDriver::LastFailureSentNothing() const {
  return Driver() == nullptr || Driver()->LastFailureSentNothing();
}
