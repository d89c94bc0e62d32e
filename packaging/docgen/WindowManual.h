#pragma once

#include "CliManual.h"

#include <ostream>
#include <string>

// korvane(1), with the options from the window's own usage text (what `korvane --help` prints).
class TWindowManual {
public:
  // False when `usage` does not start with the "Usage: korvane" line (in either case).
  static bool Write(std::ostream& out, const TManualPlaces& places, const std::string& usage);
};
