#pragma once

#include "Discovery.h"

#include <cstdint>
#include <functional>
#include <memory>

class TEEImage;

// The device side of "Read from EEPROM", "Write to EEPROM" and "Erase EEPROM". Each searches for
// the hub, performs at most one control transfer, closes the channel's handle and returns an
// outcome; the caller only turns outcomes into its messages. The channel object stays in
// `device`, closed, until the next search replaces it.

enum class TEepromOutcome {
  EnumerationFailed, // "Can't find any devices", then "Couldn't open device"
  NoDevice,          // "Couldn't open device"
  OutOfMemory,       // a transfer buffer could not be had
  TransferFailed,    // the control transfer failed
  InvalidImage,      // read only: the bytes read are no valid image (the image is still returned)
  EmptyImage,        // write only: the image has length 0, nothing sent, no message
  Declined,          // erase only: the user did not confirm, nothing sent
  Success,
};

// The number of bytes a device read fetches.
constexpr uint32_t kEepromReadSize = 512;

// Reads 512 bytes and builds a new image from them. On Success and InvalidImage `image` holds the
// new image; on every other outcome it is left as it was.
TEepromOutcome ReadEeprom(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                          std::unique_ptr<TEEImage>& image);

// Writes exactly image.GetLength() bytes from the EEPROM's first byte.
TEepromOutcome WriteEeprom(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                           const TEEImage& image);

// Writes the single byte 0xFF. `confirm` runs after the hub was found and before anything is
// sent; anything but true declines.
TEepromOutcome EraseEeprom(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                           const std::function<bool()>& confirm);

// The same three transfers on a channel the caller opened and will close itself (the
// command-line tool, one channel per hub). These neither open nor close `open`; a channel that
// is not open gives TransferFailed. After a failure, open.LastError() says why.
TEepromOutcome ReadEepromFrom(TTargetDev& open, std::unique_ptr<TEEImage>& image);
TEepromOutcome WriteEepromTo(TTargetDev& open, const TEEImage& image);
TEepromOutcome EraseEepromOn(TTargetDev& open);
