#pragma once

#include <string>
#include <vector>

struct TCliContext;

// The commands that look at or change header fields: info, fields, set. Each returns its exit
// code or throws TCliError.
class TCliImageCommands {
public:
  static int Info(TCliContext& context, const std::vector<std::string>& args);
  static int Fields(TCliContext& context, const std::vector<std::string>& args);
  static int Set(TCliContext& context, const std::vector<std::string>& args);
};
