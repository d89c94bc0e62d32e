// The module korvane-sqlite: the ledger of one station, in an SQLite file.
#include "ModuleStore.h"
#include "SqliteStore.h"

extern "C" TModuleStore* korvane_sqlite_store_new(const std::string& path, bool create,
                                                  std::string& error) noexcept {
  return TGuardedStore::Make([&] { return std::make_unique<TSqliteStore>(path, create); }, error);
}
