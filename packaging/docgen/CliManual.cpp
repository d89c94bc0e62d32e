#include "CliManual.h"

#include "CliCommandTable.h"
#include "CliFiles.h"
#include "CliImageSupport.h"
#include "Roff.h"
#include "UsbBinding.h"

namespace {

void WriteOption(std::ostream& out, const TCliOption& option) {
  out << ".TP\n" << TRoff::Bold(option.name);
  if (!option.value.empty()) {
    out << " " << TRoff::Italic(option.value);
  }
  out << "\n" << TRoff::Escape(option.help) << "\n";
}

std::string KindNames() {
  std::string names;
  for (const TCliStringKind& kind : TCliImageSupport::StringKinds()) {
    names += (names.empty() ? "" : ", ") + TRoff::Bold(kind.name);
  }
  return names;
}

} // namespace

void TCliManual::Write(std::ostream& out, const TManualPlaces& places) {
  out << ".TH KORVANE\\-CLI 1 \"" << places.date << "\" \"korvane " << places.version
      << "\" \"User Commands\"\n"
         // Left-aligned and unhyphenated: paths and option names stay whole.
         ".ad l\n"
         ".nh\n"
         ".SH NAME\n"
         "korvane\\-cli \\- read, edit and write the configuration EEPROM of USB 2.0 hubs\n"
         ".SH SYNOPSIS\n"
         ".B korvane\\-cli\n"
         "[\\fIGLOBAL OPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR]\n"
         ".SH DESCRIPTION\n"
         ".B korvane\\-cli\n"
         "reads, shows, edits and writes the configuration EEPROM image of USB 2.0 hub "
         "controllers, for scripts, production lines and images kept in version control.\n"
         "It never asks: every command either does what it was told or exits with a status that "
         "says why, printing the reason on standard error.\n"
         ".PP\n"
         "Image files hold the raw image bytes.\n"
         "Values are typed as in the window: hexadecimal digits, single bits as 0 or 1.\n"
         "Field identifiers and string kinds are matched without regard to case.\n"
         "String kinds are "
      << KindNames()
      << ".\n"
         "LANGIDs are written 0x0409 or 0409.\n"
         "Text is UTF\\-8 in and out.\n"
         ".PP\n"
         "Requests are sent only to hubs whose VID:PID is bound (see\n"
         ".BR FILES ).\n"
         "A hub's path is\n"
         ".BI usb: bus \\- ports\\fR,\n"
         "for example usb:1\\-1.4; a simulated hub's is\n"
         ".BI sim: FILE\\fR.\n"
         ".SH COMMANDS\n";
  for (const TCliCommand& command : TCliCommandTable::Commands()) {
    out << ".TP\n"
        << TRoff::Synopsis(command.synopsis) << "\n"
        << TRoff::Escape(command.description) << "\n";
    if (!command.options.empty()) {
      out << ".RS\n";
      for (const TCliOption& option : command.options) {
        WriteOption(out, option);
      }
      out << ".RE\n";
    }
  }
  out << ".TP\n"
         ".BR help \" [\\fICOMMAND\\fR]\"\n"
         "The list of commands and global options, or one command's usage.\n"
         ".SH GLOBAL OPTIONS\n"
         "These may stand before or after the command's name.\n";
  for (const TCliOption& option : TCliCommandTable::GlobalOptions()) {
    WriteOption(out, option);
  }
  out << ".TP\n"
         ".BR \\-h \", \" \\-\\-help\n"
         "The tool's help, or with a command that command's.\n"
         ".TP\n"
         ".B \\-\\-\n"
         "Everything after it is a positional of the command.\n"
         ".SH EXIT STATUS\n";
  for (const TCliExitCode& code : TCliCommandTable::ExitCodes()) {
    out << ".TP\n.B " << code.code << "\n" << TRoff::Escape(code.meaning) << "\n";
  }
  const std::string backup = TCliFiles::BackupName("usb:1-1.4", 1767225600) + ".bin";
  out << ".SH FILES\n"
         ".TP\n"
      << TRoff::Bold(TUsbBinding::SystemFilePath())
      << "\n"
         "The hubs bound for every user: one VID:PID per line, in lower\\- or upper\\-case "
         "hexadecimal; lines starting with # are comments.\n"
         ".TP\n"
         ".BR \"$XDG_CONFIG_HOME/korvane/bindings\" \" (or \" ~/.config/korvane/bindings )\n"
         "The hubs bound for one user, read after the system file.\n"
         ".TP\n"
      << TRoff::Bold(places.udevRulesDir + "/71-korvane-uaccess.rules")
      << "\n"
         "Gives the user at the seat access to the devices tagged by\n"
         ".BR 70\\-korvane.rules .\n"
         ".TP\n"
         ".B /etc/udev/rules.d/70\\-korvane.rules\n"
         "Tags the bound IDs; written by the site with\n"
         ".BR \"korvane\\-cli udev\\-rule | sudo tee /etc/udev/rules.d/70\\-korvane.rules\" .\n"
         "A commented template is in\n"
         ".IR "
      << TRoff::Escape(places.examplesDir + "/70-korvane.rules")
      << " .\n"
         ".TP\n"
         ".BI korvane\\-backup\\- TIME \\- HUB .bin\n"
         "The EEPROM's contents before a write or an erase, in the current folder or in "
         "the one\n"
         ".B \\-\\-backup\\-dir\n"
         "names, for example\n"
      << TRoff::Escape(backup)
      << ".\n"
         "When it cannot be written, nothing is written to the hub.\n"
         ".TP\n"
         ".BR \"$XDG_DATA_HOME/korvane/ledger.sqlite\" \" (or \" "
         "~/.local/share/korvane/ledger.sqlite )\n"
         "The default ledger of\n"
         ".B program\n"
         "and the\n"
         ".B ledger\n"
         "commands (another is named with\n"
         ".BR \\-\\-ledger ):\n"
         "a SQLite database, created with its folder by the first\n"
         ".B program\n"
         "run that is not a dry run.\n"
         "Beside it SQLite keeps\n"
         ".B ledger.sqlite\\-wal\n"
         "and\n"
         ".BR ledger.sqlite\\-shm ,\n"
         "its write\\-ahead log and the log's index, while the ledger is in use; the log holds "
         "rows not yet in the database file, so the three belong together.\n"
         ".TP\n"
         ".RI \"the \" FILE \" of \" \\-\\-simulate\n"
         "The simulated hub's EEPROM, 512 bytes: created blank (every byte 0xFF) when missing, "
         "changed by every write and erase. A file of another size is refused.\n"
         ".SH ENVIRONMENT\n"
         ".TP\n"
         ".B XDG_CONFIG_HOME\n"
         "Where the per\\-user binding file is looked for; when it is not set, or not an "
         "absolute path,\n"
         ".B ~/.config\n"
         "is used instead.\n"
         ".TP\n"
         ".B XDG_DATA_HOME\n"
         "Where the default ledger is; when it is not set, or not an absolute path,\n"
         ".B ~/.local/share\n"
         "is used instead.\n"
         ".TP\n"
         ".B HOME\n"
         "The home folder, ~ in the defaults above.\n"
         ".TP\n"
         ".BR PGHOST \", \" PGPORT \", \" PGDATABASE \", \" PGUSER \", \" PGPASSWORD \", \" "
         "PGSERVICE \" and libpq's other \" PG* \" variables\"\n"
         "With\n"
         ".BR \"\\-\\-ledger postgresql:\" ,\n"
         "the server, database and login of the ledger; with a\n"
         ".B postgresql://\n"
         "URL, whatever the URL leaves out.\n"
         "The password may also come from\n"
         ".BR ~/.pgpass .\n"
         ".TP\n"
         ".B KORVANE_MODULE_DIR\n"
         "For developers only: the folder the tool loads its modules from (the USB stack, the "
         "ledger's databases, the digest library) instead of the one installed with it, as the "
         "tests do to run the tool from the build folder.\n"
         "Ignored when the tool runs with raised privileges.\n"
         ".SH EXAMPLES\n"
         ".EX\n"
         "korvane\\-cli info hub.bin\n"
         "korvane\\-cli set hub.bin vid=1a2b pid=3c4d self_powerable=1\n"
         "korvane\\-cli string hub.bin \\-\\-lang 0x0409 \\-\\-kind product \"USB 2.0 Hub\"\n"
         "korvane\\-cli export hub.bin > hub.json\n"
         "korvane\\-cli import hub.json \\-o hub.bin\n"
         "korvane\\-cli read \\-o hub.bin\n"
         "korvane\\-cli write hub.bin \\-\\-all\n"
         "korvane\\-cli \\-\\-simulate eeprom.bin read \\-o copy.bin\n"
         ".EE\n"
         ".SH SEE ALSO\n"
         ".BR korvane (1),\n"
         ".BR udev (7),\n"
         ".BR lsusb (8)\n";
}
