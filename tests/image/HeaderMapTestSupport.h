#pragma once

// Shared by the header map tests: the four kinds in table order and field lookup by identifier.

#include "HeaderMap.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace headermaptest {

constexpr THeaderKind kKinds[] = {THeaderKind::D0, THeaderKind::D2, THeaderKind::D3,
                                  THeaderKind::D4};

inline int Index(THeaderKind kind) {
  return static_cast<int>(kind);
}

inline const THeaderField& Field(std::string_view id) {
  const THeaderField* field = FindHeaderField(id);
  if (!field)
    throw std::runtime_error("no field " + std::string(id));
  return *field;
}

} // namespace headermaptest
