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

  // Called when the request record cannot be allocated, before the transfer fails; the device
  // layer shows nothing itself, the application installs what the user sees.
  using TOutOfMemoryHook = void (*)();
  static void SetOutOfMemoryHook(TOutOfMemoryHook hook);

  TTargetDev(const TTargetDev&) = delete;
  TTargetDev& operator=(const TTargetDev&) = delete;

  bool Open();
  bool Close();
  bool ControlTransfer(bool write, uint8_t* data, uint32_t n);

  const std::string& Path() const { return FPath; }
  bool IsOpen() const { return FHandle != kInvalidHandle; }
  // Why the last failing Open, ControlTransfer or Close failed (for messages that add the fix).
  // Taken from the driver when the call fails, so a later Close cannot overwrite it.
  THubError LastError() const { return FLastError; }
  // The last failing call is known not to have reached the hub (a serial number that was to go
  // with it may go to another board).
  bool LastFailureSentNothing() const { return FLastSentNothing; }

private:
  THubDriver& FDriver;
  THandle FHandle = kInvalidHandle;
  const std::string FPath;
  THubError FLastError = THubError::None;
  bool FLastSentNothing = false;

  void NoteFailure();

  static TOutOfMemoryHook FOutOfMemoryHook;
};
