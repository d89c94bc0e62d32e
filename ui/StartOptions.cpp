#include "StartOptions.h"

#include <algorithm>
#include <cctype>

namespace {

const char* const kUsage =
    "Usage: korvane [--simulate FILE]... [--simulate-page-delay MS] [IMAGE]\n"
    "\n"
    "Shows and edits the configuration EEPROM of a hub. IMAGE, when given, is opened at start as\n"
    "\"Read From File...\" opens it.\n"
    "\n"
    "  --simulate FILE           work on a simulated hub whose 512-byte EEPROM is FILE (created\n"
    "                            blank when missing); repeatable, one hub per file; real hubs are\n"
    "                            not used\n"
    "  --simulate-page-delay MS  simulated hubs take MS milliseconds (0 to 60000) per 16-byte\n"
    "                            page written, as a real EEPROM does\n"
    "  --help                    show this text and end\n";

// Digits only: no sign, no blanks, nothing after the number.
std::optional<uint32_t> Milliseconds(const std::string& text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return std::nullopt;
  const auto value = static_cast<uint32_t>(std::stoul(text));
  if (value > TStartOptions::kMaxPageDelay)
    return std::nullopt;
  return value;
}

} // namespace

const char* TStartOptions::Usage() {
  return kUsage;
}

TStartOptions TStartOptions::Parse(const std::vector<std::string>& args, bool takeFiles) {
  TStartOptions options;
  const auto fail = [&options](std::string error, bool usage) {
    options.FError = std::move(error);
    options.FShowUsage = usage;
    return options;
  };
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnd && (arg == "--help" || arg == "-h")) {
      options.FHelp = true;
      return options;
    }
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
      continue;
    }
    if (!optionsEnd && arg.rfind("--", 0) == 0) {
      // "--name value" or "--name=value".
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(0, equals);
      if (name != "--simulate" && name != "--simulate-page-delay")
        return fail("unknown option '" + arg + "'", true);
      std::string value;
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return fail(name == "--simulate" ? "--simulate needs a FILE"
                                         : "--simulate-page-delay needs MS",
                    true);
      }
      if (name == "--simulate") {
        options.FSimulate.push_back(value);
        continue;
      }
      options.FPageDelay = Milliseconds(value);
      if (!options.FPageDelay)
        return fail("--simulate-page-delay takes milliseconds (0 to 60000), not \"" + value + "\"",
                    false);
      continue;
    }
    // Qt's own options, which the application object takes out; "-" alone names no file.
    if (!optionsEnd && !arg.empty() && arg[0] == '-')
      continue;
    if (!takeFiles)
      continue;
    if (!options.FFile.empty())
      return fail("one IMAGE at most: \"" + options.FFile + "\" and \"" + arg + "\" were given",
                  true);
    options.FFile = arg;
  }
  return options;
}
