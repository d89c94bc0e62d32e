#pragma once

#include "SerialScheme.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TCliHubSession;
class TEEImage;
class TLedger;
class TTargetDev;
struct TCliContext;

// What one board's programming came to.
struct TBoardOutcome {
  std::string FHub;
  std::string FSerial; // empty when none was given
  bool FKept = false;
  std::string FResult; // "programmed", "failed" or "dry-run"
  bool FVerified = false;
  std::string FError;
  std::string FBackup;
  std::string FSha256;
  uint32_t FLength = 0;    // of the image written (or that would be)
  std::string FUnrecorded; // why the ledger could not record this outcome
};

// How a production run programs its boards.
struct TStationSettings {
  const TEEImage* FImage = nullptr; // the template: a valid 0xD4 image that carries a serial
  TSerialScheme FScheme;
  bool FKeepSerial = false;
  bool FDryRun = false;
  bool FVerify = true;
  std::string FBackupFolder;
  std::string FStation;
};

// A production station: gives each board its own serial number from the ledger, writes the
// template with it, reads it back, and records the outcome. One line (or JSON object) per board
// as it ends, and a summary at the end.
class TCliStation {
public:
  TCliStation(TCliContext& context, TCliHubSession& session, TLedger& ledger,
              TStationSettings settings);
  ~TCliStation();

  // The serial the template would carry next, stored: TCliError 65 when it does not fit.
  static void CheckTemplate(const TEEImage& image, TLedger& ledger, const TSerialScheme& scheme);

  // Programs these boards at once: each is opened, read and backed up; then their serials are
  // taken in one transaction (unless `stop` was set meanwhile); then each is written and checked.
  void ProgramAll(const std::vector<std::string>& paths, const std::atomic<bool>& stop);
  // Programs each hub as it appears, once per appearance, until `stop` is set or the ledger
  // fails; the boards in flight then finish.
  void Watch(const std::atomic<bool>& stop);
  // Prints the summary; the exit code of the run.
  int Finish();

private:
  struct TBoard;

  void Prepare(TBoard& board);
  void Assign(const std::vector<TBoard*>& boards);
  void Program(TBoard& board);
  void End(TBoard& board);
  void Record(TBoard& board, const std::string& result, const std::string& error);
  void LedgerFailed(const std::string& why);
  void Report(const TBoardOutcome& outcome);
  void ShowCount();

  TCliContext& FContext;
  TCliHubSession& FSession;
  TLedger& FLedger;
  const TStationSettings FSettings;
  const std::string FTemplateSerial; // the template's own serial text, never a board's

  std::mutex FOutput; // lines, counts and the ledger's state
  size_t FDone = 0, FFailed = 0, FInFlight = 0, FProgrammed = 0, FDryRuns = 0;
  size_t FPreviewed = 0; // dry runs: serials shown so far
  std::optional<std::string> FLedgerError;
};
