#include "CliCommandTable.h"

#include "CliDeviceCommands.h"
#include "CliExchangeCommands.h"
#include "CliImageCommands.h"
#include "CliProductionCommands.h"
#include "CliStringCommands.h"

namespace {

const TCliOption kOutput{"-o", "OUT", "write the result to OUT instead of changing IMAGE in place"};
const TCliOption kDevice{"--device", "PATH", "the hub to act on (see korvane-cli list)"};
const TCliOption kAll{"--all", "", "every bound hub, in parallel, one line per hub"};
const TCliOption kLedger{"--ledger", "URL",
                         "the ledger: sqlite:PATH (default sqlite:$XDG_DATA_HOME/korvane/"
                         "ledger.sqlite), postgresql://... or postgresql: (the PG* variables)"};
const TCliOption kBackupDir{"--backup-dir", "DIR",
                            "where the backup of each hub's EEPROM goes (default: the current "
                            "folder)"};

} // namespace

const std::vector<TCliCommand>& TCliCommandTable::Commands() {
  static const std::vector<TCliCommand> commands = {
      {"info",
       "info IMAGE",
       "kind, length, validity, fields, languages and strings of an image file",
       "Shows the kind, length and validity of IMAGE, every header field (identifier, caption, "
       "value), the languages and each string per language. With --json one object. Exits 65 for "
       "an invalid image.",
       {},
       TCliImageCommands::Info},
      {"fields",
       "fields",
       "the field identifiers that set takes, with their offsets per kind",
       "Lists the field identifiers that set accepts, with width in bits, offset per image kind "
       "(\"17.7\": bit 7 of byte 17; \"-\": not settable there) and caption.",
       {},
       TCliImageCommands::Fields},
      {"set",
       "set IMAGE ID=VALUE... [-o OUT]",
       "set header fields by identifier",
       "Sets header fields by identifier (see fields; letter case does not matter): hexadecimal "
       "digits as the window takes them (vid=1A2B), bits as 0 or 1. Without -o the image is "
       "rewritten in place.",
       {kOutput},
       TCliImageCommands::Set},
      {"strings",
       "strings IMAGE LIST [--lang LANGID] [-o OUT]",
       "the string kinds a 0xD4 image carries",
       "Sets the string kinds a 0xD4 image carries. LIST is none, a comma list that replaces the "
       "set (manufacturer,product) or +kind/-kind items that change it (+serial,-product). Kinds: "
       "manufacturer product serial config-fs config-hs interface0 interface1 reserved. An image "
       "without languages needs --lang to name its first language.",
       {{"--lang", "LANGID", "the first language of an image that has none"}, kOutput},
       TCliStringCommands::Strings},
      {"languages",
       "languages IMAGE LIST [-o OUT]",
       "the languages of a 0xD4 image",
       "Sets the languages of a 0xD4 image. LIST is none (drops every language and string), a "
       "comma list that replaces the list (0x0409,0x0407) or +LANGID/-LANGID items that change "
       "it. Languages kept stay in their order with their strings; new ones are appended.",
       {kOutput},
       TCliStringCommands::Languages},
      {"string",
       "string IMAGE --lang LANGID --kind KIND TEXT [-o OUT]",
       "store one string",
       "Stores one string. TEXT is UTF-8; what the window's 8-bit character set lacks becomes '?'. "
       "At most 126 characters. Prints the text as stored.",
       {{"--lang", "LANGID", "the language (0x0409 or 0409)"},
        {"--kind", "KIND", "the string kind (product, serial, ...)"},
        kOutput},
       TCliStringCommands::String},
      {"serial",
       "serial IMAGE (--generate | TEXT) [-o OUT]",
       "the serial number, shared by all languages",
       "Stores the serial number, one string shared by all languages. --generate makes one from "
       "the clock. Prints the serial number as stored.",
       {{"--generate", "", "twelve digits from the clock"}, kOutput},
       TCliStringCommands::Serial},
      {"export",
       "export IMAGE [-o FILE]",
       "a readable, diffable JSON form of an image",
       "Writes a readable, diffable JSON form: named fields, languages, strings per language and "
       "the raw bytes.",
       {{"-o", "FILE", "write to FILE instead of standard output"}},
       TCliExchangeCommands::Export},
      {"import",
       "import FILE -o IMAGE",
       "build an image from an exported file (- reads standard input)",
       "Builds the image from an exported file (FILE - reads standard input): from its bytes, then "
       "every named field, language and string that differs from them (a hand edit takes "
       "effect). Whatever it does not understand is refused, naming its place, and nothing is "
       "written.",
       {{"-o", "IMAGE", "the image file to write"}},
       TCliExchangeCommands::Import},
      {"diff",
       "diff A B",
       "compare two images field by field and byte by byte",
       "Compares two images field by field and byte by byte. Exits 1 when the images differ, 0 "
       "when they are equal.",
       {},
       TCliExchangeCommands::Diff},
      {"list",
       "list",
       "present hubs, bound or not, accessible or not",
       "Lists present hubs: path, VID:PID, bound or not, accessible or not (with the fix when "
       "not). Sends nothing to any of them.",
       {},
       TCliDeviceCommands::List},
      {"udev-rule",
       "udev-rule",
       "the udev rules for the bound IDs",
       "Prints the udev rules that tag the bound IDs (binding files and --vidpid). Install with "
       "korvane-cli udev-rule | sudo tee /etc/udev/rules.d/70-korvane.rules",
       {},
       TCliDeviceCommands::UdevRule},
      {"read",
       "read -o FILE [--device PATH] [--raw]",
       "save a hub's image",
       "Saves the hub's image, exactly its length. Refuses an invalid image (65) unless --raw, "
       "which saves all 512 bytes.",
       {{"-o", "FILE", "the file to write"},
        kDevice,
        {"--raw", "", "all 512 bytes, valid image or not"}},
       TCliDeviceCommands::Read},
      {"write",
       "write IMAGE [--device PATH | --all] [--backup-dir DIR] [--no-verify]",
       "write an image to hubs, with backup and verify",
       "Saves a backup of each hub's current EEPROM, writes the image, reads it back and "
       "compares. --all writes every bound hub in parallel.",
       {kDevice, kAll, kBackupDir, {"--no-verify", "", "do not read the image back"}},
       TCliDeviceCommands::Write},
      {"erase",
       "erase [--device PATH | --all] --yes [--backup-dir DIR]",
       "erase a hub's EEPROM (after a backup)",
       "Backs up, then erases (byte 0 becomes 0xFF) and checks it. Refuses without --yes.",
       {kDevice, kAll, kBackupDir, {"--yes", "", "confirm the erase"}},
       TCliDeviceCommands::Erase},
      {"verify",
       "verify IMAGE [--device PATH | --all]",
       "compare a hub's image with a file",
       "Compares the hub's image with the file; names the first differing address.",
       {kDevice, kAll},
       TCliDeviceCommands::Verify},
      {"program",
       "program IMAGE (--device PATH | --all | --watch) [--serial SCHEME] [--serial-start N] "
       "[--keep-serial] [--ledger URL] [--station NAME] [--dry-run] [--backup-dir DIR] "
       "[--no-verify]",
       "program boards, each with its own serial number, recorded in the ledger",
       "For each board: reads it and saves the backup, gives it its own serial number from the "
       "ledger, writes IMAGE with that serial, reads it back and records the outcome. --all "
       "programs every bound hub at once; --watch programs each hub as it is plugged in, until "
       "Ctrl+C. A serial that may have reached a board is never given again. Exits 0 when every "
       "board was programmed, 74 when any failed, 65 when IMAGE cannot carry the next serial, "
       "69 when --all finds no hub or --device names none, 75 when the ledger cannot be reached "
       "or fails.",
       {kDevice,
        kAll,
        {"--watch", "", "program each hub as it appears, until Ctrl+C or SIGTERM"},
        {"--serial", "SCHEME",
         "counter:FORMAT (one %0Nd, e.g. KV-%06d), list:FILE (its lines in turn) or clock "
         "(the default: twelve hexadecimal digits from the clock)"},
        {"--serial-start", "N", "where a new counter starts (default 1)"},
        {"--keep-serial", "", "a board that already has a serial number of its own keeps it"},
        kLedger,
        {"--station", "NAME", "this station's name in the ledger (default: the host name)"},
        {"--dry-run", "",
         "read each board and say what it would get; write nothing, take no serial"},
        kBackupDir,
        {"--no-verify", "", "do not read the image back"}},
       TCliProductionCommands::Program},
      {"ledger list",
       "ledger list [--ledger URL]",
       "every row of the ledger",
       "Lists every attempt the ledger recorded: time (UTC), station, hub, serial, result "
       "(sending, programmed, failed, interrupted, returned), whether the serial was kept, "
       "error. A row still at sending belongs to a station that is at work or was stopped.",
       {kLedger},
       TCliProductionCommands::LedgerList},
      {"ledger find",
       "ledger find SERIAL [--ledger URL]",
       "the rows of one serial number",
       "Shows the rows of one serial number; exits 1 when the ledger has none.",
       {kLedger},
       TCliProductionCommands::LedgerFind},
      {"ledger export",
       "ledger export --csv [--ledger URL]",
       "the whole ledger as CSV",
       "Writes every row as CSV (RFC 4180) on standard output.",
       {{"--csv", "", "comma-separated values with a header line"}, kLedger},
       TCliProductionCommands::LedgerExport},
      {"ledger close-stale",
       "ledger close-stale --older-than AGE [--ledger URL]",
       "mark rows left at sending as interrupted",
       "Marks the rows left at sending longer than AGE ago (90s, 30m, 2h, 1d) as interrupted: "
       "their station stopped before it recorded the outcome. Their serials stay used.",
       {{"--older-than", "AGE", "how long ago (90s, 30m, 2h, 1d)"}, kLedger},
       TCliProductionCommands::LedgerCloseStale},
  };
  return commands;
}

const TCliCommand* TCliCommandTable::Find(std::string_view name) {
  for (const TCliCommand& command : Commands()) {
    if (command.name == name) {
      return &command;
    }
  }
  return nullptr;
}

const std::vector<TCliOption>& TCliCommandTable::GlobalOptions() {
  static const std::vector<TCliOption> options = {
      {"--simulate", "FILE", "a simulated hub whose EEPROM is FILE (repeatable)"},
      {"--vidpid", "VID:PID", "bind a hub for this run (repeatable)"},
      {"--simulate-dir", "DIR",
       "simulated hubs that come and go: every 512-byte file in DIR (not beginning with .)"},
      {"--simulate-page-delay", "MS",
       "simulated hubs take MS milliseconds per 16-byte page written, as a real EEPROM does"},
      {"--json", "", "structured output"},
  };
  return options;
}

const std::vector<TCliExitCode>& TCliCommandTable::ExitCodes() {
  static const std::vector<TCliExitCode> codes = {
      {0, "done"},
      {1, "diff: the images differ; ledger find: no board got the serial"},
      {64, "usage error, unknown name, or several hubs and no --device"},
      {65, "invalid image or data, or no room in the 512-byte image"},
      {66, "input file missing, unreadable or not a regular file"},
      {69, "no hub"},
      {70, "internal error"},
      {73, "output file or backup could not be created"},
      {74, "transfer failed or verify mismatch, or standard output could not be written (with "
           "--all and program: any hub or board failed)"},
      {75, "the image file is being changed by another process, or the ledger cannot be reached"},
      {77, "access denied (the message says how to install the udev rules)"},
  };
  return codes;
}
