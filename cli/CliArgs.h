#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// What the command line gave one command, as the parser found it: the options it declared, in the
// order given, and its positionals (an argument that begins with a single '-' and names no option
// is a positional, so that "-serial" and "-0x0407" reach `strings` and `languages` as items).
class TCliArgs {
public:
  explicit TCliArgs(std::string synopsis = {}) : FSynopsis(std::move(synopsis)) {}

  void AddOption(const std::string& name, const std::string& value);
  void AddPositional(const std::string& value) { FPositionals.push_back(value); }

  bool Has(std::string_view name) const;
  // The last value given for the option, or `fallback`.
  std::string Value(std::string_view name, const std::string& fallback = {}) const;
  std::vector<std::string> Values(std::string_view name) const;
  const std::vector<std::string>& Positionals() const { return FPositionals; }

  // Throws a usage error naming the command's synopsis unless the number of positionals lies
  // within [least, most].
  void ExpectPositionals(size_t least, size_t most) const;
  // TCliError 64 with the command's usage line.
  [[noreturn]] void UsageError() const;

private:
  std::string FSynopsis;
  std::vector<std::string> FPositionals;
  std::multimap<std::string, std::string, std::less<>> FOptions;
};
