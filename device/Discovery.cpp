#include "Discovery.h"

#include <algorithm>
#include <set>
#include <vector>

namespace {

void Tell(THubError* why, THubError error) {
  if (why != nullptr) {
    *why = error;
  }
}

// Tries the candidates in order. One channel object at a time: a channel whose path does not open
// is destroyed before the next one is created.
TDiscoveryStatus OpenFirst(THubDriver& driver, const std::vector<std::string>& paths,
                           std::unique_ptr<TTargetDev>& device, THubError* why) {
  THubError failure = THubError::NotFound;
  bool accessDenied = false;
  for (const std::string& path : paths) {
    device = std::make_unique<TTargetDev>(driver, path);
    if (device->Open()) {
      Tell(why, THubError::None);
      return TDiscoveryStatus::Opened;
    }
    failure = device->LastError();
    accessDenied = accessDenied || failure == THubError::AccessDenied;
    device.reset();
  }
  Tell(why, accessDenied ? THubError::AccessDenied : failure);
  return TDiscoveryStatus::NoneOpens;
}

// Lists the present hubs after the previous command's channel is gone.
bool ListPresent(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                 std::vector<std::string>& paths, THubError* why) {
  device.reset();
  if (!driver.PresentInterfaces(paths)) {
    const THubError error = driver.LastError();
    Tell(why, error == THubError::None ? THubError::Other : error);
    return false;
  }
  return true;
}

} // namespace

TDiscoveryStatus OpenDevice(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                            THubError* why) {
  std::vector<std::string> paths;
  if (!ListPresent(driver, device, paths, why)) {
    return TDiscoveryStatus::EnumerationFailed;
  }
  return OpenFirst(driver, paths, device, why);
}

TDiscoveryStatus OpenDeviceAt(THubDriver& driver, const std::string& path,
                              std::unique_ptr<TTargetDev>& device, THubError* why) {
  std::vector<std::string> paths;
  if (!ListPresent(driver, device, paths, why)) {
    return TDiscoveryStatus::EnumerationFailed;
  }
  // Only a present hub is opened: the driver's list is what decides which devices may be sent
  // requests.
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
    Tell(why, THubError::NotFound);
    return TDiscoveryStatus::NoneOpens;
  }
  return OpenFirst(driver, {path}, device, why);
}

std::vector<TDiscoveryStatus> OpenDevicesAt(THubDriver& driver,
                                            const std::vector<std::string>& paths,
                                            std::vector<std::unique_ptr<TTargetDev>>& devices,
                                            std::vector<THubError>& whys) {
  devices.clear();
  devices.resize(paths.size());
  whys.assign(paths.size(), THubError::None);
  std::vector<TDiscoveryStatus> statuses(paths.size(), TDiscoveryStatus::EnumerationFailed);
  std::vector<std::string> listed;
  std::unique_ptr<TTargetDev> none;
  THubError why = THubError::None;
  if (!ListPresent(driver, none, listed, &why)) {
    whys.assign(paths.size(), why);
    return statuses;
  }
  const std::set<std::string> present(listed.begin(), listed.end());
  for (size_t i = 0; i < paths.size(); ++i) {
    if (present.count(paths[i]) == 0) {
      whys[i] = THubError::NotFound;
      statuses[i] = TDiscoveryStatus::NoneOpens;
    } else {
      statuses[i] = OpenFirst(driver, {paths[i]}, devices[i], &whys[i]);
    }
  }
  return statuses;
}
