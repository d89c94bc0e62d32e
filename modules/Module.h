#pragma once

#include <stdexcept>
#include <string>

// A part of the program that only some commands need (the USB stack, a ledger's database, the
// digest library) is a module of its own, loaded the first time it is used, so that a command
// which never touches a hub or a ledger does not pay for loading them at every start.
class TModuleError : public std::runtime_error {
public:
  explicit TModuleError(const std::string& message) : std::runtime_error(message) {}
};

class TModule {
public:
  // The entry `symbol` of the module `name` (for example "korvane-usb"), loaded on first use and
  // kept until the program ends; TModuleError when the module or its entry cannot be found.
  static void* Entry(const std::string& name, const char* symbol);

  // Where the modules are looked for: KORVANE_MODULE_DIR when set, else beside the program, as
  // installed under any prefix ("bin/../lib/korvane/modules").
  static std::string Folder();
};
