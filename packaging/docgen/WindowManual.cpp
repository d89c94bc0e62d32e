#include "WindowManual.h"

#include "Roff.h"
#include "UsbBinding.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

namespace {

// The usage text's parts: "Usage: korvane SYNOPSIS", paragraphs, then items ("  TERM  text" with
// continuation lines indented further).
struct TUsage {
  std::string synopsis;
  std::vector<std::string> paragraphs;
  std::vector<std::pair<std::string, std::string>> items;
};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Parse(const std::string& text, TUsage& usage) {
  const std::string lead = "usage: korvane";
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line.size() < lead.size() ||
      !std::equal(lead.begin(), lead.end(), line.begin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
      })) {
    return false;
  }
  usage.synopsis = Trimmed(line.substr(lead.size()));
  bool inParagraph = false;
  while (std::getline(in, line)) {
    if (Trimmed(line).empty()) {
      inParagraph = false;
      continue;
    }
    const bool indented = line.compare(0, 2, "  ") == 0;
    if (!indented) {
      if (inParagraph) {
        usage.paragraphs.back() += " " + Trimmed(line);
      } else {
        usage.paragraphs.push_back(Trimmed(line));
      }
      inParagraph = true;
      continue;
    }
    inParagraph = false;
    const bool continuation = line.compare(0, 3, "   ") == 0;
    if (continuation && !usage.items.empty()) {
      usage.items.back().second += " " + Trimmed(line);
      continue;
    }
    const std::string item = Trimmed(line);
    const size_t gap = item.find("  ");
    if (gap == std::string::npos) {
      usage.items.push_back({item, {}});
    } else {
      usage.items.push_back({item.substr(0, gap), Trimmed(item.substr(gap))});
    }
  }
  return true;
}

} // namespace

bool TWindowManual::Write(std::ostream& out, const TManualPlaces& places,
                          const std::string& usageText) {
  TUsage usage;
  if (!Parse(usageText, usage)) {
    return false;
  }
  out << ".TH KORVANE 1 \"" << places.date << "\" \"korvane " << places.version
      << "\" \"User Commands\"\n"
         // Left-aligned and unhyphenated: paths and option names stay whole.
         ".ad l\n"
         ".nh\n"
         ".SH NAME\n"
         "korvane \\- configuration utility for the EEPROM of USB 2.0 hubs\n"
         ".SH SYNOPSIS\n"
         ".B korvane\n"
      << TRoff::Synopsis(usage.synopsis, false)
      << "\n"
         ".SH DESCRIPTION\n";
  for (const std::string& paragraph : usage.paragraphs) {
    out << TRoff::Escape(paragraph) << "\n.PP\n";
  }
  out << "The window \"Korvane Configuration Utility\" reads the image from the EEPROM of a "
         "bound hub, writes an image back or erases it, and reads and writes image files "
         "(the raw image bytes, .iic or .bin).\n"
         "The \"Device Settings\" page shows and edits every header field by name, the "
         "\"String Descriptor\" page the string descriptors per language, the \"Languages...\" "
         "dialog the list of languages, and the raw grid every byte of the image.\n"
         "Values are hexadecimal; a field's edit is stored when the field is left.\n"
         ".PP\n"
         "Qt's own options, such as\n"
         ".B \\-platform\n"
         "and\n"
         ".BR \\-style ,\n"
         "are taken too.\n"
         ".SH OPTIONS\n";
  for (const auto& [term, text] : usage.items) {
    out << ".TP\n" << TRoff::Synopsis(term, false) << "\n" << TRoff::Escape(text) << "\n";
  }
  out << ".SH EXIT STATUS\n"
         "0 when the window was closed, 64 for an unknown option, 66 when a simulated "
         "EEPROM file cannot be used.\n"
         ".SH FILES\n"
         ".TP\n"
      << TRoff::Bold(TUsbBinding::SystemFilePath())
      << "\n"
         "The hubs bound for every user, one VID:PID per line.\n"
         ".TP\n"
         ".BR \"$XDG_CONFIG_HOME/korvane/bindings\" \" (or \" ~/.config/korvane/bindings )\n"
         "The hubs bound for one user.\n"
         ".TP\n"
         ".B Config_Files\n"
         "The folder, in the current folder, where the file dialogs start.\n"
         ".TP\n"
         ".RI \"the \" FILE \" of \" \\-\\-simulate\n"
         "The simulated hub's EEPROM, 512 bytes: created blank (every byte 0xFF) when missing, "
         "changed by every write and erase. A file of another size is refused.\n"
         ".TP\n"
      << TRoff::Bold(places.udevRulesDir + "/71-korvane-uaccess.rules")
      << "\n"
         "Gives the user at the seat access to the bound hubs, once\n"
         ".B korvane\\-cli udev\\-rule\n"
         "has tagged them; see\n"
         ".BR korvane\\-cli (1).\n"
         ".SH SEE ALSO\n"
         ".BR korvane\\-cli (1)\n";
  return true;
}
