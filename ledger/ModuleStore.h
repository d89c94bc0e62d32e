#pragma once

#include "LedgerError.h"
#include "LedgerStore.h"

#include <memory>
#include <string>
#include <vector>

// A store as a database module hands it over. The module and the program each carry their own
// C++ runtime, and an exception cannot pass from one runtime's frames to the other's, so nothing
// here throws: a call says whether it worked and, when not, why. TLedger::Open turns the answers
// back into TLedgerError on the program's side.
class TModuleStore {
public:
  virtual ~TModuleStore() = default;
  virtual bool RowIdColumn(std::string& column, std::string& error) noexcept = 0;
  virtual bool BeginWrite(bool durable, std::string& error) noexcept = 0;
  virtual bool BeginRead(std::string& error) noexcept = 0;
  virtual bool Commit(std::string& error) noexcept = 0;
  virtual void Rollback() noexcept = 0;
  virtual bool Run(const std::string& sql, const std::vector<TSqlValue>& parameters,
                   std::vector<TSqlRow>& rows, std::string& error) noexcept = 0;
  virtual bool HasTable(const std::string& name, bool& has, std::string& error) noexcept = 0;
};

// Inside a module: a store whose failures (TLedgerError, or any other exception, say no memory)
// are caught before they leave the module.
class TGuardedStore : public TModuleStore {
public:
  explicit TGuardedStore(std::unique_ptr<TLedgerStore> store) : FStore(std::move(store)) {}

  bool RowIdColumn(std::string& column, std::string& error) noexcept override {
    return Guard(error, [&] { column = FStore->RowIdColumn(); });
  }
  bool BeginWrite(bool durable, std::string& error) noexcept override {
    return Guard(error, [&] { FStore->BeginWrite(durable); });
  }
  bool BeginRead(std::string& error) noexcept override {
    return Guard(error, [&] { FStore->BeginRead(); });
  }
  bool Commit(std::string& error) noexcept override {
    return Guard(error, [&] { FStore->Commit(); });
  }
  void Rollback() noexcept override { FStore->Rollback(); }
  bool Run(const std::string& sql, const std::vector<TSqlValue>& parameters,
           std::vector<TSqlRow>& rows, std::string& error) noexcept override {
    return Guard(error, [&] { rows = FStore->Run(sql, parameters); });
  }
  bool HasTable(const std::string& name, bool& has, std::string& error) noexcept override {
    return Guard(error, [&] { has = FStore->HasTable(name); });
  }

  // Makes a store with `make`, or says why it could not.
  template <typename TMake> static TModuleStore* Make(TMake make, std::string& error) noexcept {
    TModuleStore* made = nullptr;
    Guard(error, [&] { made = new TGuardedStore(make()); });
    return made;
  }

private:
  template <typename TWork> static bool Guard(std::string& error, TWork work) noexcept {
    try {
      work();
      return true;
    } catch (const std::exception& failure) {
      try {
        error = failure.what();
      } catch (...) {
      }
    } catch (...) {
      try {
        error = "unknown failure";
      } catch (...) {
      }
    }
    return false;
  }

  std::unique_ptr<TLedgerStore> FStore;
};
