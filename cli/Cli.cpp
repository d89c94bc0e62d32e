#include "Cli.h"

#include "CliDeviceCommands.h"
#include "CliError.h"
#include "CliExchangeCommands.h"
#include "CliImageCommands.h"
#include "CliStringCommands.h"

#include <exception>
#include <string_view>

namespace {

using TCommand = int (*)(TCliContext&, const std::vector<std::string>&);

struct TCommandEntry {
  std::string_view name;
  TCommand run;
  std::string_view help;
};

constexpr TCommandEntry kCommands[] = {
    {"info", TCliImageCommands::Info,
     "info IMAGE\n"
     "  Kind, length, validity, every header field (identifier, caption, value), the languages\n"
     "  and each string per language. With --json one object; exits 65 for an invalid image."},
    {"fields", TCliImageCommands::Fields,
     "fields\n"
     "  The field identifiers that `set` accepts, with width in bits, offset per image kind\n"
     "  (\"17.7\": bit 7 of byte 17; \"-\": not settable there) and caption."},
    {"set", TCliImageCommands::Set,
     "set IMAGE ID=VALUE... [-o OUT]\n"
     "  Sets header fields by identifier: hexadecimal digits as the window takes them (VID 1A2B),\n"
     "  bits as 0 or 1. Without -o the image is rewritten in place."},
    {"strings", TCliStringCommands::Strings,
     "strings IMAGE LIST [--lang LANGID] [-o OUT]\n"
     "  The string kinds a 0xD4 image carries. LIST is none, a comma list that replaces the set\n"
     "  (manufacturer,product) or +kind/-kind items that change it (+serial,-product). Kinds:\n"
     "  manufacturer product serial config-fs config-hs interface0 interface1 reserved.\n"
     "  An image without languages needs --lang to name its first language."},
    {"languages", TCliStringCommands::Languages,
     "languages IMAGE LIST [-o OUT]\n"
     "  The languages of a 0xD4 image. LIST is none (drops every language and string), a comma\n"
     "  list that replaces the list (0x0409,0x0407) or +LANGID/-LANGID items that change it.\n"
     "  Languages kept stay in their order with their strings; new ones are appended."},
    {"string", TCliStringCommands::String,
     "string IMAGE --lang LANGID --kind KIND TEXT [-o OUT]\n"
     "  Stores one string. TEXT is UTF-8; what the window's 8-bit character set lacks becomes "
     "'?'.\n"
     "  At most 126 characters."},
    {"serial", TCliStringCommands::Serial,
     "serial IMAGE (--generate | TEXT) [-o OUT]\n"
     "  The serial number, one string shared by all languages. --generate makes one from the\n"
     "  clock. Prints the serial number stored."},
    {"export", TCliExchangeCommands::Export,
     "export IMAGE [-o FILE]\n"
     "  A readable, diffable JSON form: named fields, languages, strings per language and the\n"
     "  raw bytes."},
    {"import", TCliExchangeCommands::Import,
     "import FILE -o IMAGE\n"
     "  Builds the image from an exported file: from its bytes, then every named field,\n"
     "  language and string that differs from them (a hand edit takes effect)."},
    {"diff", TCliExchangeCommands::Diff,
     "diff A B\n"
     "  Field by field and byte by byte. Exits 1 when the images differ, 0 when equal."},
    {"list", TCliDeviceCommands::List,
     "list\n"
     "  Present hubs: path, VID:PID, bound or not, accessible or not (with the fix when not)."},
    {"udev-rule", TCliDeviceCommands::UdevRule,
     "udev-rule\n"
     "  The udev rules for the bound IDs (binding files and --vidpid). Install with\n"
     "  korvane-cli udev-rule | sudo tee /etc/udev/rules.d/70-korvane.rules"},
    {"read", TCliDeviceCommands::Read,
     "read -o FILE [--device PATH] [--raw]\n"
     "  Saves the hub's image, exactly its length. Refuses an invalid image (65) unless --raw,\n"
     "  which saves all 512 bytes."},
    {"write", TCliDeviceCommands::Write,
     "write IMAGE [--device PATH | --all] [--backup-dir DIR] [--no-verify]\n"
     "  Saves a backup of each hub's current EEPROM (in DIR, default the current folder), writes\n"
     "  the image, reads it back and compares. --all writes every bound hub in parallel."},
    {"erase", TCliDeviceCommands::Erase,
     "erase [--device PATH | --all] --yes [--backup-dir DIR]\n"
     "  Backs up, then erases (byte 0 becomes 0xFF) and checks it. Refuses without --yes."},
    {"verify", TCliDeviceCommands::Verify,
     "verify IMAGE [--device PATH | --all]\n"
     "  Compares the hub's image with the file; names the first differing address."},
};

const TCommandEntry* FindCommand(std::string_view name) {
  for (const TCommandEntry& entry : kCommands) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

} // namespace

std::string TCli::Usage() {
  std::string text = "usage: korvane-cli [--simulate FILE]... [--vidpid VID:PID]... [--json] "
                     "COMMAND [ARGS]\n\ncommands:\n";
  for (const TCommandEntry& entry : kCommands) {
    const std::string_view help = entry.help;
    text += "  " + std::string(help.substr(0, help.find('\n'))) + "\n";
  }
  text += "\nglobal options:\n"
          "  --simulate FILE   a simulated hub whose EEPROM is FILE (repeatable)\n"
          "  --vidpid VID:PID  bind a hub for this run (repeatable)\n"
          "  --json            structured output\n"
          "  --help            this text; COMMAND --help for one command\n"
          "\nexit codes: 0 done, 1 diff found differences, 64 usage, 65 invalid image or data,\n"
          "66 input missing, 69 no hub, 70 internal error, 73 output not creatable,\n"
          "74 transfer failed or verify mismatch, 75 image file being changed by another\n"
          "process, 77 access denied\n";
  return text;
}

std::string TCli::CommandHelp(const std::string& command) {
  const TCommandEntry* entry = FindCommand(command);
  return entry == nullptr ? std::string() : "usage: korvane-cli " + std::string(entry->help) + "\n";
}

int TCli::Run(const std::vector<std::string>& args, TCliContext& context) {
  // Global options may stand anywhere before "--"; the rest goes to the command.
  std::vector<std::string> rest;
  bool help = false;
  bool optionsEnded = false;
  try {
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (optionsEnded) {
        rest.push_back(arg);
      } else if (arg == "--") {
        optionsEnded = true;
        rest.push_back(arg);
      } else if (arg == "--json") {
        context.json = true;
      } else if (arg == "--help" || arg == "-h") {
        help = true;
      } else if (arg == "--simulate" || arg == "--vidpid") {
        if (i + 1 >= args.size()) {
          throw TCliError(cliexit::kUsage, "option " + arg + " needs a value");
        }
        (arg == "--simulate" ? context.simulate : context.vidpid).push_back(args[++i]);
      } else if (arg.rfind("--simulate=", 0) == 0) {
        context.simulate.push_back(arg.substr(11));
      } else if (arg.rfind("--vidpid=", 0) == 0) {
        context.vidpid.push_back(arg.substr(9));
      } else {
        rest.push_back(arg);
      }
    }
    if (rest.empty() || rest[0] == "help") {
      if (rest.size() > 1) {
        const std::string text = CommandHelp(rest[1]);
        if (text.empty()) {
          throw TCliError(cliexit::kUsage, "unknown command \"" + rest[1] + "\"");
        }
        context.out << text;
        return cliexit::kOk;
      }
      (help || !rest.empty() ? context.out : context.err) << Usage();
      return help || !rest.empty() ? cliexit::kOk : cliexit::kUsage;
    }
    const TCommandEntry* command = FindCommand(rest[0]);
    if (command == nullptr) {
      throw TCliError(cliexit::kUsage,
                      "unknown command \"" + rest[0] + "\" (korvane-cli --help lists them)");
    }
    if (help) {
      context.out << CommandHelp(rest[0]);
      return cliexit::kOk;
    }
    return command->run(context, std::vector<std::string>(rest.begin() + 1, rest.end()));
  } catch (const TCliError& error) {
    context.err << "korvane-cli: " << error.what() << "\n";
    return error.Code();
  } catch (const std::bad_alloc&) {
    context.err << "korvane-cli: out of memory\n";
    return cliexit::kSoftware;
  } catch (const std::exception& error) {
    context.err << "korvane-cli: internal error: " << error.what() << "\n";
    return cliexit::kSoftware;
  }
}
