#pragma once

#include "UsbHubs.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct libusb_context;
struct libusb_device;

// Real hubs through libusb, built into the module korvane-usb (the tests link it directly).
// Only bound hubs are published, opened and sent requests. The
// request record is carried out as one control transfer on the device's default pipe; nothing
// is claimed, so the kernel's hub driver keeps the hub. Calls on different handles may come
// from different threads at once; LastError is kept per thread, like the platform's own.
class TUsbHubDriver : public TUsbHubs {
public:
  explicit TUsbHubDriver(TUsbBinding binding);
  ~TUsbHubDriver() override;

  TUsbHubDriver(const TUsbHubDriver&) = delete;
  TUsbHubDriver& operator=(const TUsbHubDriver&) = delete;

  bool PresentInterfaces(std::vector<std::string>& paths) override;
  THandle Open(const std::string& path) override;
  bool IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                 uint32_t* returned) override;
  bool Close(THandle handle) override;
  THubError LastError() const override;
  // Through libusb's hot-plug events where the platform has them; a plain wait otherwise.
  bool WaitForChange(std::chrono::milliseconds timeout) override;

  bool Enumerate(std::vector<TUsbDeviceInfo>& devices) override;
  THubError Probe(const std::string& path) override;
  const TUsbBinding& Binding() const override { return FBinding; }

  // The one place where libusb's error codes become the seam's error kinds.
  static THubError TranslateError(int libusbError);
  static std::string FormatPath(uint8_t bus, const uint8_t* ports, int count);
  // Bus first, then the port path number by number: usb:1-1.2 before usb:1-1.10.
  static bool PathLess(const std::string& a, const std::string& b);

private:
  struct TOpenHub;

  bool Fail(THubError error);
  // The present device at `path` with a reference taken, or null (and why in `error`).
  libusb_device* FindDevice(const std::string& path, bool boundOnly, THubError& error);
  std::shared_ptr<TOpenHub> FindHandle(THandle handle);

  const TUsbBinding FBinding;
  libusb_context* FContext = nullptr;
  THubError FInitError = THubError::None;
  enum class THotplug { Unknown, On, Off };
  THotplug FHotplug = THotplug::Unknown; // registered on the first wait
  int FHotplugHandle = 0;
  std::atomic<bool> FChanged{false};

  mutable std::mutex FLock; // guards the two maps and FNextHandle
  std::map<THandle, std::shared_ptr<TOpenHub>> FHandles;
  THandle FNextHandle = 1;
  std::map<std::thread::id, THubError> FErrors;
};
