#pragma once

#include "LedgerRow.h"
#include "LedgerStore.h"
#include "SerialScheme.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The record of programmed boards, and the one place serial numbers are given out: a serial is
// taken in one transaction (recorded as "sending") before the first byte goes to the board, and
// one that may have reached a board is never given again, whatever the outcome. Safe to use from
// several threads; several processes and stations may share one ledger.
class TLedger {
public:
  static constexpr int kSchemaVersion = 1;

  // "sqlite:PATH" (its folder is created), "postgresql://..." or "postgresql:" (libpq's defaults
  // and the PG* environment variables). `readOnly`: nothing is created or written, and a ledger
  // that does not exist yet reads as an empty one (dry runs). `mustExist`: a ledger that is not
  // there (a mistyped path, say) is an error, not an empty ledger, and none is created. Throws
  // TLedgerError.
  static std::unique_ptr<TLedger> Open(const std::string& url, bool readOnly = false,
                                       bool mustExist = false);
  // True when `url` has one of the forms Open takes, whether or not its ledger can be reached.
  static bool IsUrl(const std::string& url);
  // sqlite:$XDG_DATA_HOME/korvane/ledger.sqlite (XDG_DATA_HOME defaults to ~/.local/share, and
  // so does one that is not an absolute path).
  static std::string DefaultUrl();

  // Creates or migrates the schema (several stations may do so at once).
  explicit TLedger(std::unique_ptr<TLedgerStore> store, bool migrate = true);

  struct TTaken {
    int64_t FId;
    std::string FSerial;
  };
  // Takes a serial of `scheme` for each row (their station, hub, backup, digest and version) in
  // one durable transaction: first a serial of the scheme that was given back, then the next
  // the scheme gives that no row uses. Nothing for a row when the scheme has no serial left.
  std::vector<std::optional<TTaken>> Take(const TSerialScheme& scheme,
                                          const std::vector<TLedgerRow>& rows);
  // The serials Take would give `count` boards now, without taking them.
  std::vector<std::optional<std::string>> Preview(const TSerialScheme& scheme, size_t count);
  // Records a row whose serial the board kept; its id.
  int64_t Record(const TLedgerRow& row);
  // The outcome of a taken or recorded row: programmed, failed (with the error), and the digest
  // of the bytes written (kept when empty).
  void Finish(int64_t id, const std::string& result, const std::string& error,
              const std::string& sha256 = {});
  // A serial that was taken but never sent goes back, to the next board.
  void GiveBack(int64_t id);
  // Rows left at "sending" at least `age` ago (their station stopped) become "interrupted";
  // how many.
  size_t CloseStale(std::chrono::seconds age);

  std::vector<TLedgerRow> List();
  std::vector<TLedgerRow> Find(const std::string& serial);

  // The current time as the ledger writes it: "2026-12-10T03:08:24Z".
  static std::string Now(std::chrono::seconds ago = std::chrono::seconds(0));

private:
  void Migrate();
  bool Used(const std::string& serial);
  // The serials for `count` boards, and the counter value after them (counter, clock).
  std::vector<std::optional<std::string>> Choose(const TSerialScheme& scheme, size_t count,
                                                 std::optional<uint64_t>& counterAfter);
  std::vector<TLedgerRow> Rows(const std::string& where, const std::vector<TSqlValue>& parameters);
  template <typename TWork> auto Write(bool durable, TWork work);

  std::unique_ptr<TLedgerStore> FStore;
  std::mutex FLock;
};
