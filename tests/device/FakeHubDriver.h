#pragma once

#include "HubDriver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

// A hub driver that records every call and answers as the test tells it to.
class TFakeHubDriver : public THubDriver {
public:
  // What the driver answers.
  std::vector<std::string> FPaths; // present hubs, in order
  bool FEnumerates = true;         // false: the enumeration itself fails
  std::set<std::string> FRefused;  // paths whose Open fails
  THubError FOpenError = THubError::AccessDenied;
  bool FIoResult = true;           // what IoControl returns
  uint32_t FStatus = 0;            // put at offset 18 of every record
  std::vector<uint8_t> FReadBytes; // put at offset 38 of every record (as far as it reaches)
  bool FCloseResult = true;
  THubError FCallError = THubError::Io; // LastError after a failing IoControl or Close

  // What the driver saw.
  std::vector<std::string> FLog; // "list", "open <path>", "ioctl <handle>", "close <handle>"
  std::vector<std::vector<uint8_t>> FRecords; // each record as it was handed in
  std::vector<uint32_t> FCodes;
  std::set<THandle> FOpen;

  bool PresentInterfaces(std::vector<std::string>& paths) override {
    FLog.push_back("list");
    if (!FEnumerates) {
      FError = THubError::Other;
      return false;
    }
    paths = FPaths;
    return true;
  }

  THandle Open(const std::string& path) override {
    FLog.push_back("open " + path);
    if (FRefused.count(path) != 0) {
      FError = FOpenError;
      return kInvalidHandle;
    }
    const THandle handle = FNextHandle++;
    FOpen.insert(handle);
    return handle;
  }

  bool IoControl(THandle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                 uint32_t* returned) override {
    FLog.push_back("ioctl " + std::to_string(handle));
    FCodes.push_back(code);
    FRecords.emplace_back(buffer, buffer + size);
    for (int i = 0; i < 4; ++i) {
      buffer[18 + i] = static_cast<uint8_t>(FStatus >> (8 * i)); // little-endian, as on the wire
    }
    if (size > 38 && !FReadBytes.empty()) {
      std::memcpy(buffer + 38, FReadBytes.data(), std::min<size_t>(FReadBytes.size(), size - 38));
    }
    if (returned != nullptr) {
      *returned = size;
    }
    if (!FIoResult) {
      FError = FCallError;
    }
    return FIoResult;
  }

  bool Close(THandle handle) override {
    FLog.push_back("close " + std::to_string(handle));
    if (!FCloseResult) {
      FError = FCallError;
      return false;
    }
    FOpen.erase(handle);
    return true;
  }

  THubError LastError() const override { return FError; }

  size_t Count(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& entry : FLog) {
      count += entry.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
  }

private:
  THandle FNextHandle = 3;
  THubError FError = THubError::None;
};
