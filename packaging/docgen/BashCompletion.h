#pragma once

#include <ostream>

class TCompletionModel;

// The bash completion script of korvane-cli.
class TBashCompletion {
public:
  static void Write(std::ostream& out, const TCompletionModel& model);
};
