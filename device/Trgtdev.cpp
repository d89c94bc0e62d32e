#include "Trgtdev.h"

#include "ByteBlock.h"
#include "HubRequests.h"

#include <cstring>

TTargetDev::TOutOfMemoryHook TTargetDev::FOutOfMemoryHook = nullptr;

void TTargetDev::SetOutOfMemoryHook(TOutOfMemoryHook hook) {
  FOutOfMemoryHook = hook;
}

TTargetDev::TTargetDev(THubDriver& driver, const std::string& path)
    : FDriver(driver), FPath(path) {}

TTargetDev::~TTargetDev() {
  Close();
}

void TTargetDev::NoteFailure() {
  FLastError = FDriver.LastError();
  FLastSentNothing = FDriver.LastFailureSentNothing();
  // A driver that failed without saying why still failed.
  if (FLastError == THubError::None) {
    FLastError = THubError::Other;
  }
}

bool TTargetDev::Open() {
  if (IsOpen()) {
    // Opened once per channel; a second handle would leak the first.
    FLastError = THubError::Other;
    return false;
  }
  FLastError = THubError::None;
  FHandle = FDriver.Open(FPath);
  if (FHandle == kInvalidHandle) {
    NoteFailure();
    return false;
  }
  return true;
}

bool TTargetDev::Close() {
  if (FHandle == kInvalidHandle) {
    return true;
  }
  if (!FDriver.Close(FHandle)) {
    NoteFailure();
    return false;
  }
  FHandle = kInvalidHandle;
  return true;
}

bool TTargetDev::ControlTransfer(bool write, uint8_t* data, uint32_t n) {
  FLastError = THubError::None;
  // The failures refused here, before the driver, are known to have sent nothing.
  FLastSentNothing = true;
  // Nothing is handed to a driver on a channel without a handle, or for more than wLength
  // can say (the hub would be told a different length than the data stage carries).
  if (!IsOpen() || n > kMaxTransferLength || (n > 0 && data == nullptr)) {
    FLastError = THubError::Other;
    return false;
  }

  const uint32_t size = kRecHeaderSize + n;
  const TByteBlock block(size); // every byte not set below stays zero
  uint8_t* record = block.Get();
  if (record == nullptr) {
    if (FOutOfMemoryHook != nullptr) {
      FOutOfMemoryHook();
    }
    FLastError = THubError::Other;
    return false;
  }

  // Setup packet.
  record[kRecRequestType] = write ? kRequestTypeVendorOut : kRequestTypeVendorIn; // bmRequestType
  record[kRecRequest] = write ? kRequestWriteEeprom : kRequestReadEeprom;         // bRequest
  PutLe16(record + kRecValue, 0);                                                 // wValue
  PutLe16(record + kRecIndex, 0);                         // wIndex: the EEPROM's first byte
  PutLe16(record + kRecLength, static_cast<uint16_t>(n)); // wLength
  // Driver fields.
  PutLe32(record + kRecTimeout, kTransferTimeout); // time-out
  record[kRecReserved] = 0;                        // reserved byte
  record[kRecEndpoint] = 0;                        // endpoint address: the default pipe
  // Driver status (14), USB status (18) and the reserved word at 22 stay zero.
  PutLe32(record + kRecReserved2, 0);               // reserved word
  PutLe32(record + kRecDataOffset, kRecHeaderSize); // data offset
  PutLe32(record + kRecDataLength, n);              // data length
  if (write && n > 0) {
    std::memcpy(record + kRecHeaderSize, data, n);
  }

  uint32_t returned = 0;
  const bool called = FDriver.IoControl(FHandle, kIoctlControlTransfer, record, size, &returned);
  const int32_t usbStatus = static_cast<int32_t>(GetLe32(record + kRecUsbStatus));
  const bool ok = called && usbStatus >= 0;
  if (!called) {
    NoteFailure();
  } else if (!ok) {
    // The driver delivered the request but the hub refused it.
    FLastError = THubError::Stalled;
    FLastSentNothing = false;
  }

  // Copied back whatever the result; callers use the bytes only on success.
  if (!write && n > 0) {
    std::memcpy(data, record + kRecHeaderSize, n);
  }
  return ok;
}
