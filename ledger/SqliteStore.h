#pragma once

#include "LedgerStore.h"

#include <string>

struct sqlite3;

// The ledger of one station: a SQLite file. Writers take the database's write lock for the whole
// transaction (BEGIN IMMEDIATE) and wait up to ten seconds for one another, so several processes
// of the station can share the file. The file is in write-ahead-log mode; a transaction marked
// durable is on disk when it commits, the others only survive a killed process.
class TSqliteStore : public TLedgerStore {
public:
  // Opens (creating when `create`) the database file; "" opens an empty one in memory.
  TSqliteStore(const std::string& path, bool create);
  ~TSqliteStore() override;
  TSqliteStore(const TSqliteStore&) = delete;
  TSqliteStore& operator=(const TSqliteStore&) = delete;

  std::string RowIdColumn() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
  void BeginWrite(bool durable) override;
  void BeginRead() override;
  void Commit() override;
  void Rollback() noexcept override;
  std::vector<TSqlRow> Run(const std::string& sql,
                           const std::vector<TSqlValue>& parameters = {}) override;
  bool HasTable(const std::string& name) override;

private:
  void Exec(const char* sql);
  [[noreturn]] void Fail(const std::string& what) const;

  sqlite3* FDb = nullptr;
  std::string FPath;
};
