#pragma once

#include "HubDriver.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A hub driver whose hubs are EEPROM files: one hub per 512-byte file, published as
// `sim:<file>` in the order added. It answers the request record exactly as the hub answers its
// two vendor requests (Read EEPROM returns the first n bytes, Write EEPROM stores n bytes from byte
// 0 and saves the file), so everything above the driver runs unchanged without hardware.
//
// Safe to use from several threads at once, on different handles.
class TSimulatedHubDriver : public THubDriver {
public:
  static constexpr uint32_t kEepromSize = 512;
  // The USB status a refused or stalled request leaves at offset 18.
  static constexpr int32_t kStallStatus = static_cast<int32_t>(0xC0000004u);

  // Faults a test can switch on for one hub. All off by default.
  struct TFaults {
    bool FOpenFails = false; // Open of the path fails with FOpenError
    THubError FOpenError = THubError::AccessDenied;
    bool FIoControlFails = false; // every I/O control fails with FIoControlError, nothing done
    THubError FIoControlError = THubError::Io;
    bool FNegativeStatus = false; // requests complete with kStallStatus, nothing done
    bool FShortRead = false;      // a read delivers only FShortReadBytes, then fails (Io)
    uint32_t FShortReadBytes = 0;
    bool FCorruptWrite = false;   // a write that covers FCorruptAddress stores that byte with
    uint32_t FCorruptAddress = 0; // FCorruptMask flipped, and reports success
    uint8_t FCorruptMask = 0x01;
    bool FGone = false;        // unplugged: not listed, Open and open handles fail with NotFound
    uint32_t FVanishAfter = 0; // unplugged after this many I/O controls (0: never)
  };

  TSimulatedHubDriver();
  ~TSimulatedHubDriver() override;

  TSimulatedHubDriver(const TSimulatedHubDriver&) = delete;
  TSimulatedHubDriver& operator=(const TSimulatedHubDriver&) = delete;

  // Why a hub could not be added.
  enum class TAddProblem { None, Unreadable, NotAnEeprom, Duplicate, CannotCreate };

  // Adds the hub whose EEPROM is `file`. A missing file is created blank (512 x 0xFF); a file of
  // any other size is refused. On false, `error` says why (and `problem`, when given, what kind
  // of reason it is).
  bool AddHub(const std::string& file, std::string& error, TAddProblem* problem = nullptr);
  static std::string PathOf(const std::string& file) { return "sim:" + file; }

  // Fault injection and inspection, by path; false for a path that was never added.
  bool SetFaults(const std::string& path, const TFaults& faults);
  bool Contents(const std::string& path, std::vector<uint8_t>& bytes) const;
  // I/O control calls that reached the hub (counted even when a fault made them fail).
  uint32_t RequestCount(const std::string& path) const;
  size_t OpenHandleCount() const;

  // Makes the listing of hubs itself fail (with Io), as when the platform cannot enumerate.
  void SetEnumerationFails(bool fails);

  // Hubs that come and go: every 512-byte file in `folder` whose name does not begin with '.'
  // is a hub plugged in, from the listing that first sees it until the listing that finds it
  // gone. A file that comes back is a hub plugged in again (its file read afresh). A hub's own
  // writes go over its file's bytes in place, so they are no appearance.
  void WatchFolder(const std::string& folder);

  // Makes writes take the time a real I2C EEPROM takes: `perPage` for every started page of
  // `pageSize` bytes. A page size of 0 turns the delay off.
  void SetPageWriteDelay(uint32_t pageSize, std::chrono::microseconds perPage);

  bool PresentInterfaces(std::vector<std::string>& paths) override;
  THandle Open(const std::string& path) override;
  bool IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                 uint32_t* returned) override;
  bool Close(THandle handle) override;
  // Per calling thread, so threads on different hubs do not see each other's failures.
  THubError LastError() const override;
  // Every failure but one of a request the hub began to carry out.
  bool LastFailureSentNothing() const override;

private:
  struct THub;
  struct TWriteDelay {
    uint32_t FPageSize = 0;
    std::chrono::microseconds FPageTime{0};
  };

  mutable std::mutex FLock; // the hub list, the handles, the delay settings
  std::vector<std::unique_ptr<THub>> FHubs;
  using TFileId = std::pair<uint64_t, uint64_t>; // device and inode
  std::map<std::string, THub*> FByPath;          // "sim:FILE"
  std::map<std::string, THub*> FByName;          // FILE resolved
  std::map<TFileId, THub*> FByInode;             // FILE's inode when it was added
  std::map<THandle, THub*> FHandles;
  THandle FNextHandle = 1;
  uint32_t FPageSize = 0;
  std::chrono::microseconds FPageTime{0};
  bool FEnumerationFails = false;
  std::string FFolder; // watched for hubs, or empty

  mutable std::mutex FErrorLock; // taken alone, never while holding another lock
  struct TFailure {
    THubError FError = THubError::None;
    bool FSentNothing = true;
  };
  std::map<std::thread::id, TFailure> FErrors;

  bool Add(const std::string& file, std::string& error, TAddProblem& problem);
  void SyncFolder();
  THub* Find(const std::string& path) const;   // with FLock held
  THub* Lookup(const std::string& path) const; // takes FLock
  void Fail(THubError error, bool sentNothing = true);
  static bool Execute(THub& hub, std::unique_lock<std::mutex>& state, uint8_t* buffer,
                      uint32_t size, const TWriteDelay& delay, THubError& error);
};
