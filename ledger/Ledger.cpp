#include "Ledger.h"

#include "LedgerError.h"
#include "Module.h"
#include "ModuleStore.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

namespace {

using namespace ledgerresult;

constexpr const char* kColumns =
    "id, time, station, hub, serial, scheme, kept, result, error, sha256, backup, version";

// The schema, step by step: entry N brings a ledger of version N-1 to version N. `%ID%` stands
// for the row number column of the database.
const std::vector<std::vector<std::string>>& Migrations() {
  static const std::vector<std::vector<std::string>> steps = {
      {
          "CREATE TABLE boards (id %ID%, time TEXT NOT NULL, station TEXT NOT NULL, "
          "hub TEXT NOT NULL, serial TEXT NOT NULL, scheme TEXT NOT NULL, kept INTEGER NOT NULL, "
          "result TEXT NOT NULL, error TEXT NOT NULL, sha256 TEXT NOT NULL, "
          "backup TEXT NOT NULL, version TEXT NOT NULL)",
          "CREATE INDEX boards_by_serial ON boards (serial)",
          // A serial the ledger gave is given once, unless it came back unsent.
          "CREATE UNIQUE INDEX boards_given_once ON boards (serial) "
          "WHERE kept = 0 AND result <> 'returned'",
          "CREATE TABLE counters (name TEXT PRIMARY KEY, next_value BIGINT NOT NULL)",
      },
  };
  return steps;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string Text(const TSqlValue& value) {
  return value.value_or(std::string());
}

uint64_t Number(const TSqlValue& value) {
  return value ? std::strtoull(value->c_str(), nullptr, 10) : 0;
}

// A counter's stored value; one that is no whole number (a float, say) is refused rather than
// read as the digits before its point, which would give numbers out again.
uint64_t CounterValue(const TSqlValue& value) {
  const std::string text = Text(value);
  char* end = nullptr;
  const uint64_t number = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || *end != '\0' || number > static_cast<uint64_t>(INT64_MAX)) {
    throw TLedgerError("a serial counter of the ledger holds \"" + text + "\", which is no count");
  }
  return number;
}

// Undoes the transaction when the work in it throws.
class TTransaction {
public:
  explicit TTransaction(TLedgerStore& store) : FStore(store) {}
  ~TTransaction() {
    if (!FDone) {
      FStore.Rollback();
    }
  }
  void Commit() {
    FStore.Commit();
    FDone = true;
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

private:
  TLedgerStore& FStore;
  bool FDone = false;
};

// A database module's store on the program's side: its answers become TLedgerError again.
class TLoadedStore : public TLedgerStore {
public:
  explicit TLoadedStore(TModuleStore* store) : FStore(store) {}

  std::string RowIdColumn() const override {
    std::string column;
    Check(FStore->RowIdColumn(column, FError));
    return column;
  }
  void BeginWrite(bool durable) override { Check(FStore->BeginWrite(durable, FError)); }
  void BeginRead() override { Check(FStore->BeginRead(FError)); }
  void Commit() override { Check(FStore->Commit(FError)); }
  void Rollback() noexcept override { FStore->Rollback(); }
  std::vector<TSqlRow> Run(const std::string& sql,
                           const std::vector<TSqlValue>& parameters) override {
    std::vector<TSqlRow> rows;
    Check(FStore->Run(sql, parameters, rows, FError));
    return rows;
  }
  bool HasTable(const std::string& name) override {
    bool has = false;
    Check(FStore->HasTable(name, has, FError));
    return has;
  }

private:
  void Check(bool done) const {
    if (!done) {
      throw TLedgerError(FError);
    }
  }

  std::unique_ptr<TModuleStore> FStore;
  mutable std::string FError;
};

// The databases are modules of their own, loaded when a ledger of their kind is first opened.
template <typename TNew, typename... TArgs>
std::unique_ptr<TLedgerStore> LoadStore(const char* module, const char* entry, TArgs&&... args) {
  TNew open = nullptr;
  try {
    open = reinterpret_cast<TNew>(TModule::Entry(module, entry));
  } catch (const TModuleError& error) {
    throw TLedgerError(error.what());
  }
  std::string error;
  TModuleStore* store = open(std::forward<TArgs>(args)..., error);
  if (store == nullptr) {
    throw TLedgerError(error);
  }
  return std::make_unique<TLoadedStore>(store);
}

std::unique_ptr<TLedgerStore> SqliteStore(const std::string& path, bool create) {
  using TNew = TModuleStore* (*)(const std::string&, bool, std::string&);
  return LoadStore<TNew>("korvane-sqlite", "korvane_sqlite_store_new", path, create);
}

std::unique_ptr<TLedgerStore> PostgresStore(const std::string& connection) {
  using TNew = TModuleStore* (*)(const std::string&, std::string&);
  return LoadStore<TNew>("korvane-postgresql", "korvane_postgres_store_new", connection);
}

std::unique_ptr<TLedgerStore> OpenStore(const std::string& url, bool readOnly, bool mustExist,
                                        bool& empty) {
  empty = false;
  if (url.rfind("sqlite:", 0) == 0) {
    const std::filesystem::path path = url.substr(7);
    if (path.empty()) {
      throw TLedgerError("sqlite: needs the path of the ledger file");
    }
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::status(path, code);
    const bool exists = std::filesystem::exists(status);
    // SQLite would read a device or a pipe as a database and create its journal beside it.
    if (exists && !std::filesystem::is_regular_file(status)) {
      throw TLedgerError(path.string() + ": not a regular file", TLedgerError::TKind::NotAFile);
    }
    if (mustExist && !exists) {
      throw TLedgerError(path.string() + ": no ledger there");
    }
    if (readOnly && !exists) {
      empty = true;
      return SqliteStore("", true);
    }
    if (!readOnly && !exists && path.has_parent_path()) {
      std::filesystem::create_directories(path.parent_path(), code);
    }
    return SqliteStore(path.string(), !readOnly && !mustExist);
  }
  if (!TLedger::IsUrl(url)) {
    throw TLedgerError("\"" + url +
                       "\" is no ledger (sqlite:PATH, postgresql://... or postgresql:)");
  }
  return PostgresStore(url == "postgresql:" || url == "postgres:" ? "" : url);
}

} // namespace

bool TLedger::IsUrl(const std::string& url) {
  return (url.rfind("sqlite:", 0) == 0 && url.size() > 7) || url == "postgresql:" ||
         url == "postgres:" || url.rfind("postgresql://", 0) == 0 ||
         url.rfind("postgres://", 0) == 0;
}

std::string TLedger::DefaultUrl() {
  // An XDG variable that is set but not absolute is to be ignored: a ledger relative to the
  // current folder would be another ledger, with its own counters, in each folder.
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string folder;
  if (data != nullptr && data[0] == '/') {
    folder = data;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : ".") + "/.local/share";
  }
  return "sqlite:" + folder + "/korvane/ledger.sqlite";
}

std::unique_ptr<TLedger> TLedger::Open(const std::string& url, bool readOnly, bool mustExist) {
  bool empty = false;
  std::unique_ptr<TLedgerStore> store = OpenStore(url, readOnly, mustExist, empty);
  if (mustExist && !store->HasTable("korvane_schema")) {
    throw TLedgerError(url + " holds no ledger");
  }
  if (readOnly && !empty && !store->HasTable("korvane_schema")) {
    store = SqliteStore("", true); // a database that holds no ledger yet
    empty = true;
  }
  return std::make_unique<TLedger>(std::move(store), !readOnly || empty);
}

TLedger::TLedger(std::unique_ptr<TLedgerStore> store, bool migrate) : FStore(std::move(store)) {
  if (migrate) {
    Migrate();
  }
}

std::string TLedger::Now(std::chrono::seconds ago) {
  const std::time_t moment = std::time(nullptr) - static_cast<std::time_t>(ago.count());
  std::tm utc{};
  gmtime_r(&moment, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

template <typename TWork> auto TLedger::Write(bool durable, TWork work) {
  std::lock_guard<std::mutex> guard(FLock);
  FStore->BeginWrite(durable);
  TTransaction transaction(*FStore);
  if constexpr (std::is_void_v<decltype(work())>) {
    work();
    transaction.Commit();
  } else {
    auto result = work();
    transaction.Commit();
    return result;
  }
}

void TLedger::Migrate() {
  // Under the writers' lock, so that two stations starting at once on a new database neither
  // race to create the tables nor both migrate.
  Write(true, [this] {
    FStore->Run("CREATE TABLE IF NOT EXISTS korvane_schema (version INTEGER NOT NULL)");
    const std::vector<TSqlRow> rows = FStore->Run("SELECT version FROM korvane_schema");
    const uint64_t version = rows.empty() ? 0 : Number(rows[0][0]);
    if (version > Migrations().size()) {
      throw TLedgerError("the ledger has schema version " + std::to_string(version) +
                         ", made by a newer tool than this one (which knows " +
                         std::to_string(kSchemaVersion) + ")");
    }
    for (size_t step = version; step < Migrations().size(); ++step) {
      for (const std::string& sql : Migrations()[step]) {
        FStore->Run(Replace(sql, "%ID%", FStore->RowIdColumn()));
      }
    }
    if (rows.empty()) {
      FStore->Run("INSERT INTO korvane_schema (version) VALUES ($1)",
                  {std::to_string(Migrations().size())});
    } else if (version < Migrations().size()) {
      FStore->Run("UPDATE korvane_schema SET version = $1", {std::to_string(Migrations().size())});
    }
  });
}

bool TLedger::Used(const std::string& serial) {
  return !FStore
              ->Run("SELECT 1 FROM boards WHERE serial = $1 AND result <> 'returned' LIMIT 1",
                    {serial})
              .empty();
}

std::vector<std::optional<std::string>> TLedger::Choose(const TSerialScheme& scheme, size_t count,
                                                        std::optional<uint64_t>& counterAfter) {
  std::vector<std::optional<std::string>> serials;
  std::set<std::string> chosen;
  const auto free = [&](const std::string& serial) {
    return chosen.count(serial) == 0 && !Used(serial);
  };
  // Serials of this scheme that were taken and never sent go first; of a list, only those its
  // file still holds (another station's file of the same name, or a line since removed, is not
  // this list).
  const std::set<std::string> lines(scheme.Lines().begin(), scheme.Lines().end());
  for (const TSqlRow& row :
       FStore->Run("SELECT serial FROM boards WHERE scheme = $1 AND result = 'returned' "
                   "ORDER BY id",
                   {scheme.Key()})) {
    const bool ours = scheme.Kind() != TSerialScheme::TKind::List || lines.count(Text(row[0])) != 0;
    if (serials.size() < count && ours && free(Text(row[0]))) {
      chosen.insert(Text(row[0]));
      serials.push_back(Text(row[0]));
    }
  }
  switch (scheme.Kind()) {
  case TSerialScheme::TKind::List: {
    std::set<std::string> used;
    for (const TSqlRow& row :
         FStore->Run("SELECT DISTINCT serial FROM boards WHERE result <> 'returned'")) {
      used.insert(Text(row[0]));
    }
    for (const std::string& line : scheme.Lines()) {
      if (serials.size() < count && used.count(line) == 0 && chosen.insert(line).second) {
        serials.push_back(line);
      }
    }
    break;
  }
  case TSerialScheme::TKind::Counter:
  case TSerialScheme::TKind::Clock: {
    const bool clock = scheme.Kind() == TSerialScheme::TKind::Clock;
    const std::vector<TSqlRow> rows =
        FStore->Run("SELECT next_value FROM counters WHERE name = $1", {scheme.Key()});
    uint64_t next = rows.empty() ? (clock ? 0 : scheme.Start()) : CounterValue(rows[0][0]);
    if (clock) {
      // Never below the last one given: a station faster than a board a second runs ahead.
      next = std::max(next, TSerialScheme::ClockNow());
    }
    // Past the last number the boards get none, as past a list's last line: the counter then
    // stays at that number (BIGINT holds no more, and SQLite would keep a larger one as a
    // float), which is used and so passed over.
    constexpr uint64_t kLast = static_cast<uint64_t>(INT64_MAX);
    while (serials.size() < count && next <= kLast) {
      const std::string serial = clock ? TSerialScheme::ClockText(next) : scheme.Format(next);
      ++next;
      if (free(serial)) {
        chosen.insert(serial);
        serials.push_back(serial);
      }
    }
    counterAfter = std::min(next, kLast);
    break;
  }
  }
  serials.resize(count);
  return serials;
}

std::vector<std::optional<TLedger::TTaken>> TLedger::Take(const TSerialScheme& scheme,
                                                          const std::vector<TLedgerRow>& rows) {
  return Write(true, [&] {
    std::optional<uint64_t> counterAfter;
    const std::vector<std::optional<std::string>> serials =
        Choose(scheme, rows.size(), counterAfter);
    if (counterAfter) {
      FStore->Run("INSERT INTO counters (name, next_value) VALUES ($1, $2) "
                  "ON CONFLICT (name) DO UPDATE SET next_value = excluded.next_value",
                  {scheme.Key(), std::to_string(*counterAfter)});
    }
    std::vector<std::optional<TTaken>> taken;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (!serials[i]) {
        taken.emplace_back();
        continue;
      }
      const TLedgerRow& row = rows[i];
      const std::vector<TSqlRow> id = FStore->Run(
          "INSERT INTO boards (time, station, hub, serial, scheme, kept, result, error, sha256, "
          "backup, version) VALUES ($1, $2, $3, $4, $5, 0, 'sending', '', $6, $7, $8) "
          "RETURNING id",
          {Now(), row.FStation, row.FHub, *serials[i], scheme.Key(), row.FSha256, row.FBackup,
           row.FVersion});
      taken.push_back(TTaken{static_cast<int64_t>(Number(id.at(0).at(0))), *serials[i]});
    }
    return taken;
  });
}

std::vector<std::optional<std::string>> TLedger::Preview(const TSerialScheme& scheme,
                                                         size_t count) {
  std::lock_guard<std::mutex> guard(FLock);
  FStore->BeginRead();
  TTransaction transaction(*FStore);
  std::optional<uint64_t> counterAfter;
  auto serials = Choose(scheme, count, counterAfter);
  transaction.Commit();
  return serials;
}

int64_t TLedger::Record(const TLedgerRow& row) {
  // Durable as a take: the row is what keeps the kept serial from being given to another board.
  return Write(true, [&] {
    const std::vector<TSqlRow> id = FStore->Run(
        "INSERT INTO boards (time, station, hub, serial, scheme, kept, result, error, sha256, "
        "backup, version) VALUES ($1, $2, $3, $4, $5, $6, 'sending', '', $7, $8, $9) "
        "RETURNING id",
        {Now(), row.FStation, row.FHub, row.FSerial, row.FScheme, row.FKept ? "1" : "0",
         row.FSha256, row.FBackup, row.FVersion});
    return static_cast<int64_t>(Number(id.at(0).at(0)));
  });
}

void TLedger::Finish(int64_t id, const std::string& result, const std::string& error,
                     const std::string& sha256) {
  // Not durable: a finish lost with the power leaves the row at "sending", which counts as used.
  Write(false, [&] {
    FStore->Run("UPDATE boards SET result = $2, error = $3, "
                "sha256 = CASE WHEN $4 = '' THEN sha256 ELSE $4 END WHERE id = $1",
                {std::to_string(id), result, error, sha256});
  });
}

void TLedger::GiveBack(int64_t id) {
  Finish(id, kReturned, "");
}

size_t TLedger::CloseStale(std::chrono::seconds age) {
  return Write(false, [&] {
    return FStore
        ->Run("UPDATE boards SET result = 'interrupted', error = $2 "
              "WHERE result = 'sending' AND time <= $1 RETURNING id",
              {Now(age), "the station stopped before it recorded the outcome"})
        .size();
  });
}

std::vector<TLedgerRow> TLedger::Rows(const std::string& where,
                                      const std::vector<TSqlValue>& parameters) {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<TLedgerRow> rows;
  for (const TSqlRow& row :
       FStore->Run(std::string("SELECT ") + kColumns + " FROM boards " + where + " ORDER BY id",
                   parameters)) {
    TLedgerRow out;
    out.FId = static_cast<int64_t>(Number(row[0]));
    out.FTime = Text(row[1]);
    out.FStation = Text(row[2]);
    out.FHub = Text(row[3]);
    out.FSerial = Text(row[4]);
    out.FScheme = Text(row[5]);
    out.FKept = Number(row[6]) != 0;
    out.FResult = Text(row[7]);
    out.FError = Text(row[8]);
    out.FSha256 = Text(row[9]);
    out.FBackup = Text(row[10]);
    out.FVersion = Text(row[11]);
    rows.push_back(std::move(out));
  }
  return rows;
}

std::vector<TLedgerRow> TLedger::List() {
  return Rows("", {});
}

std::vector<TLedgerRow> TLedger::Find(const std::string& serial) {
  return Rows("WHERE serial = $1", {serial});
}
