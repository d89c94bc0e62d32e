#!/usr/bin/env zsh
# The zsh completion of korvane-cli in a real interactive zsh (on a pseudo-terminal): a line is
# typed with Tab, and what completion made of it is read back from the line editor.
#   completion-test.zsh COMPLETION_FILE KORVANE_CLI
emulate -L zsh
setopt err_return no_unset
zmodload zsh/zpty

completion=${1:A}
tool=${2:A}
work=$(mktemp -d)
trap 'zpty -d shell 2>/dev/null; rm -rf $work' EXIT
mkdir $work/functions
cp $completion $work/functions/_korvane-cli
integer failures=0

zpty shell zsh -f -i
# The line editor writes the buffer to a file on ^X, so no screen is parsed.
zpty -w shell "PS1='' PROMPT2='' path=(${tool:h} \$path) fpath=($work/functions \$fpath)"
zpty -w shell "cd $work && autoload -Uz compinit && compinit -u -D -d $work/zcompdump"
zpty -w shell "zstyle ':completion:*' list-prompt '' ; unsetopt beep"
zpty -w shell "capture() { print -r -- \"\$BUFFER\" > $work/line.new && mv $work/line.new $work/line; BUFFER=; }"
zpty -w shell "zle -N capture; bindkey '^X' capture"

# expect LINE RESULT: Tab at the end of LINE makes the line RESULT.
expect() {
  rm -f $work/line
  zpty -w -n shell "$1"$'\t\C-x'
  integer tries=0
  while [[ ! -e $work/line ]] && (( tries++ < 100 )); do
    sleep 0.1
  done
  local got="<nothing>"
  [[ -e $work/line ]] && got=$(<$work/line)
  if [[ $got != "$2" ]]; then
    print -r -- "FAIL: '$1'"
    print -r -- "  want: '$2'"
    print -r -- "  got:  '$got'"
    (( failures++ ))
  fi
  return 0
}

touch $work/hub.bin
expect "korvane-cli wr" "korvane-cli write "
expect "korvane-cli help ver" "korvane-cli help verify "
expect "korvane-cli write hub.bin --no-v" "korvane-cli write hub.bin --no-verify "
expect "korvane-cli info hu" "korvane-cli info hub.bin "
expect "korvane-cli string hub.bin --kind pro" "korvane-cli string hub.bin --kind product "
expect "korvane-cli set hub.bin vi" "korvane-cli set hub.bin vid="
# The comma after a kind goes again when a blank is typed.
expect "korvane-cli strings hub.bin +serial,-pro" "korvane-cli strings hub.bin +serial,-product,"
expect "korvane-cli --simulate $work/a.bin verify hub.bin --device " \
  "korvane-cli --simulate $work/a.bin verify hub.bin --device sim:$work/a.bin "

if (( failures )); then
  print "$failures zsh completion checks failed"
  exit 1
fi
print "zsh completion: all checks passed"
