#include "SqliteStore.h"

#include "LedgerError.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace {

constexpr int kBusyMilliseconds = 10000;

// Frees a prepared statement on every way out.
class TStatement {
public:
  explicit TStatement(sqlite3_stmt* statement) : FStatement(statement) {}
  ~TStatement() { sqlite3_finalize(FStatement); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  sqlite3_stmt* Get() const { return FStatement; }

private:
  sqlite3_stmt* FStatement;
};

} // namespace

TSqliteStore::TSqliteStore(const std::string& path, bool create)
    : FPath(path.empty() ? ":memory:" : path) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(FPath.c_str(), &FDb, flags, nullptr) != SQLITE_OK) {
    const std::string reason = FDb != nullptr ? sqlite3_errmsg(FDb) : "out of memory";
    sqlite3_close(FDb);
    FDb = nullptr;
    throw TLedgerError(FPath + ": " + reason);
  }
  sqlite3_busy_timeout(FDb, kBusyMilliseconds);
  sqlite3_extended_result_codes(FDb, 1);
  if (!path.empty()) {
    // Turning a new database to WAL is refused at once (no busy wait) while another station
    // that is creating it at the same moment holds it: tried again, for as long as a lock wait.
    for (int waited = 0;; waited += 10) {
      const int result = sqlite3_exec(FDb, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
      if (result == SQLITE_OK) {
        break;
      }
      if ((result & 0xFF) != SQLITE_BUSY || waited >= kBusyMilliseconds) {
        const std::string reason = sqlite3_errmsg(FDb);
        sqlite3_close(FDb);
        FDb = nullptr;
        throw TLedgerError(FPath + ": PRAGMA journal_mode=WAL: " + reason);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

TSqliteStore::~TSqliteStore() {
  sqlite3_close(FDb);
}

void TSqliteStore::Fail(const std::string& what) const {
  throw TLedgerError(FPath + ": " + what + ": " + sqlite3_errmsg(FDb));
}

void TSqliteStore::Exec(const char* sql) {
  if (sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(sql);
  }
}

void TSqliteStore::BeginWrite(bool durable) {
  // A taken serial must survive a power cut; a finished row that gets lost only stays "sending",
  // which counts as used anyway.
  Exec(durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  Exec("BEGIN IMMEDIATE");
}

void TSqliteStore::BeginRead() {
  Exec("BEGIN");
}

void TSqliteStore::Commit() {
  Exec("COMMIT");
}

void TSqliteStore::Rollback() noexcept {
  sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<TSqlRow> TSqliteStore::Run(const std::string& sql,
                                       const std::vector<TSqlValue>& parameters) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(FDb, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    Fail("preparing " + sql);
  }
  const TStatement statement(raw);
  for (size_t i = 0; i < parameters.size(); ++i) {
    // Parameters are written $1, $2, ... as PostgreSQL wants them; SQLite takes them by name.
    const int index = sqlite3_bind_parameter_index(raw, ("$" + std::to_string(i + 1)).c_str());
    if (index == 0) {
      continue;
    }
    const int bound =
        parameters[i] ? sqlite3_bind_text(raw, index, parameters[i]->c_str(),
                                          static_cast<int>(parameters[i]->size()), SQLITE_TRANSIENT)
                      : sqlite3_bind_null(raw, index);
    if (bound != SQLITE_OK) {
      Fail("binding a parameter of " + sql);
    }
  }
  std::vector<TSqlRow> rows;
  for (;;) {
    const int step = sqlite3_step(raw);
    if (step == SQLITE_DONE) {
      return rows;
    }
    if (step != SQLITE_ROW) {
      Fail(sql);
    }
    TSqlRow row;
    for (int column = 0; column < sqlite3_column_count(raw); ++column) {
      const auto* text = sqlite3_column_text(raw, column);
      row.push_back(text == nullptr ? TSqlValue()
                                    : TSqlValue(std::string(
                                          reinterpret_cast<const char*>(text),
                                          static_cast<size_t>(sqlite3_column_bytes(raw, column)))));
    }
    rows.push_back(std::move(row));
  }
}

bool TSqliteStore::HasTable(const std::string& name) {
  return !Run("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = $1", {name}).empty();
}
