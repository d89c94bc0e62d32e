#pragma once

#include "CliArgs.h"

#include <string>
#include <vector>

struct TCliCommand;
struct TCliContext;

// Reads the command line against the command table (CLI11 does the parsing and the help).
class TCliParser {
public:
  struct TParsed {
    const TCliCommand* command = nullptr; // none: print `help` and end
    TCliArgs args;
    std::string help;
    bool helpIsUsageError = false; // no command at all: the help goes to stderr, exit 64
  };

  // `args` without the program name. Global options, wherever they stand before "--", go into
  // `context`. TCliError 64 for anything the table does not allow.
  static TParsed Parse(const std::vector<std::string>& args, TCliContext& context);
  // The tool's help, or one command's.
  static std::string Help(const TCliCommand* command = nullptr);
};
