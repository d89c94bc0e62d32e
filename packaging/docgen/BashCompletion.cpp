#include "BashCompletion.h"

#include "CompletionModel.h"

#include <string>

namespace {

std::string KindWord(const TValueKind kind) {
  switch (kind) {
  case TValueKind::None:
    return "none";
  case TValueKind::File:
    return "file";
  case TValueKind::Dir:
    return "dir";
  case TValueKind::Hub:
    return "hub";
  case TValueKind::Kind:
    return "kind";
  case TValueKind::KindList:
    return "kindlist";
  case TValueKind::Field:
    return "field";
  case TValueKind::Command:
    return "command";
  case TValueKind::Words:
    return "words";
  }
  return "none";
}

// "--device=hub" for an option with a value, "--all" for a flag.
std::string OptionWords(const std::vector<TCompletionOption>& options) {
  std::string words;
  for (const TCompletionOption& option : options) {
    words += (words.empty() ? "'" : " '") + option.name;
    if (!option.value.empty()) {
      words += "=" + KindWord(option.kind);
    }
    words += "'";
  }
  return words;
}

// "file field", with literal words as 'words:list find'.
std::string ArgWords(const std::vector<TCompletionArg>& args) {
  std::string words;
  for (const TCompletionArg& arg : args) {
    std::string word = KindWord(arg.kind);
    if (arg.kind == TValueKind::Words) {
      std::string list;
      for (const std::string& literal : arg.words) {
        list += (list.empty() ? "" : " ") + literal;
      }
      word += ":" + list;
    }
    words += (words.empty() ? "'" : " '") + word + "'";
  }
  return words;
}

// Only words of the table go between the quotes: names and kinds, never a quote.
std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

const char* const kFunctions = R"BASH(
# COMP_WORDS split "usb:1-1.4" and "--device=PATH" at ':' and '='; joined again here, so that a
# hub path, a VID:PID and an option's value are one word each.
__korvane_cli_reassemble() {
  words=()
  cword=0
  local i w gap rest trimmed pos=0 j=-1
  for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
    w=${COMP_WORDS[i]}
    rest=${COMP_LINE:pos}
    trimmed=${rest#"${rest%%[![:space:]]*}"}
    gap=$((${#rest} - ${#trimmed}))
    pos=$((pos + gap + ${#w}))
    if ((i > 0 && gap == 0 && j >= 0)) && [[ $w == [:=]* || ${words[j]} == *[:=] ]]; then
      words[j]+=$w
    else
      words[++j]=$w
    fi
    ((i == COMP_CWORD)) && cword=$j
  done
  ((COMP_CWORD >= ${#COMP_WORDS[@]})) && words[++j]="" && cword=$j
  return 0
}

# Sets `kind` to what the value of option $1 completes to (empty for a flag); fails for a word
# that is no option of the command.
__korvane_cli_option_kind() {
  local o
  kind=""
  for o in "${opts[@]}" "${globals[@]}"; do
    if [[ $o == "$1" ]]; then
      return 0
    elif [[ $o == "$1="* ]]; then
      kind=${o#*=}
      return 0
    fi
  done
  return 1
}

# Whether $1 is a global option with a value: those (--simulate FILE, --vidpid VID:PID) decide
# which hubs exist, so `list` is given them; flags such as --json would change its output.
__korvane_cli_is_global() {
  local o
  for o in "${globals[@]}"; do
    [[ $o == "$1="* ]] && return 0
  done
  return 1
}

# Bound hubs as `korvane-cli list` names them, with the global options from the line.
__korvane_cli_hubs() {
  local tool=$1
  shift
  "$tool" "$@" list 2>/dev/null |
    sed -nE 's/^(.*[^ ]) +(-|[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4})  (hub   |device)  bound .*/\1/p'
}

# Fills COMPREPLY with the values of kind $1 that start with $2.
__korvane_cli_values() {
  local kind=$1 cur=$2 head sign
  COMPREPLY=()
  case $kind in
  file)
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    ;;
  dir)
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    ;;
  hub)
    local -a hubs
    mapfile -t hubs < <(__korvane_cli_hubs "$tool" "${hubargs[@]}")
    local h
    for h in "${hubs[@]}"; do
      [[ $h == "$cur"* ]] && COMPREPLY+=("$h")
    done
    ;;
  kind)
    mapfile -t COMPREPLY < <(compgen -W "$(__korvane_cli_kinds)" -- "$cur")
    ;;
  kindlist)
    # none, a comma list, or +kind/-kind items: complete the item after the last comma.
    head=""
    [[ $cur == *,* ]] && head=${cur%,*},
    sign=${cur#"$head"}
    sign=${sign%%[!+-]*}
    mapfile -t COMPREPLY < <(compgen -P "$head$sign" -W "$(__korvane_cli_kinds)" -- "${cur#"$head$sign"}")
    [[ -z $head$sign ]] && mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -W none -- "$cur")
    compopt -o nospace 2>/dev/null
    ;;
  field)
    local fields
    fields=$("$tool" fields 2>/dev/null | sed -n '2,$s/ .*//p')
    mapfile -t COMPREPLY < <(compgen -S = -W "$fields" -- "$cur")
    compopt -o nospace 2>/dev/null
    ;;
  command)
    mapfile -t COMPREPLY < <(compgen -W "$(__korvane_cli_top)" -- "$cur")
    ;;
  words:*)
    mapfile -t COMPREPLY < <(compgen -W "${kind#words:}" -- "$cur")
    ;;
  esac
  return 0
}

_korvane_cli() {
  local words cword
  __korvane_cli_reassemble
  local cur=${words[cword]} tool=${words[0]/#\~/$HOME}
  local command="" subs="" kind="" pending="" i w dashdash=0 npos=0 repeat=0
  local -a opts=() args=() globals=() hubargs=()
  __korvane_cli_spec "" # the global options
  for ((i = 1; i < cword; i++)); do
    w=${words[i]}
    if [[ -n $pending ]]; then
      pending=""
      continue
    fi
    if ((dashdash)); then
      ((npos++))
      continue
    fi
    case $w in
    --)
      dashdash=1
      continue
      ;;
    -*=*)
      __korvane_cli_is_global "${w%%=*}" && hubargs+=("$w")
      continue
      ;;
    -?*)
      if __korvane_cli_option_kind "$w"; then
        pending=$kind
        [[ -n $kind ]] && __korvane_cli_is_global "$w" && hubargs+=("$w" "${words[i + 1]}")
        continue
      fi
      # A word such as "-serial" that names no option is a positional.
      [[ $w == --* ]] && continue
      ;;
    esac
    if [[ -z $command ]]; then
      command=$w
    elif [[ -n $subs ]]; then
      command+=" $w"
    else
      ((npos++))
      continue
    fi
    __korvane_cli_spec "$command"
  done

  local value=$cur prefix=""
  COMPREPLY=()
  if [[ -n $pending ]]; then
    __korvane_cli_values "$pending" "$cur"
  elif ((!dashdash)) && [[ $cur == -*=* ]]; then
    prefix=${cur%%=*}=
    value=${cur#*=}
    __korvane_cli_option_kind "${cur%%=*}" && __korvane_cli_values "$kind" "$value"
  elif [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "${globals[*]%%=*}" -- "$cur")
    else
      mapfile -t COMPREPLY < <(compgen -W "$(__korvane_cli_top)" -- "$cur")
    fi
  elif [[ -n $subs ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$subs" -- "$cur")
  else
    local slot=""
    if ((npos < ${#args[@]})); then
      slot=${args[npos]}
    elif ((repeat && ${#args[@]})); then
      slot=${args[${#args[@]} - 1]}
    fi
    if ((!dashdash)) && [[ $cur == -* ]]; then
      # Options; an item such as "-serial" of a kind list is a positional too.
      mapfile -t COMPREPLY < <(compgen -W "${opts[*]%%=*} ${globals[*]%%=*}" -- "$cur")
      if [[ $slot == kindlist ]]; then
        local -a options=("${COMPREPLY[@]}")
        __korvane_cli_values "$slot" "$cur"
        COMPREPLY+=("${options[@]}")
      fi
    elif [[ -n $slot ]]; then
      __korvane_cli_values "$slot" "$value"
    fi
  fi

  # Readline replaces only the part after the last ':' or '=' (when they break words).
  local whole=$prefix$value i
  local breaks=${COMP_WORDBREAKS//[^:=]/}
  if [[ -n $breaks && $whole == *["$breaks"]* ]]; then
    local lead=${whole%"${whole##*["$breaks"]}"}
    for i in "${!COMPREPLY[@]}"; do
      COMPREPLY[i]=$prefix${COMPREPLY[i]}
      COMPREPLY[i]=${COMPREPLY[i]#"$lead"}
    done
  elif [[ -n $prefix ]]; then
    for i in "${!COMPREPLY[@]}"; do
      COMPREPLY[i]=$prefix${COMPREPLY[i]}
    done
  fi
  return 0
}

complete -F _korvane_cli korvane-cli
)BASH";

} // namespace

void TBashCompletion::Write(std::ostream& out, const TCompletionModel& model) {
  out << "# bash completion for korvane-cli                          -*- shell-script -*-\n"
         "# Made from the tool's command table when korvane-cli is built.\n\n";

  std::string top;
  for (const TCompletionTopWord& word : model.TopWords()) {
    top += (top.empty() ? "" : " ") + word.name;
  }
  out << "__korvane_cli_top() { echo " << Quoted(top) << "; }\n";

  std::string kinds;
  for (const std::string& kind : model.StringKinds()) {
    kinds += (kinds.empty() ? "" : " ") + kind;
  }
  out << "__korvane_cli_kinds() { echo " << Quoted(kinds) << "; }\n\n";

  // One case per command: its options (name=kind of value), its positionals and whether the last
  // one repeats; a group name sets `subs` to its subcommands' names.
  out << "# Sets opts, args and repeat for a command, subs for a group of subcommands; \"\" sets\n"
         "# globals.\n"
         "__korvane_cli_spec() {\n"
         "  opts=() args=() repeat=0 subs=\"\"\n"
         "  case $1 in\n"
         "  \"\") globals=("
      << OptionWords(model.GlobalOptions()) << ") ;;\n";
  for (const TCompletionTopWord& word : model.TopWords()) {
    if (word.subcommands.empty()) {
      continue;
    }
    std::string names;
    for (const TCompletionCommand* sub : word.subcommands) {
      names += (names.empty() ? "" : " ") + sub->name.substr(word.name.size() + 1);
    }
    out << "  " << Quoted(word.name) << ") subs=" << Quoted(names) << " ;;\n";
  }
  for (const TCompletionCommand& command : model.Commands()) {
    out << "  " << Quoted(command.name) << ") opts=(" << OptionWords(command.options) << ") args=("
        << ArgWords(command.args) << ") repeat=" << (command.lastRepeats ? 1 : 0) << " ;;\n";
  }
  out << "  esac\n"
         "}\n";
  out << kFunctions;
}
