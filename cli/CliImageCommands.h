#pragma once

#include <string>
#include <vector>

class TCliArgs;
struct TCliContext;

// The commands that look at or change header fields: info, fields, set. Each returns its exit
// code or throws TCliError.
class TCliImageCommands {
public:
  static int Info(TCliContext& context, const TCliArgs& parsed);
  static int Fields(TCliContext& context, const TCliArgs& parsed);
  static int Set(TCliContext& context, const TCliArgs& parsed);
};
