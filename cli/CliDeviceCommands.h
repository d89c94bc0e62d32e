#pragma once

#include <string>
#include <vector>

struct TCliContext;

// The commands that talk to hubs: list, udev-rule, read, write, erase, verify. Each returns its
// exit code or throws TCliError.
class TCliDeviceCommands {
public:
  static int List(TCliContext& context, const std::vector<std::string>& args);
  static int UdevRule(TCliContext& context, const std::vector<std::string>& args);
  static int Read(TCliContext& context, const std::vector<std::string>& args);
  static int Write(TCliContext& context, const std::vector<std::string>& args);
  static int Erase(TCliContext& context, const std::vector<std::string>& args);
  static int Verify(TCliContext& context, const std::vector<std::string>& args);
};
