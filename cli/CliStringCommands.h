#pragma once

#include <string>
#include <vector>

class TCliArgs;
struct TCliContext;

// The commands that change the string area of a 0xD4 image: strings, languages, string, serial.
// Each returns its exit code or throws TCliError.
class TCliStringCommands {
public:
  static int Strings(TCliContext& context, const TCliArgs& parsed);
  static int Languages(TCliContext& context, const TCliArgs& parsed);
  static int String(TCliContext& context, const TCliArgs& parsed);
  static int Serial(TCliContext& context, const TCliArgs& parsed);
};
