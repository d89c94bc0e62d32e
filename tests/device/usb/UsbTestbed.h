#pragma once

#include "UsbBinding.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// How an emulated hub misbehaves.
enum class THubFault {
  None,
  Stall,            // every control request ends with a stall (-EPIPE)
  NoAnswer,         // requests are accepted and never completed: the host times out
  ShortRead,        // a read returns one byte less than asked for
  UnplugMidRequest, // the hub vanishes while a request runs: half a write lands, then ENODEV
};

// One control request as the emulated hub received it.
struct TSeenRequest {
  uint8_t RequestType = 0;
  uint8_t Request = 0;
  uint16_t Value = 0;
  uint16_t Index = 0;
  uint16_t Length = 0;
  std::vector<uint8_t> Data; // the data stage of a host-to-device request
};

// A hub in the testbed: a 512-byte EEPROM behind the two vendor requests, answered by an ioctl
// handler on umockdev's worker thread. Every field but the constant ones is guarded by Lock.
struct TEmulatedHub {
  std::string SysPath;
  std::string DevNode;
  std::mutex Lock;
  std::array<uint8_t, 512> Eeprom{};
  std::vector<TSeenRequest> Requests;
  THubFault Fault = THubFault::None;
  bool Gone = false;
  std::deque<UMockdevIoctlData*> Reapable; // finished URBs, handed back on reap
  std::vector<UMockdevIoctlData*> Unanswered;

  std::vector<TSeenRequest> SeenRequests() {
    std::lock_guard lock(Lock);
    return Requests;
  }
  void SetFault(THubFault fault) {
    std::lock_guard lock(Lock);
    Fault = fault;
  }
  // Completes the requests held back so far as if the hub had carried them out (writes are
  // stored when they arrive). False when none was waiting.
  bool AnswerUnanswered();
};

// A sysfs and /dev/bus/usb of our own making. Create it before the driver whose libusb context
// should see it; run the test program under umockdev-wrapper.
class TUsbTestbed {
public:
  TUsbTestbed();
  ~TUsbTestbed();
  TUsbTestbed(const TUsbTestbed&) = delete;
  TUsbTestbed& operator=(const TUsbTestbed&) = delete;

  // `name` is the kernel's name for the device, e.g. "1-1.4"; its parent ("1-1") must have been
  // added first for the full port path to be seen.
  TEmulatedHub& AddDevice(const std::string& name, TUsbId id, uint8_t deviceClass = 9);
  // The hub is pulled out: removed from sysfs, with a removal event, and every open handle
  // fails from now on.
  void Unplug(TEmulatedHub& hub);

private:
  UMockdevTestbed* FTestbed;
  std::vector<std::unique_ptr<TEmulatedHub>> FHubs;
  std::vector<UMockdevIoctlBase*> FHandlers;
  int FNextDevnum = 2;
};
