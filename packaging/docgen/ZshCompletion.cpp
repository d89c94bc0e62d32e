#include "ZshCompletion.h"

#include "CompletionModel.h"

#include <string>

namespace {

// Text inside a single-quoted _arguments description: its brackets and colons escaped.
std::string QuotedText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      if (c == '[' || c == ']' || c == ':' || c == '\\') {
        out += '\\';
      }
      out += c;
    }
  }
  return out;
}

std::string Action(const TValueKind kind, const std::vector<std::string>& words = {}) {
  switch (kind) {
  case TValueKind::File:
    return "_files";
  case TValueKind::Dir:
    return "_files -/";
  case TValueKind::Hub:
    return "_korvane-cli_hubs";
  case TValueKind::Kind:
    return "_korvane-cli_kinds";
  case TValueKind::KindList:
    return "_korvane-cli_kind_list";
  case TValueKind::Field:
    return "_korvane-cli_fields";
  case TValueKind::Command:
    return "_korvane-cli_commands";
  case TValueKind::Words: {
    std::string list;
    for (const std::string& word : words) {
      list += (list.empty() ? "" : " ") + word;
    }
    return "(" + list + ")";
  }
  case TValueKind::None:
    break;
  }
  return " ";
}

std::string OptionSpec(const TCompletionOption& option) {
  const std::string help = "[" + QuotedText(option.help) + "]";
  if (option.value.empty()) {
    return "'" + option.name + help + "'";
  }
  // Values are taken as the next word or after '=' (--device=PATH); any option with a value may
  // be given again.
  const std::string name = option.name.size() > 2 ? option.name + "=" : option.name;
  return "'*" + name + help + ":" + QuotedText(option.value) + ":" + Action(option.kind) + "'";
}

void WriteArguments(std::ostream& out, const TCompletionCommand& command, const char* indent) {
  out << indent << "_arguments -s -S : $globals";
  for (const TCompletionOption& option : command.options) {
    out << " \\\n" << indent << "  " << OptionSpec(option);
  }
  for (size_t i = 0; i < command.args.size(); ++i) {
    const TCompletionArg& arg = command.args[i];
    const bool repeats = command.lastRepeats && i + 1 == command.args.size();
    out << " \\\n"
        << indent << "  '" << (repeats ? std::string("*") : std::to_string(i + 1)) << ":"
        << QuotedText(arg.name) << ":" << Action(arg.kind, arg.words) << "'";
  }
  out << " && ret=0\n";
}

std::string Described(const std::string& name, const std::string& summary) {
  std::string text = name + ":" + summary;
  std::string out = "'";
  for (const char c : text) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

const char* const kHelpers = R"ZSH(
# The hubs `korvane-cli list` names as bound, given the global options with a value from the
# line (they decide which hubs exist; a flag such as --json would change the output).
_korvane-cli_hubs() {
  local -a hubs args
  local i word
  for ((i = 2; i < $#_korvane_cli_words; i++)); do
    word=$_korvane_cli_words[i]
    if (( ${_korvane_cli_global_values[(Ie)$word]} )); then
      args+=($word $_korvane_cli_words[i+1])
    elif (( ${_korvane_cli_global_values[(Ie)${word%%=*}]} )) && [[ $word == *=* ]]; then
      args+=($word)
    fi
  done
  hubs=(${(f)"$(_call_program hubs $_korvane_cli_words[1] $args list 2>/dev/null |
    sed -nE 's/^(.*[^ ]) +(-|[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4})  (hub   |device)  bound .*/\1/p')"})
  _wanted hubs expl hub compadd -a hubs
}

# The field identifiers of `korvane-cli fields`, each followed by '='.
_korvane-cli_fields() {
  local -a fields
  fields=(${${(f)"$(_call_program fields $_korvane_cli_words[1] fields 2>/dev/null)"}[2,-1]%% *})
  _wanted fields expl 'field identifier' compadd -S = -a fields
}

_korvane-cli_kinds() {
  _wanted kinds expl 'string kind' compadd -a _korvane_cli_kinds
}

# none, a comma list of kinds, or +kind/-kind items.
_korvane-cli_kind_list() {
  if [[ $PREFIX != *,* && $PREFIX != [+-]* ]]; then
    compadd none
  fi
  compset -P '*,'
  compset -P '[+-]'
  _wanted kinds expl 'string kind' compadd -q -S , -a _korvane_cli_kinds
}
)ZSH";

} // namespace

void TZshCompletion::Write(std::ostream& out, const TCompletionModel& model) {
  out << "#compdef korvane-cli\n"
         "# zsh completion for korvane-cli, made from the tool's command table when korvane-cli "
         "is\n"
         "# built.\n\n";

  out << "_korvane_cli_kinds=(";
  std::string separator;
  for (const std::string& kind : model.StringKinds()) {
    out << separator << kind;
    separator = " ";
  }
  out << ")\n";
  out << "_korvane_cli_global_values=(";
  separator.clear();
  for (const TCompletionOption& option : model.GlobalOptions()) {
    if (!option.value.empty()) {
      out << separator << option.name;
      separator = " ";
    }
  }
  out << ")\n";
  out << kHelpers;

  out << "\n_korvane-cli_commands() {\n"
         "  local -a commands=(\n";
  for (const TCompletionTopWord& word : model.TopWords()) {
    out << "    " << Described(word.name, word.summary) << "\n";
  }
  out << "  )\n"
         "  _describe -t commands 'korvane-cli command' commands\n"
         "}\n\n";

  out << "_korvane-cli() {\n"
         "  local -a _korvane_cli_words=(\"${words[@]}\")\n"
         "  local curcontext=$curcontext state state_descr line ret=1\n"
         "  typeset -A opt_args\n"
         "  local -a globals=(\n";
  for (const TCompletionOption& option : model.GlobalOptions()) {
    if (option.name == "-h" || option.name == "--help") {
      continue;
    }
    out << "    " << OptionSpec(option) << "\n";
  }
  out << "    '(- *)'{-h,--help}'[this text]'\n"
         "  )\n"
         "  _arguments -s -S -C : $globals '1: :_korvane-cli_commands' '*:: :->command' && ret=0\n"
         "  [[ $state == command ]] || return ret\n"
         "  curcontext=${curcontext%:*:*}:korvane-cli-$words[1]:\n"
         "  case $words[1] in\n";
  for (const TCompletionTopWord& word : model.TopWords()) {
    out << "  (" << word.name << ")\n";
    if (word.subcommands.empty()) {
      for (const TCompletionCommand& command : model.Commands()) {
        if (command.name == word.name) {
          WriteArguments(out, command, "    ");
        }
      }
    } else {
      out << "    if (( CURRENT == 2 )); then\n"
             "      local -a subcommands=(\n";
      for (const TCompletionCommand* sub : word.subcommands) {
        out << "        " << Described(sub->name.substr(word.name.size() + 1), sub->summary)
            << "\n";
      }
      out << "      )\n"
             "      _describe -t commands '"
          << word.name
          << " command' subcommands && ret=0\n"
             "      return ret\n"
             "    fi\n"
             "    shift words\n"
             "    (( CURRENT-- ))\n"
             "    case $words[1] in\n";
      for (const TCompletionCommand* sub : word.subcommands) {
        out << "    (" << sub->name.substr(word.name.size() + 1) << ")\n";
        WriteArguments(out, *sub, "      ");
        out << "      ;;\n";
      }
      out << "    esac\n";
    }
    out << "    ;;\n";
  }
  out << "  esac\n"
         "  return ret\n"
         "}\n\n"
         "_korvane-cli \"$@\"\n";
}
