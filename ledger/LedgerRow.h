#pragma once

#include <cstdint>
#include <string>

// One attempt to program a board, as the ledger records it.
struct TLedgerRow {
  int64_t FId = 0;
  std::string FTime; // UTC, "2026-12-10T03:08:24Z"
  std::string FStation;
  std::string FHub;
  std::string FSerial;
  std::string FScheme; // the serial scheme that gave it ("counter:KV-%06d"), empty when kept
  bool FKept = false;  // the board's own serial, not one the ledger gave
  std::string FResult; // sending, programmed, failed, interrupted or returned
  std::string FError;
  std::string FSha256;  // of the bytes written
  std::string FBackup;  // the backup file of the board's EEPROM before the write
  std::string FVersion; // of the tool
};

// The results a row passes through.
namespace ledgerresult {
inline constexpr const char* kSending = "sending"; // taken; bytes may have reached the board
inline constexpr const char* kProgrammed = "programmed";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kInterrupted = "interrupted"; // left at sending by a station that died
inline constexpr const char* kReturned = "returned";       // taken but never sent: given again
} // namespace ledgerresult
