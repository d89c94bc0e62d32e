#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The seam below the device channel: it stands where the hub maker's driver and the platform's
// device calls stood. Every backend (real hubs through libusb, simulated hubs) and every test
// double implements exactly this.

using THandle = std::intptr_t;
constexpr THandle kInvalidHandle = -1;

enum class THubError { None, AccessDenied, NotFound, Timeout, Stalled, Io, Other };

class THubDriver {
public:
  virtual ~THubDriver() = default;
  // paths of present, bound hubs in a stable order; false when the enumeration itself failed
  virtual bool PresentInterfaces(std::vector<std::string>& paths) = 0;
  virtual THandle Open(const std::string& path) = 0; // kInvalidHandle on failure
  virtual bool IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                         uint32_t* returned) = 0; // one buffer in and out, as DeviceIoControl
  virtual bool Close(THandle handle) = 0;
  virtual THubError LastError() const = 0; // why the last failing call failed
};
