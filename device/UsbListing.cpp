#include "UsbListing.h"

#include "UsbHubs.h"

bool TUsbListing::Make(TUsbHubs& driver) {
  FEntries.clear();
  std::vector<TUsbDeviceInfo> devices;
  if (!driver.Enumerate(devices))
    return false;
  for (const TUsbDeviceInfo& device : devices) {
    bool hub = device.DeviceClass == kHubClass;
    if (!hub && !device.Bound)
      continue;
    FEntries.push_back({device.Id, device.Path, hub, device.Bound, driver.Probe(device.Path)});
  }
  return true;
}

const char* TUsbListing::ErrorText(THubError error) {
  switch (error) {
  case THubError::None:
    return "opens";
  case THubError::AccessDenied:
    return "access denied";
  case THubError::NotFound:
    return "not found";
  case THubError::Timeout:
    return "timed out";
  case THubError::Stalled:
    return "stalled";
  case THubError::Io:
    return "I/O error";
  case THubError::Other:
    break;
  }
  return "failed";
}
