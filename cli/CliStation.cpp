#include "CliStation.h"

#include "CliBoardSteps.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliHubSession.h"
#include "CliImageSupport.h"
#include "CliJson.h"
#include "Eeimage.h"
#include "EepromCommands.h"
#include "Ledger.h"
#include "LedgerError.h"
#include "Sha256.h"
#include "Trgtdev.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <thread>

namespace {

using namespace ledgerresult;

std::vector<uint8_t> ImageBytes(const TEEImage& image) {
  std::vector<uint8_t> bytes(TEEImage::kBufferSize, 0);
  image.CopyTo(bytes.data(), image.GetLength());
  bytes.resize(image.GetLength());
  return bytes;
}

std::unique_ptr<TEEImage> Copy(const TEEImage& image) {
  const std::vector<uint8_t> bytes = ImageBytes(image);
  return std::make_unique<TEEImage>(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// The template with `serial` as its serial number; TCliError 65 (with the reason) when it cannot
// carry it, or when the 8-bit set lacks some of its characters.
std::unique_ptr<TEEImage> WithSerial(const TEEImage& image, const std::string& serial) {
  std::unique_ptr<TEEImage> copy = Copy(image);
  const uint16_t first = TCliImageSupport::Languages(*copy).at(0);
  const auto stored = TCliImageSupport::StoreString(*copy, first, TEEImage::kSerialNumber, serial);
  if (stored.lacking > 0) {
    throw TCliError(cliexit::kData,
                    "the serial " + serial + " holds characters the 8-bit character set lacks");
  }
  return copy;
}

// The board's own serial descriptor, when the board should keep it: a valid 0xD4 image with a
// serial number that is neither the one-space placeholder nor the template's.
std::vector<uint8_t> SerialToKeep(const TEEImage& current, const std::string& templateSerial,
                                  std::string& text) {
  if (!current.IsValid() || !TCliImageSupport::HasStringArea(current) ||
      (current.GetSupportedStrings() & TEEImage::kSerialNumber) == 0) {
    return {};
  }
  const std::vector<uint16_t> langids = TCliImageSupport::Languages(current);
  if (langids.empty()) {
    return {};
  }
  const auto serial = TCliImageSupport::ReadString(current, langids[0], TEEImage::kSerialNumber);
  if (!serial || serial->empty() || *serial == " " || *serial == templateSerial) {
    return {};
  }
  std::vector<uint8_t> descriptor(current.GetStringLength(langids[0], TEEImage::kSerialNumber));
  descriptor.at(0) = static_cast<uint8_t>(descriptor.size());
  if (!current.GetStringDescriptor(langids[0], TEEImage::kSerialNumber, descriptor.data())) {
    return {};
  }
  text = *serial;
  return descriptor;
}

// Why a board got no serial: its scheme has none left to give.
std::string Exhausted(const TSerialScheme& scheme) {
  switch (scheme.Kind()) {
  case TSerialScheme::TKind::List:
    return "serial list exhausted";
  case TSerialScheme::TKind::Counter:
    return "serial counter exhausted";
  case TSerialScheme::TKind::Clock:
    break;
  }
  return "clock serials exhausted";
}

} // namespace

struct TCliStation::TBoard {
  TBoardOutcome FOutcome;
  std::unique_ptr<TTargetDev> FChannel;
  std::optional<std::string> FOpenError; // set when the channel was opened ahead (--all)
  std::unique_ptr<TEEImage> FCurrent;    // the EEPROM as read before anything was written
  std::vector<uint8_t> FKeptDescriptor;  // the board's own serial, when it keeps it
  bool FReady = false;                   // prepared, waiting for its serial
  int64_t FRow = 0;                      // its ledger row, 0 for none
  bool FGiven = false;                   // the row holds a serial the ledger gave
};

TCliStation::TCliStation(TCliContext& context, TCliHubSession& session, TLedger& ledger,
                         TStationSettings settings)
    : FContext(context), FSession(session), FLedger(ledger), FSettings(std::move(settings)),
      FTemplateSerial(TCliImageSupport::ReadString(
                          *FSettings.FImage, TCliImageSupport::Languages(*FSettings.FImage).at(0),
                          TEEImage::kSerialNumber)
                          .value_or(std::string())) {}

TCliStation::~TCliStation() = default;

void TCliStation::CheckTemplate(const TEEImage& image, TLedger& ledger,
                                const TSerialScheme& scheme) {
  const auto next = ledger.Preview(scheme, 1).at(0);
  if (!next) {
    return; // nothing left to give: each board says so
  }
  try {
    WithSerial(image, *next);
  } catch (const TCliError& refusal) {
    throw TCliError(cliexit::kData, "the image cannot carry the next serial, " + *next + ": " +
                                        refusal.what() + "; no board was touched");
  }
}

void TCliStation::Prepare(TBoard& board) {
  {
    std::lock_guard<std::mutex> guard(FOutput);
    ++FInFlight;
    ShowCount();
  }
  THubResult result;
  result.path = board.FOutcome.FHub;
  const auto fail = [&] {
    board.FOutcome.FResult = kFailed;
    board.FOutcome.FError = result.message;
    End(board);
  };
  if (!board.FOpenError) {
    board.FChannel = FSession.OpenHub(board.FOutcome.FHub, result);
  } else if (!board.FChannel) {
    result.message = *board.FOpenError;
  }
  if (!board.FChannel ||
      !TCliBoardSteps::Read(*board.FChannel, board.FCurrent, "reading the board", result)) {
    fail();
    return;
  }
  if (FSettings.FKeepSerial) {
    board.FKeptDescriptor = SerialToKeep(*board.FCurrent, FTemplateSerial, board.FOutcome.FSerial);
    board.FOutcome.FKept = !board.FKeptDescriptor.empty();
  }
  if (!FSettings.FDryRun) {
    if (!TCliBoardSteps::SaveBackup(*board.FChannel, *board.FCurrent, FSettings.FBackupFolder,
                                    std::time(nullptr), board.FOutcome.FBackup, result)) {
      fail();
      return;
    }
    // The ledger outlives the folder the station ran in: the backup is named in full there and
    // in the board's JSON line alike.
    std::error_code code;
    const std::filesystem::path full = std::filesystem::absolute(board.FOutcome.FBackup, code);
    if (!code) {
      board.FOutcome.FBackup = full.lexically_normal().string();
    }
  }
  board.FReady = true;
}

void TCliStation::Assign(const std::vector<TBoard*>& boards) {
  std::vector<TBoard*> needing;
  std::vector<TLedgerRow> rows;
  for (TBoard* board : boards) {
    if (!board->FOutcome.FKept) {
      needing.push_back(board);
      TLedgerRow row;
      row.FStation = FSettings.FStation;
      row.FHub = board->FOutcome.FHub;
      row.FBackup = board->FOutcome.FBackup;
      row.FVersion = KORVANE_VERSION;
      rows.push_back(row);
    }
  }
  try {
    if (FSettings.FDryRun) {
      // Nothing is taken: the boards are shown the serials they would get, in turn.
      size_t first = 0;
      {
        std::lock_guard<std::mutex> guard(FOutput);
        first = FPreviewed;
        FPreviewed += needing.size();
      }
      const auto serials = FLedger.Preview(FSettings.FScheme, first + needing.size());
      for (size_t i = 0; i < needing.size(); ++i) {
        needing[i]->FOutcome.FSerial = serials[first + i].value_or(std::string());
      }
      return;
    }
    for (TBoard* board : boards) {
      if (board->FOutcome.FKept) {
        TLedgerRow row;
        row.FStation = FSettings.FStation;
        row.FHub = board->FOutcome.FHub;
        row.FSerial = board->FOutcome.FSerial;
        row.FKept = true;
        row.FBackup = board->FOutcome.FBackup;
        row.FVersion = KORVANE_VERSION;
        board->FRow = FLedger.Record(row);
      }
    }
    if (needing.empty()) {
      return;
    }
    const auto taken = FLedger.Take(FSettings.FScheme, rows);
    for (size_t i = 0; i < needing.size(); ++i) {
      if (taken[i]) {
        needing[i]->FRow = taken[i]->FId;
        needing[i]->FGiven = true;
        needing[i]->FOutcome.FSerial = taken[i]->FSerial;
      }
    }
  } catch (const TLedgerError& error) {
    LedgerFailed(error.what());
    for (TBoard* board : boards) {
      if (board->FRow == 0) {
        board->FReady = false;
        board->FOutcome.FResult = kFailed;
        board->FOutcome.FError =
            std::string("the ledger failed: ") + error.what() + "; nothing was written";
        End(*board);
      }
    }
  }
}

void TCliStation::Program(TBoard& board) {
  TBoardOutcome& outcome = board.FOutcome;
  // Nothing reached the board. A serial the ledger gave goes to the next board, unless it is
  // one no board can carry (`usable` false: too long for the image, say), which would stand
  // first in line for ever.
  const auto refuse = [&](const std::string& error, bool usable = true) {
    outcome.FResult = kFailed;
    outcome.FError = error;
    if (board.FGiven && usable) {
      Record(board, kReturned, "");
    } else if (board.FRow != 0) {
      Record(board, kFailed, error);
    }
    End(board);
  };
  if (FSettings.FDryRun ? outcome.FSerial.empty() : board.FRow == 0) {
    refuse(Exhausted(FSettings.FScheme));
    return;
  }
  std::unique_ptr<TEEImage> image;
  try {
    if (outcome.FKept) {
      image = Copy(*FSettings.FImage);
      const uint16_t first = TCliImageSupport::Languages(*image).at(0);
      if (!image->SetStringDescriptor(first, TEEImage::kSerialNumber,
                                      board.FKeptDescriptor.data())) {
        throw TCliError(cliexit::kData, "the board's own serial cannot be kept: " +
                                            TCliImageSupport::RefusalText(*image));
      }
    } else {
      image = WithSerial(*FSettings.FImage, outcome.FSerial);
    }
  } catch (const TCliError& refusal) {
    refuse(std::string(refusal.what()) + "; nothing was written", false);
    return;
  }
  outcome.FLength = image->GetLength();
  outcome.FSha256 = TSha256::Hex(ImageBytes(*image));
  if (FSettings.FDryRun) {
    outcome.FResult = "dry-run";
    End(board);
    return;
  }
  THubResult result;
  if (WriteEepromTo(*board.FChannel, *image) != TEepromOutcome::Success) {
    TCliHubSession::TransferFailed(*board.FChannel, "writing", result);
    if (board.FChannel->LastFailureSentNothing() && board.FGiven) {
      refuse(result.message + " before the write began; its serial goes to the next board");
      return;
    }
  } else if (!FSettings.FVerify || TCliBoardSteps::Verify(*board.FChannel, *image, result)) {
    outcome.FVerified = FSettings.FVerify;
    outcome.FResult = kProgrammed;
    Record(board, kProgrammed, "");
    End(board);
    return;
  }
  // Bytes may have reached the board: its serial is used up.
  outcome.FResult = kFailed;
  outcome.FError = result.message;
  Record(board, kFailed, result.message);
  End(board);
}

void TCliStation::Record(TBoard& board, const std::string& result, const std::string& error) {
  try {
    FLedger.Finish(board.FRow, result, error, board.FOutcome.FSha256);
  } catch (const TLedgerError& failure) {
    LedgerFailed(failure.what());
    board.FOutcome.FUnrecorded = failure.what();
  }
}

void TCliStation::LedgerFailed(const std::string& why) {
  std::lock_guard<std::mutex> guard(FOutput);
  if (!FLedgerError) {
    FLedgerError = why;
  }
}

void TCliStation::End(TBoard& board) {
  if (board.FChannel) {
    board.FChannel->Close();
  }
  board.FReady = false;
  Report(board.FOutcome);
}

void TCliStation::Report(const TBoardOutcome& outcome) {
  std::lock_guard<std::mutex> guard(FOutput);
  --FInFlight;
  ++FDone;
  FFailed += outcome.FResult == kFailed ? 1 : 0;
  FProgrammed += outcome.FResult == kProgrammed ? 1 : 0;
  FDryRuns += outcome.FResult == "dry-run" ? 1 : 0;
  std::string line = outcome.FHub + "  " + (outcome.FSerial.empty() ? "-" : outcome.FSerial) + "  ";
  if (outcome.FResult == kProgrammed) {
    line += std::string("programmed, ") + (outcome.FVerified ? "verified" : "not verified");
  } else if (outcome.FResult == kFailed) {
    line += "failed: " + outcome.FError;
  } else {
    line += "dry run: would write " + std::to_string(outcome.FLength) + " bytes";
  }
  line += outcome.FKept ? ", serial kept" : "";
  if (FContext.interactive) {
    FContext.err << "\r\033[K"; // the live count gives way to the line
  }
  if (FContext.json) {
    const auto text = [](const std::string& value) {
      return value.empty() ? TJson(nullptr) : TJson(value);
    };
    FContext.out << TCliJson::Dump(TJson{{"hub", outcome.FHub},
                                         {"serial", text(outcome.FSerial)},
                                         {"kept", outcome.FKept},
                                         {"result", outcome.FResult},
                                         {"verified", outcome.FVerified},
                                         {"error", text(outcome.FError)},
                                         {"backup", text(outcome.FBackup)},
                                         {"sha256", text(outcome.FSha256)}},
                                   -1)
                 << "\n";
  } else {
    FContext.out << line << "\n";
  }
  FContext.out.flush();
  if (!outcome.FUnrecorded.empty()) {
    FContext.err << "korvane-cli: the ledger did not record this outcome (" << outcome.FUnrecorded
                 << "): " << line << "\n";
  }
  ShowCount();
}

void TCliStation::ShowCount() {
  if (FContext.interactive) {
    FContext.err << "\r\033[K" << FDone << " done, " << FInFlight << " in flight, " << FFailed
                 << " failed" << std::flush;
  }
}

void TCliStation::ProgramAll(const std::vector<std::string>& paths, const std::atomic<bool>& stop) {
  std::vector<std::unique_ptr<TBoard>> boards;
  std::vector<THubResult> opened;
  // Opened together, with one listing of the hubs, not one per board.
  std::vector<std::unique_ptr<TTargetDev>> channels = FSession.OpenHubs(paths, opened);
  for (size_t i = 0; i < paths.size(); ++i) {
    boards.push_back(std::make_unique<TBoard>());
    boards.back()->FOutcome.FHub = paths[i];
    boards.back()->FChannel = std::move(channels[i]);
    boards.back()->FOpenError = opened[i].message; // empty when it opened
  }
  const auto inParallel = [&](void (TCliStation::*step)(TBoard&)) {
    std::vector<std::thread> threads;
    for (const auto& board : boards) {
      if (step == &TCliStation::Prepare || board->FReady) {
        threads.emplace_back([this, step, &board] { (this->*step)(*board); });
      }
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
  };
  inParallel(&TCliStation::Prepare);
  std::vector<TBoard*> ready;
  for (const auto& board : boards) {
    if (board->FReady) {
      ready.push_back(board.get());
    }
  }
  if (stop) {
    // Stopped while the boards were read: none has a serial yet, so none is written.
    for (TBoard* board : ready) {
      board->FOutcome.FResult = kFailed;
      board->FOutcome.FError = "stopped before its serial was taken; nothing was written";
      End(*board);
    }
    return;
  }
  if (!ready.empty()) {
    Assign(ready);
  }
  inParallel(&TCliStation::Program);
}

void TCliStation::Watch(const std::atomic<bool>& stop) {
  struct TSeen {
    bool FPresent = false;
    bool FAgain = false; // plugged in again while its last appearance was still being programmed
    std::shared_ptr<std::atomic<bool>> FBusy;
  };
  std::map<std::string, TSeen> seen;
  // Each appearance's worker, with its flag; a finished one is joined in the next round, so an
  // unattended station does not pile up ended threads.
  std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> workers;
  const auto start = [&](const std::string& path, TSeen& hub) {
    hub.FBusy = std::make_shared<std::atomic<bool>>(true);
    workers.emplace_back(std::thread([this, path, busy = hub.FBusy] {
                           TBoard board;
                           board.FOutcome.FHub = path;
                           Prepare(board);
                           if (board.FReady) {
                             Assign({&board});
                           }
                           if (board.FReady) {
                             Program(board);
                           }
                           *busy = false;
                         }),
                         hub.FBusy);
  };
  const auto ledgerFailed = [this] {
    std::lock_guard<std::mutex> guard(FOutput);
    return FLedgerError.has_value();
  };
  while (!stop && !ledgerFailed()) {
    for (auto worker = workers.begin(); worker != workers.end();) {
      if (*worker->second) {
        ++worker;
        continue;
      }
      worker->first.join();
      worker = workers.erase(worker);
    }
    std::vector<std::string> present;
    if (FSession.Driver().PresentInterfaces(present)) {
      for (auto& [path, hub] : seen) {
        const bool now = std::find(present.begin(), present.end(), path) != present.end();
        hub.FAgain = hub.FAgain || (now && !hub.FPresent);
        hub.FPresent = now;
      }
      for (const std::string& path : present) {
        if (seen.count(path) == 0) {
          seen[path] = TSeen{true, true, nullptr};
        }
      }
      for (auto& [path, hub] : seen) {
        if (hub.FAgain && hub.FPresent && (!hub.FBusy || !*hub.FBusy)) {
          hub.FAgain = false;
          start(path, hub);
        }
      }
    }
    FSession.Driver().WaitForChange(std::chrono::milliseconds(200));
  }
  for (auto& worker : workers) {
    worker.first.join();
  }
}

int TCliStation::Finish() {
  std::lock_guard<std::mutex> guard(FOutput);
  if (FContext.interactive) {
    FContext.err << "\r\033[K" << std::flush;
  }
  if (FContext.json) {
    TJson summary = {{"programmed", FProgrammed}, {"failed", FFailed}};
    if (FSettings.FDryRun) {
      summary["dry_run"] = FDryRuns;
    }
    FContext.out << TCliJson::Dump(summary, -1) << "\n";
  } else if (FSettings.FDryRun) {
    FContext.out << FDryRuns << " would be programmed, " << FFailed
                 << " failed (dry run: nothing was written)\n";
  } else {
    FContext.out << FProgrammed << " programmed, " << FFailed << " failed\n";
  }
  if (FLedgerError) {
    FContext.err << "korvane-cli: the ledger failed: " << *FLedgerError
                 << "; no further board was taken\n";
    return cliexit::kTempFail;
  }
  return FFailed > 0 ? cliexit::kIoError : cliexit::kOk;
}
