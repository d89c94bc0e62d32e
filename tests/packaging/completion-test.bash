#!/usr/bin/env bash
# The bash completion of korvane-cli, driven as bash drives it: COMP_WORDS split at blanks and at
# ':' and '=', the function called, COMPREPLY checked.
#   completion-test.bash COMPLETION_SCRIPT KORVANE_CLI
set -uo pipefail
script=$(realpath "$1")
tool=$(realpath "$2")
failures=0
# The script runs the tool it completes for, as the line names it.
PATH=$(dirname "$tool"):$PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=/dev/null
source "$script" || {
  echo "cannot source $script"
  exit 1
}

# Completes the line at its end; the words bash would hand the function.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMP_WORDS=()
  local word="" type="" c t i
  for ((i = 0; i < ${#1}; i++)); do
    c=${1:i:1}
    if [[ $c == " " ]]; then
      [[ -n $word ]] && COMP_WORDS+=("$word")
      word="" type=""
      continue
    fi
    t=plain
    [[ $c == [:=] ]] && t=break
    if [[ -n $word && $t != "$type" ]]; then
      COMP_WORDS+=("$word")
      word=""
    fi
    word+=$c
    type=$t
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _korvane_cli korvane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
}

replies() { printf '%s\n' "${COMPREPLY[@]}" | sort; }

# expect LINE WORD...: the replies are exactly the words.
expect() {
  local line=$1
  shift
  complete_line "$line"
  local want got
  want=$(printf '%s\n' "$@" | sort)
  got=$(replies)
  if [[ $want != "$got" ]]; then
    echo "FAIL: '$line'"
    echo "  want: $(echo $want)"
    echo "  got:  $(echo $got)"
    ((failures++))
  fi
}

# expect_has LINE WORD...: the replies include the words; a word after "!" must be absent.
expect_has() {
  local line=$1 word absent=0
  shift
  complete_line "$line"
  local got
  got=$(replies)
  for word in "$@"; do
    if [[ $word == "!" ]]; then
      absent=1
      continue
    fi
    local present=0
    grep -qxF -- "$word" <<<"$got" && present=1
    if ((absent == present)); then
      echo "FAIL: '$line': $word $( ((present)) && echo present || echo missing)"
      echo "  got: $(echo $got)"
      ((failures++))
    fi
  done
}

cd "$work" || exit 1
touch hub.bin hub.json other.iic
mkdir backups

# Commands: the very list the tool's help shows.
mapfile -t commands < <("$tool" --help | sed -n '/^Commands:/,/^$/s/^  \([^ ]*\) .*/\1/p')
((${#commands[@]} > 10)) || {
  echo "FAIL: no commands in korvane-cli --help"
  ((failures++))
}
expect "korvane-cli " "${commands[@]}"
expect "korvane-cli wr" write
expect "korvane-cli help wr" write
expect_has "korvane-cli --" --simulate --vidpid --json --help
# A VID:PID before the command is one word: the command is still found.
expect "korvane-cli --vidpid 1a2b:3c4d wr" write
expect "korvane-cli --vidpid=1a2b:3c4d wr" write

# Options of one command, with the global ones; values by what the option takes.
expect_has "korvane-cli write hub.bin --" --device --all --backup-dir --no-verify --json ! --yes --raw
expect_has "korvane-cli erase --" --yes --device ! --no-verify
expect "korvane-cli string hub.bin --kind p" product
expect "korvane-cli string hub.bin --kind=p" product
expect "korvane-cli string hub.bin --lang 0x0409 --kind product --json -o o" other.iic
expect "korvane-cli write hub.bin --backup-dir " backups
expect "korvane-cli --simulate h" hub.bin hub.json

# Positionals from the synopsis: files, field identifiers, kind lists.
expect "korvane-cli info h" hub.bin hub.json
expect "korvane-cli diff hub.bin o" other.iic
mapfile -t fields < <("$tool" fields | sed -n '2,$s/ .*/=/p')
((${#fields[@]} > 10)) || {
  echo "FAIL: no fields in korvane-cli fields"
  ((failures++))
}
expect "korvane-cli set hub.bin " "${fields[@]}"
expect_has "korvane-cli set hub.bin vid=1a2b -o out.bin p" pid= ! vid=
expect "korvane-cli strings hub.bin manufacturer,pr" manufacturer,product
expect "korvane-cli strings hub.bin +serial,-pro" +serial,-product
expect "korvane-cli strings hub.bin +se" +serial
expect_has "korvane-cli strings hub.bin " none manufacturer interface1
# "-product" is an item of the list, not an option; "-o" still is one.
expect_has "korvane-cli strings hub.bin -" -product -o --lang
expect "korvane-cli strings hub.bin -- -pro" -product

# Hub paths from `korvane-cli list`, with the simulated hubs the line names; readline replaces
# only what follows the last ':' or '='.
sim="--simulate $work/a.bin --simulate $work/b.bin"
expect "korvane-cli $sim verify hub.bin --device " "sim:$work/a.bin" "sim:$work/b.bin"
expect "korvane-cli $sim verify hub.bin --device sim:" "$work/a.bin" "$work/b.bin"
expect "korvane-cli $sim verify hub.bin --device sim:$work/b" "$work/b.bin"
expect "korvane-cli $sim verify hub.bin --device=sim:$work/a" "$work/a.bin"
expect "korvane-cli verify hub.bin --simulate=$work/a.bin --device " "sim:$work/a.bin"
expect "korvane-cli erase --simulate $work/a.bin --device x" 

if ((failures)); then
  echo "$failures completion checks failed"
  exit 1
fi
echo "bash completion: all checks passed"
