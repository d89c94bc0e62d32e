#include "SimulatedHub.h"

#include "HubRequests.h"
#include "ImageFile.h"
#include "RegularFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

struct TSimulatedHubDriver::THub {
  std::string FFile;
  std::string FPath;
  std::mutex FLock; // FData, FFaults, FRequests
  std::mutex FBus;  // held for a whole request: one request at a time per hub, as on the bus
  std::vector<uint8_t> FData;
  TFaults FFaults;
  uint32_t FRequests = 0;
  std::atomic<bool> FFromFolder{false}; // gone when its file is
};

namespace {

// A new EEPROM file goes through the image files' own writer, so that a failed creation leaves
// nothing half-made, and without listing its folder, so that many new hubs in one folder stay
// cheap. Writes to an existing one go over its bytes in place, as the EEPROM itself takes them:
// no new file and no rename, so that many hubs written at once stay cheap.
bool CreateEeprom(const std::string& file, const std::vector<uint8_t>& bytes) {
  return TImageFile::Create(file, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

using TAddProblem = TSimulatedHubDriver::TAddProblem;

bool LoadEeprom(const std::string& file, std::vector<uint8_t>& bytes, std::string& error,
                TAddProblem& problem) {
  problem = TAddProblem::Unreadable;
  std::error_code code;
  const fs::file_status status = fs::status(file, code);
  if (!fs::is_regular_file(status)) {
    error = file + ": not a regular file";
    return false;
  }
  const uintmax_t size = fs::file_size(file, code);
  if (code) {
    error = file + ": " + code.message();
    return false;
  }
  if (size != TSimulatedHubDriver::kEepromSize) {
    problem = TAddProblem::NotAnEeprom;
    error = file + " holds " + std::to_string(size) + " bytes, but a simulated EEPROM is exactly " +
            std::to_string(TSimulatedHubDriver::kEepromSize) +
            " bytes: it is probably an image file, not an EEPROM";
    return false;
  }
  std::string text;
  const TRegularFile::TResult read =
      TRegularFile::Read(file, TSimulatedHubDriver::kEepromSize, text);
  // A file that grows while it is read is read as far as an EEPROM goes.
  if (text.size() != TSimulatedHubDriver::kEepromSize) {
    const char* reason = read.status == TRegularFile::TStatus::Failed ? std::strerror(read.error)
                         : read.status == TRegularFile::TStatus::TooLarge
                             ? "it grew before it was read"
                             : "it became shorter while it was read";
    error = file + ": could not be read: " + reason;
    return false;
  }
  bytes.assign(text.begin(), text.end());
  return true;
}

} // namespace

TSimulatedHubDriver::TSimulatedHubDriver() = default;
TSimulatedHubDriver::~TSimulatedHubDriver() = default;

bool TSimulatedHubDriver::AddHub(const std::string& file, std::string& error,
                                 TAddProblem* problem) {
  TAddProblem why = TAddProblem::None;
  const bool added = Add(file, error, why);
  if (problem != nullptr) {
    *problem = why;
  }
  return added;
}

bool TSimulatedHubDriver::Add(const std::string& file, std::string& error, TAddProblem& problem) {
  std::lock_guard<std::mutex> guard(FLock);
  if (file.empty()) {
    problem = TAddProblem::Unreadable;
    error = "no EEPROM file named";
    return false;
  }
  // One file under two names is one hub: the same name, or the same inode (a symbolic or hard
  // link, another spelling of the path; writes keep the inode, as they go in place). Looked up,
  // not compared with every earlier hub, so that adding many hubs stays fast.
  std::error_code code;
  struct stat status {};
  const bool exists = ::stat(file.c_str(), &status) == 0;
  const TFileId id{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
  const auto sameInode = exists ? FByInode.find(id) : FByInode.end();
  if (FByName.count(file) != 0 ||
      (sameInode != FByInode.end() && fs::equivalent(sameInode->second->FFile, file, code))) {
    problem = TAddProblem::Duplicate;
    error = file + ": this EEPROM file is already a simulated hub";
    return false;
  }
  auto hub = std::make_unique<THub>();
  hub->FFile = file;
  hub->FPath = PathOf(file);
  code.clear();
  if (!fs::exists(fs::symlink_status(file, code))) {
    if (code && code != std::errc::no_such_file_or_directory) {
      problem = TAddProblem::Unreadable;
      error = file + ": " + code.message();
      return false;
    }
    hub->FData.assign(kEepromSize, 0xFF); // a blank EEPROM
    if (!CreateEeprom(file, hub->FData)) {
      problem = TAddProblem::CannotCreate;
      error = file + ": could not create a blank EEPROM file there";
      return false;
    }
  } else if (!LoadEeprom(file, hub->FData, error, problem)) {
    return false;
  }
  problem = TAddProblem::None;
  struct stat created {};
  if (::stat(file.c_str(), &created) == 0) {
    FByInode[{static_cast<uint64_t>(created.st_dev), static_cast<uint64_t>(created.st_ino)}] =
        hub.get();
  }
  FByName[file] = hub.get();
  FByPath[hub->FPath] = hub.get();
  FHubs.push_back(std::move(hub));
  return true;
}

TSimulatedHubDriver::THub* TSimulatedHubDriver::Find(const std::string& path) const {
  const auto found = FByPath.find(path);
  return found == FByPath.end() ? nullptr : found->second;
}

// Hubs are never removed, so the pointer stays good after the list's lock is let go.
TSimulatedHubDriver::THub* TSimulatedHubDriver::Lookup(const std::string& path) const {
  std::lock_guard<std::mutex> guard(FLock);
  return Find(path);
}

bool TSimulatedHubDriver::SetFaults(const std::string& path, const TFaults& faults) {
  THub* hub = Lookup(path);
  if (hub == nullptr) {
    return false;
  }
  std::lock_guard<std::mutex> guard(hub->FLock);
  hub->FFaults = faults;
  return true;
}

bool TSimulatedHubDriver::Contents(const std::string& path, std::vector<uint8_t>& bytes) const {
  THub* hub = Lookup(path);
  if (hub == nullptr) {
    return false;
  }
  std::lock_guard<std::mutex> guard(hub->FLock);
  bytes = hub->FData;
  return true;
}

uint32_t TSimulatedHubDriver::RequestCount(const std::string& path) const {
  THub* hub = Lookup(path);
  if (hub == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(hub->FLock);
  return hub->FRequests;
}

size_t TSimulatedHubDriver::OpenHandleCount() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FHandles.size();
}

void TSimulatedHubDriver::SetPageWriteDelay(uint32_t pageSize, std::chrono::microseconds perPage) {
  std::lock_guard<std::mutex> guard(FLock);
  FPageSize = pageSize;
  FPageTime = perPage;
}

void TSimulatedHubDriver::SetEnumerationFails(bool fails) {
  std::lock_guard<std::mutex> guard(FLock);
  FEnumerationFails = fails;
}

void TSimulatedHubDriver::Fail(THubError error, bool sentNothing) {
  std::lock_guard<std::mutex> guard(FErrorLock);
  FErrors[std::this_thread::get_id()] = {error, sentNothing};
}

THubError TSimulatedHubDriver::LastError() const {
  std::lock_guard<std::mutex> guard(FErrorLock);
  const auto found = FErrors.find(std::this_thread::get_id());
  return found == FErrors.end() ? THubError::None : found->second.FError;
}

bool TSimulatedHubDriver::LastFailureSentNothing() const {
  std::lock_guard<std::mutex> guard(FErrorLock);
  const auto found = FErrors.find(std::this_thread::get_id());
  return found != FErrors.end() && found->second.FSentNothing;
}

void TSimulatedHubDriver::WatchFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(FLock);
  FFolder = folder;
}

void TSimulatedHubDriver::SyncFolder() {
  std::string folder;
  {
    std::lock_guard<std::mutex> guard(FLock);
    folder = FFolder;
  }
  if (folder.empty()) {
    return;
  }
  std::set<std::string> present;
  std::error_code code;
  for (fs::directory_iterator entry(folder, code), end; !code && entry != end;
       entry.increment(code)) {
    const std::string name = entry->path().filename().string();
    std::error_code sizeCode;
    if (!name.empty() && name[0] != '.' && entry->is_regular_file(sizeCode) &&
        entry->file_size(sizeCode) == kEepromSize && !sizeCode) {
      present.insert(entry->path().string());
    }
  }
  std::vector<THub*> hubs;
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (const auto& hub : FHubs) {
      hubs.push_back(hub.get());
    }
  }
  for (THub* hub : hubs) {
    if (!hub->FFromFolder) {
      continue;
    }
    const auto at = present.find(hub->FFile);
    std::lock_guard<std::mutex> guard(hub->FLock);
    if (at == present.end()) {
      hub->FFaults.FGone = true;
      continue;
    }
    present.erase(at);
    if (hub->FFaults.FGone) {
      // Plugged in again: as it is now.
      std::string error;
      TAddProblem problem{};
      if (LoadEeprom(hub->FFile, hub->FData, error, problem)) {
        hub->FFaults.FGone = false;
      }
    }
  }
  for (const std::string& file : present) {
    std::string error;
    if (AddHub(file, error)) {
      std::lock_guard<std::mutex> guard(FLock);
      Find(PathOf(file))->FFromFolder = true;
    }
  }
}

bool TSimulatedHubDriver::PresentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  SyncFolder();
  std::vector<THub*> hubs;
  bool fails = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    fails = FEnumerationFails;
    for (const auto& hub : FHubs) {
      hubs.push_back(hub.get());
    }
  }
  if (fails) {
    Fail(THubError::Io);
    return false;
  }
  for (THub* hub : hubs) {
    std::lock_guard<std::mutex> guard(hub->FLock);
    if (!hub->FFaults.FGone) {
      paths.push_back(hub->FPath);
    }
  }
  return true;
}

THandle TSimulatedHubDriver::Open(const std::string& path) {
  THub* hub = Lookup(path);
  THubError error = THubError::NotFound;
  if (hub != nullptr) {
    std::lock_guard<std::mutex> guard(hub->FLock);
    if (hub->FFaults.FGone) {
      error = THubError::NotFound;
    } else if (hub->FFaults.FOpenFails) {
      error = hub->FFaults.FOpenError;
    } else {
      error = THubError::None;
    }
  }
  if (error != THubError::None) {
    Fail(error);
    return kInvalidHandle;
  }
  std::lock_guard<std::mutex> guard(FLock);
  const THandle handle = FNextHandle++;
  FHandles[handle] = hub;
  return handle;
}

bool TSimulatedHubDriver::Close(THandle handle) {
  bool known = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    known = FHandles.erase(handle) != 0;
  }
  if (!known) {
    Fail(THubError::NotFound);
  }
  return known;
}

bool TSimulatedHubDriver::IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                                    uint32_t* returned) {
  if (returned != nullptr) {
    *returned = 0;
  }
  THub* hub = nullptr;
  TWriteDelay delay;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FHandles.find(handle);
    if (found != FHandles.end()) {
      hub = found->second;
    }
    delay = {FPageSize, FPageTime};
  }
  if (hub == nullptr) {
    Fail(THubError::NotFound);
    return false;
  }
  THubError error = THubError::None;
  bool done = false;
  bool began = false;
  {
    // One request at a time per hub, as on the bus; other hubs go on meanwhile. The state lock
    // is let go while a write takes its time, so listing and opening never wait for a write.
    std::lock_guard<std::mutex> bus(hub->FBus);
    std::unique_lock<std::mutex> guard(hub->FLock);
    ++hub->FRequests;
    if (hub->FFaults.FVanishAfter > 0 && hub->FRequests > hub->FFaults.FVanishAfter) {
      hub->FFaults.FGone = true;
    }
    if (hub->FFaults.FGone) {
      error = THubError::NotFound;
    } else if (hub->FFaults.FIoControlFails) {
      error = hub->FFaults.FIoControlError;
    } else if (code != kIoctlControlTransfer || buffer == nullptr || size < kRecHeaderSize) {
      error = THubError::Other;
    } else {
      began = true;
      done = Execute(*hub, guard, buffer, size, delay, error);
    }
  }
  if (!done) {
    Fail(error, !began);
    return false;
  }
  if (returned != nullptr) {
    *returned = size;
  }
  return true;
}

bool TSimulatedHubDriver::Execute(THub& hub, std::unique_lock<std::mutex>& state, uint8_t* buffer,
                                  uint32_t size, const TWriteDelay& delay, THubError& error) {
  const uint8_t requestType = buffer[kRecRequestType];
  const uint8_t request = buffer[kRecRequest];
  const uint16_t length = GetLe16(buffer + kRecLength);
  const bool read = requestType == kRequestTypeVendorIn && request == kRequestReadEeprom;
  const bool write = requestType == kRequestTypeVendorOut && request == kRequestWriteEeprom;
  // The hub knows two requests, both from the EEPROM's first byte and no further than its end;
  // a record that does not describe its own data stage is refused too.
  const bool understood =
      (read || write) && GetLe16(buffer + kRecValue) == 0 && GetLe16(buffer + kRecIndex) == 0 &&
      length <= kEepromSize && GetLe32(buffer + kRecDataOffset) == kRecHeaderSize &&
      GetLe32(buffer + kRecDataLength) == length && size == kRecHeaderSize + length;
  uint8_t* data = buffer + kRecHeaderSize;
  if (!understood || hub.FFaults.FNegativeStatus) {
    PutLe32(buffer + kRecUsbStatus, static_cast<uint32_t>(kStallStatus));
    return true;
  }

  if (read) {
    if (hub.FFaults.FShortRead && hub.FFaults.FShortReadBytes < length) {
      std::memcpy(data, hub.FData.data(), hub.FFaults.FShortReadBytes);
      error = THubError::Io; // a short transfer is a failed one
      return false;
    }
    std::memcpy(data, hub.FData.data(), length);
  } else {
    std::vector<uint8_t> stored = hub.FData;
    std::memcpy(stored.data(), data, length);
    if (hub.FFaults.FCorruptWrite && hub.FFaults.FCorruptAddress < length) {
      stored[hub.FFaults.FCorruptAddress] ^= hub.FFaults.FCorruptMask;
    }
    if (delay.FPageSize > 0 && length > 0) {
      const uint32_t pages = (length + delay.FPageSize - 1) / delay.FPageSize;
      state.unlock();
      std::this_thread::sleep_for(delay.FPageTime * pages);
      state.lock();
    }
    // A hub whose file was taken away while it wrote is unplugged: its save must not put the
    // file back.
    std::error_code code;
    if (hub.FFaults.FGone || (hub.FFromFolder && !fs::exists(hub.FFile, code))) {
      hub.FFaults.FGone = true;
      error = THubError::NotFound;
      return false;
    }
    // The EEPROM keeps what its file keeps: a write that cannot be saved did not happen.
    if (!TImageFile::Overwrite(hub.FFile, stored.data(), static_cast<uint32_t>(stored.size()))) {
      error = THubError::Io;
      return false;
    }
    hub.FData = std::move(stored);
  }
  PutLe32(buffer + kRecUsbStatus, 0);
  return true;
}
