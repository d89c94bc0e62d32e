#include "UsbHubs.h"

#include "Module.h"

std::unique_ptr<TUsbHubs> TUsbHubs::Load(TUsbBinding binding) {
  using TNew = TUsbHubs* (*)(const TUsbBinding&);
  const auto create = reinterpret_cast<TNew>(TModule::Entry("korvane-usb", "korvane_usb_new"));
  TUsbHubs* driver = create(binding);
  if (driver == nullptr) {
    throw TModuleError("the USB driver could not be started (no memory)");
  }
  return std::unique_ptr<TUsbHubs>(driver);
}
