#pragma once

#include "CliContext.h"

#include <string>
#include <vector>

// korvane-cli as a function: the global options, the command and its arguments in; the exit code
// out, with output and messages written to the context's streams.
class TCli {
public:
  // `args` without the program name. `context` brings the streams (and, in tests, a driver);
  // the global options found in `args` are stored into it.
  static int Run(const std::vector<std::string>& args, TCliContext& context);
};
