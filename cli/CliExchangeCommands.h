#pragma once

#include <string>
#include <vector>

struct TCliContext;

// The readable form of an image and comparisons: export, import, diff. Each returns its exit
// code or throws TCliError.
class TCliExchangeCommands {
public:
  static int Export(TCliContext& context, const std::vector<std::string>& args);
  static int Import(TCliContext& context, const std::vector<std::string>& args);
  static int Diff(TCliContext& context, const std::vector<std::string>& args);
};
