#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The SHA-256 digest the ledger records of the bytes written to a board (Nettle's, from the
// module korvane-nettle: TModuleError when it cannot be loaded).
class TSha256 {
public:
  // 64 lower-case hexadecimal digits.
  static std::string Hex(const std::vector<uint8_t>& bytes);
};
