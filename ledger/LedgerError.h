#pragma once

#include <stdexcept>
#include <string>

// The ledger could not be reached, or a statement on it failed. NotAFile: the path of an SQLite
// ledger names something else (a folder, a pipe, a device), which was left alone.
class TLedgerError : public std::runtime_error {
public:
  enum class TKind { Failed, NotAFile };

  explicit TLedgerError(const std::string& message, TKind kind = TKind::Failed)
      : std::runtime_error(message), FKind(kind) {}
  TKind Kind() const { return FKind; }

private:
  TKind FKind;
};
