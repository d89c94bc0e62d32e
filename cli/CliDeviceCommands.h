#pragma once

#include <string>
#include <vector>

class TCliArgs;
struct TCliContext;

// The commands that talk to hubs: list, udev-rule, read, write, erase, verify. Each returns its
// exit code or throws TCliError.
class TCliDeviceCommands {
public:
  static int List(TCliContext& context, const TCliArgs& parsed);
  static int UdevRule(TCliContext& context, const TCliArgs& parsed);
  static int Read(TCliContext& context, const TCliArgs& parsed);
  static int Write(TCliContext& context, const TCliArgs& parsed);
  static int Erase(TCliContext& context, const TCliArgs& parsed);
  static int Verify(TCliContext& context, const TCliArgs& parsed);
};
