#include "CliArgs.h"

#include "CliError.h"

#include <iterator>

TCliArgs TCliArgs::Parse(const std::vector<std::string>& args,
                         std::span<const TCliOptionSpec> specs) {
  TCliArgs result;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      result.FPositionals.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::string inlineValue;
    bool hasInline = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
        hasInline = true;
      }
    }
    const TCliOptionSpec* option = nullptr;
    for (const TCliOptionSpec& s : specs) {
      if (s.name == name) {
        option = &s;
      }
    }
    if (option == nullptr) {
      if (arg.rfind("--", 0) == 0) {
        throw TCliError(cliexit::kUsage, "unknown option " + name);
      }
      result.FPositionals.push_back(arg);
      continue;
    }
    if (!option->takesValue) {
      if (hasInline) {
        throw TCliError(cliexit::kUsage, "option " + name + " takes no value");
      }
      result.FOptions.emplace(name, std::string());
      continue;
    }
    if (!hasInline) {
      if (i + 1 >= args.size()) {
        throw TCliError(cliexit::kUsage, "option " + name + " needs a value");
      }
      inlineValue = args[++i];
    }
    result.FOptions.emplace(name, inlineValue);
  }
  return result;
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

void TCliArgs::ExpectPositionals(size_t least, size_t most, std::string_view usage) const {
  if (FPositionals.size() < least || FPositionals.size() > most) {
    throw TCliError(cliexit::kUsage, "usage: korvane-cli " + std::string(usage));
  }
}
