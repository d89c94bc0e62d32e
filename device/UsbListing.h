#pragma once

#include "HubDriver.h"
#include "UsbBinding.h"

#include <string>
#include <vector>

class TUsbHubs;

// One row of the listing of real hubs.
struct TUsbListEntry {
  TUsbId Id;
  std::string Path;
  bool Hub = false;                      // USB class 9
  bool Bound = false;                    // may be sent requests
  THubError OpenError = THubError::None; // None when the device opens
};

// What `korvane-cli list` shows: every present hub and every bound device, whether each is bound
// and whether it can be opened. Making it sends no request to any device.
class TUsbListing {
public:
  static constexpr uint8_t kHubClass = 9;

  // False when the enumeration itself failed (why: driver.LastError()).
  bool Make(TUsbHubs& driver);
  const std::vector<TUsbListEntry>& Entries() const { return FEntries; }

  // A few words on why a device does not open ("access denied"), or "opens".
  static const char* ErrorText(THubError error);

private:
  std::vector<TUsbListEntry> FEntries;
};
