#pragma once
// Builders shared by the device tests and the libusb backend's tests.
#include "EepromCommands.h"
#include "HubRequests.h"

#include "Eeimage.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// `n` bytes counting up from `seed` in steps of `step`.
inline TBytes Pattern(size_t n, uint8_t seed, uint8_t step) {
  TBytes bytes(n);
  for (size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<uint8_t>(seed + i * step);
  }
  return bytes;
}

inline std::unique_ptr<TEEImage> MakeImage(const TBytes& bytes) {
  return std::make_unique<TEEImage>(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// A record as the channel builds it, to be spoilt into the ones it would never send.
inline TBytes Record(uint8_t requestType, uint8_t request, uint16_t n, uint32_t timeout) {
  TBytes record(kRecHeaderSize + n, 0);
  record[kRecRequestType] = requestType;
  record[kRecRequest] = request;
  PutLe16(&record[kRecLength], n);
  PutLe32(&record[kRecTimeout], timeout);
  PutLe32(&record[kRecDataOffset], kRecHeaderSize);
  PutLe32(&record[kRecDataLength], n);
  return record;
}

inline int32_t UsbStatus(const TBytes& record) {
  return static_cast<int32_t>(GetLe32(&record[kRecUsbStatus]));
}

// Hands the whole record to the driver as one control transfer.
inline bool Send(THubDriver& driver, THandle handle, TBytes& record, uint32_t* returned = nullptr) {
  return driver.IoControl(handle, kIoctlControlTransfer, record.data(),
                          static_cast<uint32_t>(record.size()), returned);
}

enum class TCommand { Read, Write, Erase };

// Runs one of the three device commands; a write sends `image`, a read replaces it.
inline TEepromOutcome RunCommand(
    TCommand command, THubDriver& driver, std::unique_ptr<TTargetDev>& device,
    std::unique_ptr<TEEImage>& image, const std::function<bool()>& confirm = [] { return true; }) {
  switch (command) {
  case TCommand::Read:
    return ReadEeprom(driver, device, image);
  case TCommand::Write:
    return WriteEeprom(driver, device, *image);
  case TCommand::Erase:
    break;
  }
  return EraseEeprom(driver, device, confirm);
}

// A fresh folder of the test's own, removed with all it holds when the test ends.
class TTempDir {
public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("no temporary folder: " + pattern);
    }
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

private:
  std::filesystem::path FPath;
};
