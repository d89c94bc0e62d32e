#pragma once

#include <ostream>

class TCompletionModel;

// The zsh completion function of korvane-cli (_korvane-cli).
class TZshCompletion {
public:
  static void Write(std::ostream& out, const TCompletionModel& model);
};
