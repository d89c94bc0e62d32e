// The module korvane-usb: real hubs through libusb. The driver's calls answer with results, not
// exceptions, so nothing needs to cross from this module's C++ runtime into the program's.
#include "UsbHubDriver.h"

#include <new>

extern "C" TUsbHubs* korvane_usb_new(const TUsbBinding& binding) noexcept {
  try {
    return new TUsbHubDriver(binding);
  } catch (...) {
    return nullptr;
  }
}
