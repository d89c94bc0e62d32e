#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The desktop program's command line: the hubs to work on and at most one image FILE to open at
// start (what the desktop entry hands over). Qt's own options (-platform, -style, ...) are left to
// the application object, which takes them out of the arguments it was given.
struct TStartOptions {
  // Milliseconds per page that simulated hubs take for a write, as korvane-cli's option.
  static constexpr uint32_t kMaxPageDelay = 60000;
  static constexpr uint32_t kDelayPageSize = 16;

  bool FHelp = false;
  std::vector<std::string> FSimulate; // --simulate FILE, repeatable
  std::optional<uint32_t> FPageDelay; // --simulate-page-delay MS
  std::string FFile;                  // the image to open; empty for none
  std::string FError;                 // a usage error, shown as "korvane: FError"
  bool FShowUsage = false;            // the usage text follows FError

  // `args` without the program's name. With `takeFiles` false, words that are no option are
  // passed over: before the application object has taken out Qt's options, a value such as
  // "offscreen" of "-platform offscreen" cannot be told from a FILE.
  static TStartOptions Parse(const std::vector<std::string>& args, bool takeFiles);
  static const char* Usage();
};
