#pragma once

#include <string>
#include <vector>

struct TCliContext;

// The commands that change the string area of a 0xD4 image: strings, languages, string, serial.
// Each returns its exit code or throws TCliError.
class TCliStringCommands {
public:
  static int Strings(TCliContext& context, const std::vector<std::string>& args);
  static int Languages(TCliContext& context, const std::vector<std::string>& args);
  static int String(TCliContext& context, const std::vector<std::string>& args);
  static int Serial(TCliContext& context, const std::vector<std::string>& args);
};
