#pragma once

#include "HubDriver.h"

#include <cstdint>
#include <string>

// A channel to one hub: the path that discovery found, the handle while open, and one vendor
// control transfer at a time handed to the driver as a request record.
class TTargetDev {
public:
  TTargetDev(THubDriver& driver, const std::string& path);
  virtual ~TTargetDev();

  TTargetDev(const TTargetDev&) = delete;
  TTargetDev& operator=(const TTargetDev&) = delete;

  bool Open();
  bool Close();
  bool ControlTransfer(bool write, uint8_t* data, uint32_t n);

  const std::string& Path() const { return FPath; }
  bool IsOpen() const { return FHandle != kInvalidHandle; }
  // Why the last failing driver call failed (for messages that add the fix).
  THubError LastError() const { return FDriver.LastError(); }

private:
  THubDriver& FDriver;
  THandle FHandle = kInvalidHandle;
  const std::string FPath;
};
