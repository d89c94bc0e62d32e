#pragma once

#include <optional>
#include <string>
#include <vector>

// A value of a statement's parameter or result: text, or NULL.
using TSqlValue = std::optional<std::string>;
using TSqlRow = std::vector<TSqlValue>;

// The database under the ledger: SQLite for one station, PostgreSQL for several. The ledger
// speaks the SQL both understand; a store adds only what differs between them. Every failure
// throws TLedgerError.
class TLedgerStore {
public:
  virtual ~TLedgerStore() = default;

  // The column definition of a row number that the database assigns.
  virtual std::string RowIdColumn() const = 0;
  // A transaction that may write. It keeps every other writer (of any process or station) out
  // until it ends, so that reading what is free and taking it is one step. A `durable` one is on
  // disk when it commits; another may be lost with the machine's power, not with the process.
  virtual void BeginWrite(bool durable) = 0;
  virtual void BeginRead() = 0;
  virtual void Commit() = 0;
  // Ends the transaction without its changes; never throws.
  virtual void Rollback() noexcept = 0;
  // Runs one statement with parameters $1, $2, ... (all passed as text); the rows it returns.
  virtual std::vector<TSqlRow> Run(const std::string& sql,
                                   const std::vector<TSqlValue>& parameters = {}) = 0;
  // True when the schema table exists (a ledger that was never written to has none).
  virtual bool HasTable(const std::string& name) = 0;
};
