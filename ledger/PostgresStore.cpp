#include "PostgresStore.h"

#include "LedgerError.h"

#include <libpq-fe.h>

#include <memory>

namespace {

struct TResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

// libpq's message without its trailing newline.
std::string Message(const char* text) {
  std::string message = text != nullptr ? text : "";
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

} // namespace

TPostgresStore::TPostgresStore(const std::string& conninfo) {
  FConnection = PQconnectdb(conninfo.c_str());
  if (FConnection == nullptr || PQstatus(FConnection) != CONNECTION_OK) {
    const std::string reason =
        FConnection != nullptr ? Message(PQerrorMessage(FConnection)) : "out of memory";
    PQfinish(FConnection);
    FConnection = nullptr;
    throw TLedgerError("PostgreSQL: " + reason);
  }
  // Notices (a table that already exists, say) are no business of the tool's output.
  PQsetNoticeProcessor(
      FConnection, [](void*, const char*) {}, nullptr);
}

TPostgresStore::~TPostgresStore() {
  PQfinish(FConnection);
}

void TPostgresStore::BeginWrite(bool durable) {
  // Read committed whatever the server's default: each statement then sees what the writer
  // before us committed while we waited for the lock. A station that froze while holding the
  // lock holds up the others for 30 s at most; then this write fails, as an unreachable ledger.
  Run("BEGIN ISOLATION LEVEL READ COMMITTED");
  try {
    Run("SET LOCAL lock_timeout TO '30s'");
    Run("SELECT pg_advisory_xact_lock(" + std::to_string(kWriterLock) + ")");
    if (!durable) {
      Run("SET LOCAL synchronous_commit TO OFF");
    }
  } catch (const TLedgerError&) {
    Rollback(); // else the connection stays in a failed transaction
    throw;
  }
}

void TPostgresStore::BeginRead() {
  Run("BEGIN");
}

void TPostgresStore::Commit() {
  Run("COMMIT");
}

void TPostgresStore::Rollback() noexcept {
  PQclear(PQexec(FConnection, "ROLLBACK"));
}

std::vector<TSqlRow> TPostgresStore::Run(const std::string& sql,
                                         const std::vector<TSqlValue>& parameters) {
  std::vector<const char*> values;
  for (const TSqlValue& parameter : parameters) {
    values.push_back(parameter ? parameter->c_str() : nullptr);
  }
  const TResult result(PQexecParams(FConnection, sql.c_str(), static_cast<int>(values.size()),
                                    nullptr, values.data(), nullptr, nullptr, 0));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw TLedgerError("PostgreSQL: " + Message(PQerrorMessage(FConnection)));
  }
  std::vector<TSqlRow> rows;
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    TSqlRow row;
    for (int c = 0; c < PQnfields(result.get()); ++c) {
      row.push_back(
          PQgetisnull(result.get(), r, c)
              ? TSqlValue()
              : TSqlValue(std::string(PQgetvalue(result.get(), r, c),
                                      static_cast<size_t>(PQgetlength(result.get(), r, c)))));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool TPostgresStore::HasTable(const std::string& name) {
  const std::vector<TSqlRow> rows = Run("SELECT to_regclass($1) IS NOT NULL", {name});
  return !rows.empty() && rows[0][0] == std::string("t");
}
