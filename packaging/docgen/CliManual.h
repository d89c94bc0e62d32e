#pragma once

#include <ostream>
#include <string>

// Where the installed files are, and the version and date the page header names.
struct TManualPlaces {
  std::string version;
  std::string date;
  std::string udevRulesDir; // "/usr/lib/udev/rules.d"
  std::string examplesDir;  // "/usr/share/doc/korvane-cli/examples"
};

// korvane-cli(1), from the command table that the tool's parser and help are made from.
class TCliManual {
public:
  static void Write(std::ostream& out, const TManualPlaces& places);
};
