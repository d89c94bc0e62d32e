#pragma once

#include <string_view>
#include <vector>

class TCliArgs;
struct TCliContext;

// An option of the tool or of one command: its name ("--device", "-o"), the name of its value
// ("PATH"; empty for a flag) and what it does.
struct TCliOption {
  std::string_view name;
  std::string_view value;
  std::string_view help;
};

// One command of korvane-cli. This table is the one description that the parser, --help and the
// manual page are made from.
struct TCliCommand {
  std::string_view name;
  std::string_view synopsis;    // after "korvane-cli ": "set IMAGE ID=VALUE... [-o OUT]"
  std::string_view summary;     // one line, for the list of commands
  std::string_view description; // what it does, in full
  std::vector<TCliOption> options;
  int (*run)(TCliContext&, const TCliArgs&);
};

struct TCliExitCode {
  int code;
  std::string_view meaning;
};

class TCliCommandTable {
public:
  static const std::vector<TCliCommand>& Commands();
  static const TCliCommand* Find(std::string_view name);
  // The options every command takes, before or after its name.
  static const std::vector<TCliOption>& GlobalOptions();
  static const std::vector<TCliExitCode>& ExitCodes();
};
