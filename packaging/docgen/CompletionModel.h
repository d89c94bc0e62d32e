#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a word of the command line completes to.
enum class TValueKind { None, File, Dir, Hub, Kind, KindList, Field, Command, Words };

struct TCompletionOption {
  std::string name;  // "--device"
  std::string value; // "PATH"; empty for a flag
  std::string help;
  TValueKind kind = TValueKind::None;
};

// A positional of a command, in its synopsis's order.
struct TCompletionArg {
  std::string name; // "IMAGE"
  TValueKind kind = TValueKind::None;
  std::vector<std::string> words; // kind Words: the literal words it may be ("list", "find")
};

struct TCompletionCommand {
  std::string name; // "write"; "ledger list" for one of a group of subcommands
  std::string summary;
  std::vector<TCompletionOption> options; // without the global ones
  std::vector<TCompletionArg> args;
  bool lastRepeats = false; // "ID=VALUE..."
};

// A word at the command's place: a command, or the name of a group of subcommands.
struct TCompletionTopWord {
  std::string name;
  std::string summary;
  std::vector<const TCompletionCommand*> subcommands; // empty for a plain command
};

// korvane-cli's command line as the completions see it, made from the command table, so that a
// command added there completes without touching the scripts.
class TCompletionModel {
public:
  TCompletionModel();

  const std::vector<TCompletionCommand>& Commands() const { return FCommands; }
  const std::vector<TCompletionOption>& GlobalOptions() const { return FGlobals; }
  std::vector<TCompletionTopWord> TopWords() const;
  std::vector<std::string> StringKinds() const;

  // The positionals of a synopsis: its words that are neither an option nor an option's value;
  // brackets and parentheses only group, and words joined by '|' share a place.
  static std::vector<TCompletionArg> Positionals(std::string_view command,
                                                 std::string_view synopsis,
                                                 const std::vector<TCompletionOption>& options,
                                                 bool& lastRepeats);
  // What a placeholder of the table completes to ("PATH": a hub, "IMAGE": a file).
  static TValueKind KindOf(std::string_view command, std::string_view placeholder);

private:
  std::vector<TCompletionCommand> FCommands;
  std::vector<TCompletionOption> FGlobals;
};
