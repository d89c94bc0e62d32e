#include "UsbHubDriver.h"

#include "HubRequests.h"

#include <libusb.h>

#include <algorithm>
#include <climits>

namespace {

void PutStatus(uint8_t* record, int32_t status) {
  PutLe32(record + kRecUsbStatus, static_cast<uint32_t>(status));
}

// Frees the list and drops the references it holds, on every path.
struct TDeviceList {
  libusb_device** Devices = nullptr;
  ssize_t Count = 0;
  explicit TDeviceList(libusb_context* context) {
    Count = libusb_get_device_list(context, &Devices);
  }
  ~TDeviceList() {
    if (Count >= 0)
      libusb_free_device_list(Devices, 1);
  }
  TDeviceList(const TDeviceList&) = delete;
  TDeviceList& operator=(const TDeviceList&) = delete;
};

bool Describe(libusb_device* device, const TUsbBinding& binding, TUsbDeviceInfo& info) {
  libusb_device_descriptor descriptor;
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
    return false;
  uint8_t ports[8];
  int count = libusb_get_port_numbers(device, ports, sizeof ports);
  if (count < 0)
    return false;
  info.Id = TUsbId{descriptor.idVendor, descriptor.idProduct};
  info.Path = TUsbHubDriver::FormatPath(libusb_get_bus_number(device), ports, count);
  info.DeviceClass = descriptor.bDeviceClass;
  info.Bound = binding.IsBound(info.Id);
  return true;
}

// "usb:1-1.10" -> {1, 1, 10}; the numbers in order, whatever separates them.
std::vector<unsigned long> PathNumbers(const std::string& path) {
  std::vector<unsigned long> numbers;
  unsigned long value = 0;
  bool inNumber = false;
  for (char c : path) {
    if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned long>(c - '0');
      inNumber = true;
    } else if (inNumber) {
      numbers.push_back(value);
      value = 0;
      inNumber = false;
    }
  }
  if (inNumber)
    numbers.push_back(value);
  return numbers;
}

} // namespace

struct TUsbHubDriver::TOpenHub {
  libusb_device_handle* Handle;
  explicit TOpenHub(libusb_device_handle* handle) : Handle(handle) {}
  ~TOpenHub() { libusb_close(Handle); }
  TOpenHub(const TOpenHub&) = delete;
  TOpenHub& operator=(const TOpenHub&) = delete;
};

TUsbHubDriver::TUsbHubDriver(TUsbBinding binding) : FBinding(std::move(binding)) {
  int result = libusb_init(&FContext);
  if (result != LIBUSB_SUCCESS) {
    FContext = nullptr;
    FInitError = TranslateError(result);
  }
}

TUsbHubDriver::~TUsbHubDriver() {
  // Every device handle must be closed before its context goes.
  FHandles.clear();
  if (FContext && FHotplug == THotplug::On)
    libusb_hotplug_deregister_callback(FContext, FHotplugHandle);
  if (FContext)
    libusb_exit(FContext);
}

bool TUsbHubDriver::WaitForChange(std::chrono::milliseconds timeout) {
  if (FContext && FHotplug == THotplug::Unknown) {
    FHotplug = THotplug::Off;
    const auto changed = [](libusb_context*, libusb_device*, libusb_hotplug_event,
                            void* driver) -> int {
      static_cast<TUsbHubDriver*>(driver)->FChanged = true;
      return 0; // stay registered
    };
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
        libusb_hotplug_register_callback(
            FContext,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            LIBUSB_HOTPLUG_MATCH_ANY, changed, this, &FHotplugHandle) == LIBUSB_SUCCESS)
      FHotplug = THotplug::On;
  }
  if (FHotplug != THotplug::On)
    return THubDriver::WaitForChange(timeout);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!FChanged && std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    timeval wait{static_cast<time_t>(left.count() / 1000000),
                 static_cast<suseconds_t>(left.count() % 1000000)};
    libusb_handle_events_timeout_completed(FContext, &wait, nullptr);
  }
  return FChanged.exchange(false);
}

THubError TUsbHubDriver::TranslateError(int libusbError) {
  switch (libusbError) {
  case LIBUSB_SUCCESS:
    return THubError::None;
  case LIBUSB_ERROR_ACCESS:
    return THubError::AccessDenied;
  case LIBUSB_ERROR_NOT_FOUND:
  case LIBUSB_ERROR_NO_DEVICE:
    return THubError::NotFound;
  case LIBUSB_ERROR_TIMEOUT:
    return THubError::Timeout;
  case LIBUSB_ERROR_PIPE:
    return THubError::Stalled;
  case LIBUSB_ERROR_IO:
  case LIBUSB_ERROR_OVERFLOW:
    return THubError::Io;
  default:
    return THubError::Other;
  }
}

std::string TUsbHubDriver::FormatPath(uint8_t bus, const uint8_t* ports, int count) {
  // A root hub has no port path; the kernel calls its port side "<bus>-0".
  std::string path = "usb:" + std::to_string(bus) + "-";
  if (count <= 0)
    return path + "0";
  for (int i = 0; i < count; ++i) {
    if (i > 0)
      path += ".";
    path += std::to_string(ports[i]);
  }
  return path;
}

bool TUsbHubDriver::PathLess(const std::string& a, const std::string& b) {
  auto left = PathNumbers(a);
  auto right = PathNumbers(b);
  if (left != right)
    return left < right;
  return a < b;
}

bool TUsbHubDriver::Fail(THubError error) {
  std::lock_guard lock(FLock);
  FErrors[std::this_thread::get_id()] = error;
  return false;
}

THubError TUsbHubDriver::LastError() const {
  std::lock_guard lock(FLock);
  auto found = FErrors.find(std::this_thread::get_id());
  return found == FErrors.end() ? THubError::None : found->second;
}

bool TUsbHubDriver::Enumerate(std::vector<TUsbDeviceInfo>& devices) {
  devices.clear();
  if (!FContext)
    return Fail(FInitError);
  TDeviceList list(FContext);
  if (list.Count < 0)
    return Fail(TranslateError(static_cast<int>(list.Count)));
  for (ssize_t i = 0; i < list.Count; ++i) {
    TUsbDeviceInfo info;
    if (Describe(list.Devices[i], FBinding, info))
      devices.push_back(info);
  }
  std::sort(devices.begin(), devices.end(), [](const TUsbDeviceInfo& a, const TUsbDeviceInfo& b) {
    return PathLess(a.Path, b.Path);
  });
  return true;
}

bool TUsbHubDriver::PresentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  std::vector<TUsbDeviceInfo> devices;
  if (!Enumerate(devices))
    return false;
  for (const TUsbDeviceInfo& device : devices)
    if (device.Bound)
      paths.push_back(device.Path);
  return true;
}

libusb_device* TUsbHubDriver::FindDevice(const std::string& path, bool boundOnly,
                                         THubError& error) {
  if (!FContext) {
    error = FInitError;
    return nullptr;
  }
  TDeviceList list(FContext);
  if (list.Count < 0) {
    error = TranslateError(static_cast<int>(list.Count));
    return nullptr;
  }
  for (ssize_t i = 0; i < list.Count; ++i) {
    TUsbDeviceInfo info;
    if (Describe(list.Devices[i], FBinding, info) && info.Path == path &&
        (info.Bound || !boundOnly))
      return libusb_ref_device(list.Devices[i]);
  }
  error = THubError::NotFound;
  return nullptr;
}

THandle TUsbHubDriver::Open(const std::string& path) {
  THubError error = THubError::None;
  libusb_device* device = FindDevice(path, true, error);
  if (!device) {
    Fail(error);
    return kInvalidHandle;
  }
  libusb_device_handle* opened = nullptr;
  int result = libusb_open(device, &opened);
  libusb_unref_device(device);
  if (result != LIBUSB_SUCCESS) {
    Fail(TranslateError(result));
    return kInvalidHandle;
  }
  auto hub = std::make_shared<TOpenHub>(opened);
  std::lock_guard lock(FLock);
  THandle handle = FNextHandle++;
  FHandles.emplace(handle, std::move(hub));
  return handle;
}

THubError TUsbHubDriver::Probe(const std::string& path) {
  THubError error = THubError::None;
  libusb_device* device = FindDevice(path, false, error);
  if (!device)
    return error;
  libusb_device_handle* opened = nullptr;
  int result = libusb_open(device, &opened);
  libusb_unref_device(device);
  if (result != LIBUSB_SUCCESS)
    return TranslateError(result);
  libusb_close(opened);
  return THubError::None;
}

std::shared_ptr<TUsbHubDriver::TOpenHub> TUsbHubDriver::FindHandle(THandle handle) {
  std::lock_guard lock(FLock);
  auto found = FHandles.find(handle);
  return found == FHandles.end() ? nullptr : found->second;
}

bool TUsbHubDriver::IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                              uint32_t* returned) {
  if (returned)
    *returned = 0;
  // Held while the transfer runs, so that a Close from another thread cannot pull the device
  // handle away underneath it.
  std::shared_ptr<TOpenHub> hub = FindHandle(handle);
  if (!hub || code != kIoctlControlTransfer || !buffer || size < kRecHeaderSize)
    return Fail(THubError::Other);

  const uint16_t length = GetLe16(buffer + kRecLength);
  const uint32_t timeoutSeconds = GetLe32(buffer + kRecTimeout);
  // A malformed record is refused before anything reaches the hub. A time-out of 0 would make
  // libusb wait without limit, hanging the caller on a hub that never answers.
  if (GetLe32(buffer + kRecDataOffset) != kRecHeaderSize ||
      GetLe32(buffer + kRecDataLength) != length || size != kRecHeaderSize + length ||
      timeoutSeconds == 0) {
    PutStatus(buffer, LIBUSB_ERROR_INVALID_PARAM);
    return Fail(THubError::Other);
  }
  const unsigned timeoutMs =
      timeoutSeconds > UINT_MAX / 1000 ? UINT_MAX : static_cast<unsigned>(timeoutSeconds * 1000);

  int result = libusb_control_transfer(hub->Handle, buffer[kRecRequestType], buffer[kRecRequest],
                                       GetLe16(buffer + kRecValue), GetLe16(buffer + kRecIndex),
                                       buffer + kRecHeaderSize, length, timeoutMs);
  if (result >= 0 && result != length) {
    // Fewer bytes than asked for: for a read, the rest of the data would be stale zeros taken
    // for EEPROM contents; for a write, the EEPROM holds only part of the image.
    PutStatus(buffer, LIBUSB_ERROR_IO);
    return Fail(THubError::Io);
  }
  if (result < 0) {
    PutStatus(buffer, result);
    return Fail(TranslateError(result));
  }
  PutStatus(buffer, 0);
  if (returned)
    *returned = size;
  return true;
}

bool TUsbHubDriver::Close(THandle handle) {
  std::shared_ptr<TOpenHub> hub;
  {
    std::lock_guard lock(FLock);
    auto found = FHandles.find(handle);
    if (found == FHandles.end()) {
      FErrors[std::this_thread::get_id()] = THubError::Other;
      return false;
    }
    hub = std::move(found->second);
    FHandles.erase(found);
  }
  // The device handle closes here, outside the lock, or when a transfer still running on it ends.
  return true;
}
