#include "CliArgs.h"

#include "CliError.h"

#include <iterator>

void TCliArgs::AddOption(const std::string& name, const std::string& value) {
  FOptions.emplace(name, value);
}

bool TCliArgs::Has(std::string_view name) const {
  return FOptions.find(name) != FOptions.end();
}

std::string TCliArgs::Value(std::string_view name, const std::string& fallback) const {
  auto [first, last] = FOptions.equal_range(name);
  if (first == last) {
    return fallback;
  }
  return std::prev(last)->second;
}

std::vector<std::string> TCliArgs::Values(std::string_view name) const {
  std::vector<std::string> values;
  auto [first, last] = FOptions.equal_range(name);
  for (auto it = first; it != last; ++it) {
    values.push_back(it->second);
  }
  return values;
}

void TCliArgs::ExpectPositionals(size_t least, size_t most) const {
  if (FPositionals.size() < least || FPositionals.size() > most) {
    UsageError();
  }
}

void TCliArgs::UsageError() const {
  throw TCliError(cliexit::kUsage, "usage: korvane-cli " + FSynopsis);
}
