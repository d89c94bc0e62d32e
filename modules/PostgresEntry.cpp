// The module korvane-postgresql: a ledger shared by several stations, through libpq.
#include "ModuleStore.h"
#include "PostgresStore.h"

extern "C" TModuleStore* korvane_postgres_store_new(const std::string& connection,
                                                    std::string& error) noexcept {
  return TGuardedStore::Make([&] { return std::make_unique<TPostgresStore>(connection); }, error);
}
