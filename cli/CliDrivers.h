#pragma once

#include <memory>

struct TCliContext;
class THubDriver;
class TUsbBinding;

// The tool's own choice of hub driver: simulated hubs with --simulate (bound: the --vidpid IDs
// only), real hubs otherwise (bound: the binding files and --vidpid). TCliError for a simulated
// EEPROM file that is refused or a --vidpid that does not parse.
class TCliDrivers {
public:
  static std::unique_ptr<THubDriver> Make(const TCliContext& context, TUsbBinding& bound);
  // The binding files and --vidpid, without making a driver (udev-rule).
  static void LoadBindings(const TCliContext& context, TUsbBinding& bound, bool files);
};
