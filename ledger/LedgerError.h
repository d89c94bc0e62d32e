#pragma once

#include <stdexcept>
#include <string>

// The ledger could not be reached, or a statement on it failed.
class TLedgerError : public std::runtime_error {
public:
  explicit TLedgerError(const std::string& message) : std::runtime_error(message) {}
};
