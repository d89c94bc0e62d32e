#pragma once

#include "HubDriver.h"
#include "UsbBinding.h"

#include <memory>
#include <string>
#include <vector>

// One present USB device as the driver sees it, without opening it.
struct TUsbDeviceInfo {
  TUsbId Id;
  std::string Path; // "usb:<bus>-<port path>", e.g. "usb:1-1.4"
  uint8_t DeviceClass = 0;
  bool Bound = false;
};

// Real hubs: the driver over the platform's USB stack, which lives in a module of its own (see
// UsbHubDriver.h) and is loaded only when a command first needs a real hub.
class TUsbHubs : public THubDriver {
public:
  // The driver for the hubs bound in `binding`; TModuleError when its module cannot be loaded.
  static std::unique_ptr<TUsbHubs> Load(TUsbBinding binding);

  // Beside the seam, for listings: every present device, bound or not, in path order. Nothing
  // is opened. False when the enumeration itself failed.
  virtual bool Enumerate(std::vector<TUsbDeviceInfo>& devices) = 0;
  // Whether the device at `path`, bound or not, can be opened: it is opened and closed again,
  // and nothing is sent to it. None when it opens.
  virtual THubError Probe(const std::string& path) = 0;
  virtual const TUsbBinding& Binding() const = 0;
};
