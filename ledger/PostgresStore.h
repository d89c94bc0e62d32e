#pragma once

#include "LedgerStore.h"

#include <string>

struct pg_conn;

// The ledger shared by several stations: a PostgreSQL database reached through libpq. Every
// writing transaction takes one advisory lock of the ledger's own, so that taking a serial on one
// station waits for the others; a transaction that needs no durability commits without waiting
// for the disk.
class TPostgresStore : public TLedgerStore {
public:
  // `conninfo`: a libpq URI or key=value string; "" takes libpq's defaults and the PG*
  // environment variables.
  explicit TPostgresStore(const std::string& conninfo);
  ~TPostgresStore() override;
  TPostgresStore(const TPostgresStore&) = delete;
  TPostgresStore& operator=(const TPostgresStore&) = delete;

  std::string RowIdColumn() const override { return "BIGSERIAL PRIMARY KEY"; }
  void BeginWrite(bool durable) override;
  void BeginRead() override;
  void Commit() override;
  void Rollback() noexcept override;
  std::vector<TSqlRow> Run(const std::string& sql,
                           const std::vector<TSqlValue>& parameters = {}) override;
  bool HasTable(const std::string& name) override;

  // The lock every writer of a ledger takes (any number no other program is likely to use).
  static constexpr long long kWriterLock = 0x4B6F7276616E65; // "Korvane"

private:
  pg_conn* FConnection = nullptr;
};
