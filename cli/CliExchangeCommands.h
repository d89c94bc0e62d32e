#pragma once

#include <string>
#include <vector>

class TCliArgs;
struct TCliContext;

// The readable form of an image and comparisons: export, import, diff. Each returns its exit
// code or throws TCliError.
class TCliExchangeCommands {
public:
  static int Export(TCliContext& context, const TCliArgs& parsed);
  static int Import(TCliContext& context, const TCliArgs& parsed);
  static int Diff(TCliContext& context, const TCliArgs& parsed);
};
