#include "CompletionModel.h"

#include "CliCommandTable.h"
#include "CliImageSupport.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace {

TCompletionOption OptionOf(std::string_view command, const TCliOption& option) {
  return {std::string(option.name), std::string(option.value), std::string(option.help),
          TCompletionModel::KindOf(command, option.value)};
}

bool TakesValue(std::string_view name, const std::vector<TCompletionOption>& options) {
  return std::any_of(options.begin(), options.end(), [name](const TCompletionOption& option) {
    return option.name == name && !option.value.empty();
  });
}

bool IsLiteral(std::string_view word) {
  return std::all_of(word.begin(), word.end(), [](char c) {
    return std::islower(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
           std::isdigit(static_cast<unsigned char>(c));
  });
}

} // namespace

TCompletionModel::TCompletionModel() {
  for (const TCliOption& option : TCliCommandTable::GlobalOptions()) {
    FGlobals.push_back(OptionOf({}, option));
  }
  FGlobals.push_back({"-h", "", "this text", TValueKind::None});
  FGlobals.push_back({"--help", "", "this text", TValueKind::None});
  for (const TCliCommand& command : TCliCommandTable::Commands()) {
    TCompletionCommand entry;
    entry.name = std::string(command.name);
    entry.summary = std::string(command.summary);
    for (const TCliOption& option : command.options) {
      entry.options.push_back(OptionOf(command.name, option));
    }
    std::vector<TCompletionOption> all = entry.options;
    all.insert(all.end(), FGlobals.begin(), FGlobals.end());
    entry.args = Positionals(command.name, command.synopsis, all, entry.lastRepeats);
    FCommands.push_back(std::move(entry));
  }
  // The parser's own command, which is no entry of the table.
  FCommands.push_back(
      {"help", "this text, or help COMMAND", {}, {{"COMMAND", TValueKind::Command, {}}}, false});
}

std::vector<TCompletionTopWord> TCompletionModel::TopWords() const {
  std::vector<TCompletionTopWord> words;
  for (const TCompletionCommand& command : FCommands) {
    const size_t space = command.name.find(' ');
    const std::string first = command.name.substr(0, space);
    auto found = std::find_if(words.begin(), words.end(), [&first](const TCompletionTopWord& word) {
      return word.name == first;
    });
    if (found == words.end()) {
      words.push_back({first, space == std::string::npos ? command.summary : std::string(), {}});
      found = words.end() - 1;
    }
    if (space != std::string::npos) {
      found->subcommands.push_back(&command);
    }
  }
  for (TCompletionTopWord& word : words) {
    if (!word.subcommands.empty() && word.summary.empty()) {
      std::string names;
      for (const TCompletionCommand* sub : word.subcommands) {
        names += (names.empty() ? "" : ", ") + sub->name.substr(word.name.size() + 1);
      }
      word.summary = names;
    }
  }
  return words;
}

std::vector<std::string> TCompletionModel::StringKinds() const {
  std::vector<std::string> kinds;
  for (const TCliStringKind& kind : TCliImageSupport::StringKinds()) {
    kinds.emplace_back(kind.name);
  }
  return kinds;
}

TValueKind TCompletionModel::KindOf(std::string_view command, std::string_view placeholder) {
  // The one list whose items are string kinds; every other placeholder means the same wherever
  // it stands.
  if (command == "strings" && placeholder == "LIST") {
    return TValueKind::KindList;
  }
  static const std::map<std::string_view, TValueKind> kinds = {
      {"IMAGE", TValueKind::File},     {"FILE", TValueKind::File}, {"OUT", TValueKind::File},
      {"A", TValueKind::File},         {"B", TValueKind::File},    {"DIR", TValueKind::Dir},
      {"PATH", TValueKind::Hub},       {"KIND", TValueKind::Kind}, {"ID=VALUE", TValueKind::Field},
      {"COMMAND", TValueKind::Command}};
  const auto found = kinds.find(placeholder);
  return found == kinds.end() ? TValueKind::None : found->second;
}

std::vector<TCompletionArg>
TCompletionModel::Positionals(std::string_view command, std::string_view synopsis,
                              const std::vector<TCompletionOption>& options, bool& lastRepeats) {
  std::string spaced;
  for (const char c : synopsis) {
    const bool grouping = c == '[' || c == ']' || c == '(' || c == ')' || c == '|';
    spaced += grouping ? std::string(" ") + c + " " : std::string(1, c);
  }
  std::istringstream in(spaced);
  std::vector<std::string> tokens;
  for (std::string token; in >> token;) {
    tokens.push_back(token);
  }
  // The synopsis starts with the command's own words.
  size_t i = 0;
  std::istringstream name{std::string(command)};
  for (std::string word; name >> word && i < tokens.size() && tokens[i] == word;) {
    ++i;
  }

  // Each alternative of a group starts at the group's first place: "(list | find SERIAL)" has
  // list or find first, SERIAL second.
  struct TGroup {
    size_t start;
    size_t end;
  };
  std::vector<TGroup> groups;
  std::vector<TCompletionArg> args;
  size_t place = 0;
  lastRepeats = false;
  for (; i < tokens.size(); ++i) {
    std::string token = tokens[i];
    if (token == "(" || token == "[") {
      groups.push_back({place, place});
      continue;
    }
    if (token == "|" || token == ")" || token == "]") {
      if (groups.empty()) {
        continue;
      }
      groups.back().end = std::max(groups.back().end, place);
      place = token == "|" ? groups.back().start : groups.back().end;
      if (token != "|") {
        groups.pop_back();
      }
      continue;
    }
    if (token.front() == '-' && token.size() > 1) {
      if (TakesValue(token, options)) {
        ++i;
      }
      continue;
    }
    bool repeats = false;
    if (token.size() > 3 && token.compare(token.size() - 3, 3, "...") == 0) {
      token.resize(token.size() - 3);
      repeats = true;
    }
    const bool literal = IsLiteral(token);
    if (place == args.size()) {
      args.push_back(literal ? TCompletionArg{token, TValueKind::Words, {token}}
                             : TCompletionArg{token, KindOf(command, token), {}});
    } else if (literal && args[place].kind == TValueKind::Words) {
      args[place].words.push_back(token);
    }
    lastRepeats = repeats && place + 1 == args.size();
    ++place;
  }
  return args;
}
