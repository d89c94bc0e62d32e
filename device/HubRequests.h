#pragma once

#include <cstdint>

// The control-transfer request record that the channel hands to a hub driver, and the hub's two
// vendor requests. One byte-packed buffer, multi-byte fields little-endian: a 38-byte header
// followed by the data stage. The driver answers in the same buffer: USB status at offset 18
// (negative means failure), the bytes of a read at offset 38.

// The I/O control code that carries the record: device type 0x22, any access, function 8,
// buffered.
constexpr uint32_t kIoctlControlTransfer = 0x00220020;

// Setup packet values of the two vendor requests.
constexpr uint8_t kRequestTypeVendorIn = 0xC0;  // device to host, vendor, device
constexpr uint8_t kRequestTypeVendorOut = 0x40; // host to device, vendor, device
constexpr uint8_t kRequestReadEeprom = 2;
constexpr uint8_t kRequestWriteEeprom = 1;

// Sent in the time-out field; its unit is the driver's (our drivers read it as seconds).
constexpr uint32_t kTransferTimeout = 20;

// Field offsets within the record.
constexpr uint32_t kRecRequestType = 0; // 1 byte, bmRequestType
constexpr uint32_t kRecRequest = 1;     // 1 byte, bRequest
constexpr uint32_t kRecValue = 2;       // 2 bytes, wValue
constexpr uint32_t kRecIndex = 4;       // 2 bytes, wIndex
constexpr uint32_t kRecLength = 6;      // 2 bytes, wLength
constexpr uint32_t kRecTimeout = 8;     // 4 bytes
constexpr uint32_t kRecReserved = 12;   // 1 byte
constexpr uint32_t kRecEndpoint = 13;   // 1 byte
constexpr uint32_t kRecDriverStatus = 14;
constexpr uint32_t kRecUsbStatus = 18; // 4 bytes, signed: negative means the request failed
constexpr uint32_t kRecReserved1 = 22;
constexpr uint32_t kRecReserved2 = 26;
constexpr uint32_t kRecDataOffset = 30; // 4 bytes, always the header size
constexpr uint32_t kRecDataLength = 34; // 4 bytes, always wLength
constexpr uint32_t kRecHeaderSize = 38; // the data stage starts here

// wLength is 16 bits wide, so no transfer carries more.
constexpr uint32_t kMaxTransferLength = 0xFFFF;

inline void PutLe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

inline uint16_t GetLe16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

inline uint32_t GetLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}
