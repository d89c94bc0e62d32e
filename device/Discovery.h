#pragma once

#include "Trgtdev.h"

#include <memory>

class THubDriver;

// How a search for a hub ended.
enum class TDiscoveryStatus {
  Opened,            // the channel holds an open handle to the first present hub that opened
  EnumerationFailed, // the driver could not list its hubs at all
  NoneOpens,         // no hub is present, or none of the present ones opens
};

// Searches for the hub as every device command does: the driver's present hubs in their order,
// the first whose path opens. `device` holds the previous command's channel, if any: it is
// destroyed first, and at most one channel object exists at any time. On Opened, `device` holds
// the open channel; otherwise it is empty.
// `why`, when given, receives the reason of a failure: the driver's error for EnumerationFailed;
// for NoneOpens AccessDenied when any present hub refused access (the fix is the same for all),
// otherwise the last candidate's error, or NotFound when no hub is present. None on Opened.
TDiscoveryStatus OpenDevice(THubDriver& driver, std::unique_ptr<TTargetDev>& device,
                            THubError* why = nullptr);

// Opens the channel to one named hub (the command-line tool's --device). Same outcomes; a path
// that is not among the present hubs gives NoneOpens.
TDiscoveryStatus OpenDeviceAt(THubDriver& driver, const std::string& path,
                              std::unique_ptr<TTargetDev>& device, THubError* why = nullptr);

// Opens the channels to several named hubs at once (--all), listing the hubs once rather than
// once per hub; `devices` and `whys` get one entry per path, as OpenDeviceAt would give them.
std::vector<TDiscoveryStatus> OpenDevicesAt(THubDriver& driver,
                                            const std::vector<std::string>& paths,
                                            std::vector<std::unique_ptr<TTargetDev>>& devices,
                                            std::vector<THubError>& whys);
