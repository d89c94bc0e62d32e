#include "CliProductionCommands.h"

#include "CliArgs.h"
#include "CliBoardSteps.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliFiles.h"
#include "CliHubSession.h"
#include "CliImageSupport.h"
#include "CliJson.h"
#include "CliStation.h"
#include "Eeimage.h"
#include "Ledger.h"
#include "LedgerError.h"
#include "Sha256.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <unistd.h>

namespace {

constexpr size_t kMaxListFile = 16 * 1024 * 1024;

std::atomic<bool> gStop{false};

// Ctrl+C and SIGTERM end a production run gently: no new board is taken, the ones in flight
// finish and the summary is printed.
class TStopOnSignal {
public:
  TStopOnSignal() {
    gStop = false;
    struct sigaction action {};
    action.sa_handler = [](int) { gStop = true; };
    action.sa_flags = SA_RESTART; // output to a slow pipe is not cut short by the signal
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &FInterrupt);
    sigaction(SIGTERM, &action, &FTerminate);
  }
  ~TStopOnSignal() {
    sigaction(SIGINT, &FInterrupt, nullptr);
    sigaction(SIGTERM, &FTerminate, nullptr);
  }
  TStopOnSignal(const TStopOnSignal&) = delete;
  TStopOnSignal& operator=(const TStopOnSignal&) = delete;

private:
  struct sigaction FInterrupt {};
  struct sigaction FTerminate {};
};

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    return "station";
  }
  return name;
}

// `existing`: the ledger commands, for which a ledger that is not there is an error.
std::unique_ptr<TLedger> OpenLedger(const TCliArgs& parsed, bool readOnly, bool existing = false) {
  const std::string url = parsed.Value("--ledger", TLedger::DefaultUrl());
  if (!TLedger::IsUrl(url)) {
    throw TCliError(cliexit::kUsage, "--ledger: \"" + url +
                                         "\" is none of sqlite:PATH, postgresql://... and "
                                         "postgresql:");
  }
  try {
    return TLedger::Open(url, readOnly, existing);
  } catch (const TLedgerError& error) {
    if (error.Kind() == TLedgerError::TKind::NotAFile) {
      throw TCliError(cliexit::kNoInput, error.what()); // as any input that is no file
    }
    throw TCliError(cliexit::kTempFail,
                    std::string("the ledger cannot be reached: ") + error.what());
  }
}

TSerialScheme SchemeOf(const TCliArgs& parsed) {
  TSerialScheme scheme;
  std::string error;
  if (!TSerialScheme::Parse(parsed.Value("--serial", "clock"), scheme, error)) {
    throw TCliError(cliexit::kUsage, "--serial: " + error);
  }
  if (parsed.Has("--serial-start")) {
    const std::string text = parsed.Value("--serial-start");
    char* end = nullptr;
    const unsigned long long start = std::strtoull(text.c_str(), &end, 10);
    if (scheme.Kind() != TSerialScheme::TKind::Counter || text.empty() || *end != '\0' ||
        text[0] == '-' || start > static_cast<unsigned long long>(INT64_MAX)) {
      throw TCliError(cliexit::kUsage, "--serial-start takes the first number of a new "
                                       "counter:FORMAT (0 to 9223372036854775807)");
    }
    scheme.SetStart(start);
  }
  if (scheme.Kind() == TSerialScheme::TKind::List) {
    scheme.SetLines(TSerialScheme::SplitLines(
        TCliFiles::ReadInput(scheme.File(), kMaxListFile, nullptr, "list of serial numbers")));
  }
  return scheme;
}

void RequireSerialString(const TEEImage& image, const std::string& path) {
  if (!TCliImageSupport::HasStringArea(image) ||
      (image.GetSupportedStrings() & TEEImage::kSerialNumber) == 0 ||
      TCliImageSupport::Languages(image).empty()) {
    throw TCliError(cliexit::kData, path + " cannot carry a serial: it has no serial-number "
                                           "string (korvane-cli strings IMAGE +serial adds one)");
  }
}

// "90", "90s", "30m", "2h", "1d" as seconds; false for anything else.
bool ParseAge(const std::string& text, long long& seconds) {
  char* end = nullptr;
  seconds = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || seconds < 0) {
    return false;
  }
  const std::string unit = end;
  const long long factor = unit.empty() || unit == "s" ? 1
                           : unit == "m"               ? 60
                           : unit == "h"               ? 3600
                           : unit == "d"               ? 86400
                                                       : 0;
  seconds *= factor;
  return factor != 0;
}

TJson RowJson(const TLedgerRow& row) {
  return {{"time", row.FTime},      {"station", row.FStation}, {"hub", row.FHub},
          {"serial", row.FSerial},  {"kept", row.FKept},       {"result", row.FResult},
          {"error", row.FError},    {"sha256", row.FSha256},   {"backup", row.FBackup},
          {"version", row.FVersion}};
}

void PrintRows(TCliContext& context, const std::vector<TLedgerRow>& rows) {
  if (context.json) {
    TJson list = TJson::array();
    for (const TLedgerRow& row : rows) {
      list.push_back(RowJson(row));
    }
    context.out << TCliJson::Dump(list) << "\n";
    return;
  }
  for (const TLedgerRow& row : rows) {
    context.out << row.FTime << "  " << std::left << std::setw(12) << row.FStation << "  "
                << std::setw(20) << row.FHub << "  " << std::setw(16) << row.FSerial << "  "
                << std::setw(11) << row.FResult << (row.FKept ? "  kept" : "")
                << (row.FError.empty() ? "" : "  " + row.FError) << "\n";
  }
}

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) {
    return value;
  }
  std::string quoted = "\"";
  for (const char c : value) {
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  }
  return quoted + "\"";
}

} // namespace

int TCliProductionCommands::Program(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  const int modes = (parsed.Has("--device") ? 1 : 0) + (parsed.Has("--all") ? 1 : 0) +
                    (parsed.Has("--watch") ? 1 : 0);
  if (modes != 1) {
    throw TCliError(cliexit::kUsage, "program takes one of --device PATH, --all and --watch");
  }
  const std::string& path = parsed.Positionals()[0];
  const std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(path);
  RequireSerialString(*image, path);
  TStationSettings settings;
  settings.FImage = image.get();
  settings.FScheme = SchemeOf(parsed);
  settings.FKeepSerial = parsed.Has("--keep-serial");
  settings.FDryRun = parsed.Has("--dry-run");
  settings.FVerify = !parsed.Has("--no-verify");
  settings.FStation = parsed.Value("--station", HostName());
  if (!settings.FDryRun) {
    settings.FBackupFolder = TCliBoardSteps::CheckedBackupFolder(parsed);
    // A backup saved among the simulated hubs would be plugged in as one.
    std::error_code code;
    if (!context.simulateDir.empty() &&
        std::filesystem::equivalent(settings.FBackupFolder, context.simulateDir, code)) {
      throw TCliError(cliexit::kUsage,
                      "the backups would become hubs: give --backup-dir a folder other than "
                      "--simulate-dir");
    }
  }
  TSha256::Hex({}); // the digest's module, loaded before any board is touched
  const std::unique_ptr<TLedger> ledger = OpenLedger(parsed, settings.FDryRun);
  try {
    TCliStation::CheckTemplate(*image, *ledger, settings.FScheme);
  } catch (const TLedgerError& error) {
    throw TCliError(cliexit::kTempFail, std::string("the ledger failed: ") + error.what());
  }

  TCliHubSession session(context);
  std::vector<std::string> paths;
  if (!parsed.Has("--watch")) {
    paths = session.Select(parsed, true);
  }
  const TStopOnSignal signals;
  TCliStation station(context, session, *ledger, settings);
  if (parsed.Has("--watch")) {
    station.Watch(gStop);
  } else {
    station.ProgramAll(paths, gStop);
  }
  return station.Finish();
}

int TCliProductionCommands::LedgerList(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  try {
    PrintRows(context, OpenLedger(parsed, true, true)->List());
  } catch (const TLedgerError& error) {
    throw TCliError(cliexit::kTempFail, std::string("the ledger failed: ") + error.what());
  }
  return cliexit::kOk;
}

int TCliProductionCommands::LedgerFind(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  std::vector<TLedgerRow> rows;
  try {
    rows = OpenLedger(parsed, true, true)->Find(parsed.Positionals()[0]);
  } catch (const TLedgerError& error) {
    throw TCliError(cliexit::kTempFail, std::string("the ledger failed: ") + error.what());
  }
  PrintRows(context, rows);
  if (rows.empty()) {
    context.err << "korvane-cli: " << parsed.Positionals()[0] << " is not in the ledger\n";
    return cliexit::kDiffers;
  }
  return cliexit::kOk;
}

int TCliProductionCommands::LedgerExport(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  if (!parsed.Has("--csv")) {
    parsed.UsageError();
  }
  std::vector<TLedgerRow> rows;
  try {
    rows = OpenLedger(parsed, true, true)->List();
  } catch (const TLedgerError& error) {
    throw TCliError(cliexit::kTempFail, std::string("the ledger failed: ") + error.what());
  }
  // RFC 4180: a header, CRLF line ends, fields quoted where needed.
  context.out << "time,station,hub,serial,kept,result,error,sha256,backup,version\r\n";
  for (const TLedgerRow& row : rows) {
    const std::string fields[] = {
        row.FTime,   row.FStation, row.FHub,    row.FSerial, row.FKept ? "1" : "0",
        row.FResult, row.FError,   row.FSha256, row.FBackup, row.FVersion};
    std::string line;
    for (const std::string& field : fields) {
      line += (line.empty() ? "" : ",") + CsvField(field);
    }
    context.out << line << "\r\n";
  }
  return cliexit::kOk;
}

int TCliProductionCommands::LedgerCloseStale(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  long long seconds = 0;
  if (!parsed.Has("--older-than") || !ParseAge(parsed.Value("--older-than"), seconds)) {
    throw TCliError(cliexit::kUsage, "close-stale needs --older-than AGE (90s, 30m, 2h, 1d)");
  }
  size_t closed = 0;
  try {
    closed = OpenLedger(parsed, false, true)->CloseStale(std::chrono::seconds(seconds));
  } catch (const TLedgerError& error) {
    throw TCliError(cliexit::kTempFail, std::string("the ledger failed: ") + error.what());
  }
  context.out << closed << (closed == 1 ? " row" : " rows") << " marked interrupted\n";
  return cliexit::kOk;
}
