#include "EepromCommands.h"

#include "Eeimage.h"

#include <memory>
#include <new>

namespace {

// The erase overwrites the signature byte only: an EEPROM starting with 0xFF holds no image.
constexpr uint8_t kErasedByte = 0xFF;

TEepromOutcome FromDiscovery(TDiscoveryStatus status) {
  return status == TDiscoveryStatus::EnumerationFailed ? TEepromOutcome::EnumerationFailed
                                                       : TEepromOutcome::NoDevice;
}

// Runs one command on the channel that discovery opened, then closes its handle whatever the
// command's outcome. The channel object stays in `device`.
template <typename TCommand>
TEepromOutcome OnFoundHub(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                          TCommand command) {
  const TDiscoveryStatus status = OpenDevice(driver, device);
  if (status != TDiscoveryStatus::Opened) {
    return FromDiscovery(status);
  }
  const TEepromOutcome outcome = command(*device);
  device->Close();
  return outcome;
}

} // namespace

TEepromOutcome ReadEepromFrom(TTargetDev& open, std::unique_ptr<TEEImage>& image) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kEepromReadSize]());
  if (!buffer) {
    return TEepromOutcome::OutOfMemory;
  }
  // Always the whole EEPROM, whatever kind of image it turns out to hold.
  if (!open.ControlTransfer(false, buffer.get(), kEepromReadSize)) {
    return TEepromOutcome::TransferFailed;
  }
  // The previous image goes before the new one is built, valid or not.
  image.reset();
  image = std::make_unique<TEEImage>(buffer.get(), static_cast<int32_t>(kEepromReadSize));
  return image->IsValid() ? TEepromOutcome::Success : TEepromOutcome::InvalidImage;
}

TEepromOutcome WriteEepromTo(TTargetDev& open, const TEEImage& image) {
  const uint32_t length = image.GetLength();
  if (length == 0) {
    return TEepromOutcome::EmptyImage;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]());
  if (!buffer) {
    return TEepromOutcome::OutOfMemory;
  }
  // Bytes the image cannot give are never replaced by whatever the buffer holds.
  if (!image.CopyTo(buffer.get(), length)) {
    return TEepromOutcome::TransferFailed;
  }
  return open.ControlTransfer(true, buffer.get(), length) ? TEepromOutcome::Success
                                                          : TEepromOutcome::TransferFailed;
}

TEepromOutcome EraseEepromOn(TTargetDev& open) {
  uint8_t erased = kErasedByte;
  return open.ControlTransfer(true, &erased, 1) ? TEepromOutcome::Success
                                                : TEepromOutcome::TransferFailed;
}

TEepromOutcome ReadEeprom(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                          std::unique_ptr<TEEImage>& image) {
  return OnFoundHub(driver, device,
                    [&image](TTargetDev& open) { return ReadEepromFrom(open, image); });
}

TEepromOutcome WriteEeprom(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                           const TEEImage& image) {
  // The hub is sought before the image is looked at.
  return OnFoundHub(driver, device,
                    [&image](TTargetDev& open) { return WriteEepromTo(open, image); });
}

TEepromOutcome EraseEeprom(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                           const std::function<bool()>& confirm) {
  // The question is asked only once a hub was found, and nothing is sent unless it is answered.
  return OnFoundHub(driver, device, [&confirm](TTargetDev& open) {
    if (!confirm || !confirm()) {
      return TEepromOutcome::Declined;
    }
    return EraseEepromOn(open);
  });
}
