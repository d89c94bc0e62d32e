#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
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

  // Waits at most `timeout` for a hub to be plugged in or out; true when one may have been, so
  // the caller lists the hubs again. A driver that cannot tell just waits (the caller polls).
  virtual bool WaitForChange(std::chrono::milliseconds timeout) {
    std::this_thread::sleep_for(timeout);
    return true;
  }

  // Whether the last failing call (of this thread, as LastError) is known never to have reached
  // the hub. A USB hub unplugged during a control transfer fails it just as one that was gone
  // before it did, so by default nothing is known: the request may have been sent in part.
  virtual bool LastFailureSentNothing() const { return false; }
};
