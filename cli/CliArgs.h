#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One option a command accepts: "--device" (with a value), "--all" (a flag), "-o".
struct TCliOptionSpec {
  std::string_view name;
  bool takesValue;
};

// The arguments of one command after the global options were taken out: positionals in order and
// the options the command declared. An argument that starts with "--" and is not declared is a
// usage error; one that starts with a single '-' and is not declared is a positional, so that
// "-serial" and "-0x0407" reach `strings` and `languages` as items. "--" ends the options.
class TCliArgs {
public:
  // Throws TCliError (usage) for an unknown "--" option or a missing value.
  static TCliArgs Parse(const std::vector<std::string>& args,
                        std::span<const TCliOptionSpec> specs);

  bool Has(std::string_view name) const;
  // The last value given for the option, or `fallback`.
  std::string Value(std::string_view name, const std::string& fallback = {}) const;
  std::vector<std::string> Values(std::string_view name) const;
  const std::vector<std::string>& Positionals() const { return FPositionals; }

  // Throws a usage error unless the number of positionals lies within [least, most].
  void ExpectPositionals(size_t least, size_t most, std::string_view usage) const;

private:
  std::vector<std::string> FPositionals;
  std::multimap<std::string, std::string, std::less<>> FOptions;
};
