#include "UsbTestbed.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// The URB handed back on the next reap. Called with the hub's lock held.
void Finish(TEmulatedHub& hub, UMockdevIoctlData* urbData, int status, int actualLength) {
  auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
  urb->status = status;
  urb->actual_length = actualLength;
  hub.Reapable.push_back(urbData);
}

// Answers one control URB from the EEPROM. Called with the hub's lock held; the URB is queued
// for reaping or kept unanswered.
void Submit(TEmulatedHub& hub, UMockdevIoctlData* urbData, uint8_t* buffer, int bufferLength) {
  TSeenRequest seen;
  seen.RequestType = buffer[0];
  seen.Request = buffer[1];
  seen.Value = static_cast<uint16_t>(buffer[2] | buffer[3] << 8);
  seen.Index = static_cast<uint16_t>(buffer[4] | buffer[5] << 8);
  seen.Length = static_cast<uint16_t>(buffer[6] | buffer[7] << 8);
  const int length = std::min<int>(seen.Length, bufferLength - 8);
  const bool in = seen.RequestType & 0x80;
  if (!in)
    seen.Data.assign(buffer + 8, buffer + 8 + length);
  hub.Requests.push_back(seen);

  const int eepromBytes = std::min<int>(length, static_cast<int>(hub.Eeprom.size()));
  switch (hub.Fault) {
  case THubFault::Stall:
    Finish(hub, urbData, -EPIPE, 0);
    return;
  case THubFault::NoAnswer:
    if (!in)
      std::copy(buffer + 8, buffer + 8 + eepromBytes, hub.Eeprom.begin());
    hub.Unanswered.push_back(urbData);
    return;
  case THubFault::UnplugMidRequest:
    if (!in)
      std::copy(buffer + 8, buffer + 8 + eepromBytes / 2, hub.Eeprom.begin());
    hub.Gone = true;
    Finish(hub, urbData, -ESHUTDOWN, 0);
    return;
  case THubFault::None:
  case THubFault::ShortRead:
    break;
  }
  if (seen.RequestType == 0xC0 && seen.Request == 2) {
    int answered = hub.Fault == THubFault::ShortRead ? std::max(eepromBytes - 1, 0) : eepromBytes;
    std::copy(hub.Eeprom.begin(), hub.Eeprom.begin() + answered, buffer + 8);
    Finish(hub, urbData, 0, answered);
  } else if (seen.RequestType == 0x40 && seen.Request == 1) {
    std::copy(buffer + 8, buffer + 8 + eepromBytes, hub.Eeprom.begin());
    Finish(hub, urbData, 0, length);
  } else {
    // Like the hub: a request it does not know is stalled.
    Finish(hub, urbData, -EPIPE, 0);
  }
}

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
  auto& hub = *static_cast<TEmulatedHub*>(user);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  std::lock_guard lock(hub.Lock);

  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    if (hub.Reapable.empty()) {
      umockdev_ioctl_client_complete(client, -1, hub.Gone ? ENODEV : EAGAIN);
      return TRUE;
    }
    // The argument points at the caller's pointer variable, which receives the URB's address.
    GError* error = nullptr;
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), &error);
    if (!target) {
      g_clear_error(&error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
    UMockdevIoctlData* urbData = hub.Reapable.front();
    hub.Reapable.pop_front();
    umockdev_ioctl_data_set_ptr(target, 0, urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(urbData);
    return TRUE;
  }
  if (hub.Gone) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  if (request == USBDEVFS_SUBMITURB) {
    GError* error = nullptr;
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    auto* urb = urbData ? reinterpret_cast<usbdevfs_urb*>(urbData->data) : nullptr;
    UMockdevIoctlData* bufferData = nullptr;
    if (urb && urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->buffer_length >= 8)
      bufferData = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                               static_cast<gsize>(urb->buffer_length), &error);
    if (!bufferData) {
      g_clear_error(&error);
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return TRUE;
    }
    Submit(hub, static_cast<UMockdevIoctlData*>(g_object_ref(urbData)), bufferData->data,
           urb->buffer_length);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  if (request == USBDEVFS_DISCARDURB) {
    // The argument is the URB's own address; a discarded URB is reaped with -ENOENT.
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    auto found = std::find_if(hub.Unanswered.begin(), hub.Unanswered.end(),
                              [&](UMockdevIoctlData* d) { return d->client_addr == address; });
    if (found == hub.Unanswered.end()) {
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return TRUE;
    }
    Finish(hub, *found, -ENOENT, 0);
    hub.Unanswered.erase(found);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  if (request == USBDEVFS_GET_CAPABILITIES) {
    GError* error = nullptr;
    UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &error);
    if (caps)
      std::memset(caps->data, 0, sizeof(uint32_t));
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  if (request == USBDEVFS_GETDRIVER) {
    umockdev_ioctl_client_complete(client, -1, ENODATA);
    return TRUE;
  }
  // Claiming, releasing, configuration and halts: accepted, nothing to do.
  umockdev_ioctl_client_complete(client, 0, 0);
  return TRUE;
}

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X", value & 0xFF, value >> 8);
  return text;
}

} // namespace

bool TEmulatedHub::AnswerUnanswered() {
  std::lock_guard lock(Lock);
  if (Unanswered.empty())
    return false;
  for (UMockdevIoctlData* urbData : Unanswered) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    Finish(*this, urbData, 0, urb->buffer_length - 8);
  }
  Unanswered.clear();
  return true;
}

TUsbTestbed::TUsbTestbed() : FTestbed(umockdev_testbed_new()) {}

TUsbTestbed::~TUsbTestbed() {
  g_object_unref(FTestbed);
  for (UMockdevIoctlBase* handler : FHandlers)
    g_object_unref(handler);
  for (auto& hub : FHubs) {
    for (UMockdevIoctlData* urb : hub->Reapable)
      g_object_unref(urb);
    for (UMockdevIoctlData* urb : hub->Unanswered)
      g_object_unref(urb);
  }
}

TEmulatedHub& TUsbTestbed::AddDevice(const std::string& name, TUsbId id, uint8_t deviceClass) {
  size_t dash = name.find('-');
  if (dash == std::string::npos)
    throw std::invalid_argument("device name without a bus: " + name);
  const int bus = std::stoi(name.substr(0, dash));
  std::string sysPath = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
  for (size_t at = name.find('.', dash);; at = name.find('.', at + 1)) {
    sysPath += "/" + name.substr(0, at);
    if (at == std::string::npos)
      break;
  }
  const int devnum = FNextDevnum++;
  char node[32];
  std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", bus, devnum);

  auto hub = std::make_unique<TEmulatedHub>();
  hub->SysPath = "/sys" + sysPath;
  hub->DevNode = std::string("/dev/") + node;
  hub->Eeprom.fill(0xFF);

  // libusb wants the handler in place before the device node appears.
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(HandleIoctl), hub.get());
  FHandlers.push_back(handler);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(FTestbed, hub->DevNode.c_str(), handler, &error)) {
    std::string message = error->message;
    g_clear_error(&error);
    throw std::runtime_error("attach_ioctl: " + message);
  }

  char deviceClassHex[4];
  std::snprintf(deviceClassHex, sizeof deviceClassHex, "%02X", deviceClass);
  // Device descriptor, then one configuration with one interface and its interrupt endpoint.
  std::string description =
      "P: " + sysPath + "\nN: " + node + "\nE: DEVNAME=/dev/" + node +
      "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: busnum=" + std::to_string(bus) +
      "\\n\nA: devnum=" + std::to_string(devnum) + "\\n\nH: descriptors=12010002" + deviceClassHex +
      "000140" + Hex16(id.Vid) + Hex16(id.Pid) +
      "00010000000109021900010100E0320904000001090000000705810301000C\n";
  if (!umockdev_testbed_add_from_string(FTestbed, description.c_str(), &error)) {
    std::string message = error->message;
    g_clear_error(&error);
    throw std::runtime_error("add_from_string: " + message);
  }
  FHubs.push_back(std::move(hub));
  return *FHubs.back();
}

void TUsbTestbed::Unplug(TEmulatedHub& hub) {
  {
    std::lock_guard lock(hub.Lock);
    hub.Gone = true;
  }
  umockdev_testbed_uevent(FTestbed, hub.SysPath.c_str(), "remove");
  umockdev_testbed_remove_device(FTestbed, hub.SysPath.c_str());
}
