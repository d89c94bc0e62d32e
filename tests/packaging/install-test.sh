#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what a package would hold: the layout,
# the desktop entry and the AppStream metadata (their validators), the MIME type, the manual
# pages (rendered without a warning, naming every command, option and exit code the programs'
# help names) and the completions.
#   install-test.sh BUILD_DIR WITH_WINDOW(ON|OFF)
set -uo pipefail
build=$1
window=$2
failures=0
destdir=$(mktemp -d)
trap 'rm -rf "$destdir"' EXIT

fail() {
  echo "FAIL: $*"
  ((failures++))
}

if ! DESTDIR=$destdir cmake --install "$build" --prefix /usr >"$destdir.log" 2>&1; then
  cat "$destdir.log"
  rm -f "$destdir.log"
  echo "FAIL: cmake --install"
  exit 1
fi
rm -f "$destdir.log"
root=$destdir/usr
id=org.korvane.Korvane

[[ $(ls -A "$destdir") == usr ]] || fail "files outside the prefix: $(ls -A "$destdir")"

files=(
  bin/korvane-cli
  lib/korvane/modules/korvane-usb.so
  lib/korvane/modules/korvane-sqlite.so
  lib/korvane/modules/korvane-postgresql.so
  lib/korvane/modules/korvane-nettle.so
  lib/udev/rules.d/71-korvane-uaccess.rules
  share/doc/korvane-cli/examples/70-korvane.rules
  share/doc/korvane-cli/copyright
  share/doc/korvane-cli/changelog.gz
  share/man/man1/korvane-cli.1.gz
  share/bash-completion/completions/korvane-cli
  share/zsh/vendor-completions/_korvane-cli
)
if [[ $window == ON ]]; then
  files+=(
    bin/korvane
    share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml
    share/mime/packages/$id.xml
    share/icons/hicolor/scalable/apps/$id.svg
    share/icons/hicolor/128x128/apps/$id.png
    share/man/man1/korvane.1.gz
    share/doc/korvane/copyright
    share/doc/korvane/changelog.gz
  )
fi
for file in "${files[@]}"; do
  [[ -f $root/$file ]] || fail "missing $file"
done
# Nothing installed that the list does not name (a stray build output would land in a package).
while IFS= read -r file; do
  printf '%s\n' "${files[@]}" | grep -qxF -- "$file" || fail "unexpected $file"
done < <(cd "$root" && find . -type f | sed 's|^\./||')

"$root/bin/korvane-cli" --help >/dev/null || fail "installed korvane-cli does not run"
# The installed tool finds its modules beside itself: a dry run loads the digest's and SQLite's,
# and a listing of real hubs the USB stack's.
"$build/tools/korvane-examples" "$destdir/examples" >/dev/null
modules_out=$(env -u KORVANE_MODULE_DIR XDG_DATA_HOME="$destdir/data" "$root/bin/korvane-cli" \
  --simulate "$destdir/hub.eeprom" program "$destdir/examples/example-d4.iic" --all --dry-run 2>&1)
grep -q "dry run: would write" <<<"$modules_out" || fail "installed modules: $modules_out"
modules_out=$(env -u KORVANE_MODULE_DIR "$root/bin/korvane-cli" list 2>&1)
grep -q "cannot be loaded" <<<"$modules_out" && fail "installed USB module: $modules_out"
gzip -t "$root/share/doc/korvane-cli/changelog.gz" || fail "changelog.gz is no gzip file"
grep -q '^License: Expat' "$root/share/doc/korvane-cli/copyright" || fail "copyright names no license"

# Manual pages: no warning from man itself, with a generated locale.
check_page() {
  local page=$1 warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$(basename "$page"): $warnings"
}
text_of() { LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$1" 2>/dev/null; }

page=$root/share/man/man1/korvane-cli.1.gz
check_page "$page"
cli_text=$(text_of "$page")
help=$("$root/bin/korvane-cli" --help)
# A command's entry: from its line to the next command's, in the COMMANDS section.
entry_of() {
  awk -v command="$1" '/^[A-Z]/ { section = $0 }
    section == "COMMANDS" && /^       [^ ]/ { inside = ($1 == command) }
    inside' <<<"$cli_text"
}
while read -r command; do
  entry=$(entry_of "$command")
  [[ -n $entry ]] || fail "korvane-cli(1) lacks the command $command"
  while read -r option; do
    grep -qE -- "^ {14}$option( |$)" <<<"$entry" || fail "korvane-cli(1) lacks $option of $command"
  done < <("$root/bin/korvane-cli" "$command" --help |
    sed -n '/^Options:/,/^$/s/^  \(-[^ ,]*\) .*/\1/p' | grep -vx -- -h)
done < <(sed -n '/^Commands:/,/^$/s/^  \([^ ]*\) .*/\1/p' <<<"$help")
while read -r option; do
  grep -qE -- "^ {7}$option( |$)" <<<"$cli_text" || fail "korvane-cli(1) lacks the global option $option"
done < <(sed -n '/^Global options:/,/^$/s/^  \(-[^ ]*\).*/\1/p' <<<"$help")
while read -r code; do
  grep -qE "^ {7}$code " <<<"$cli_text" || fail "korvane-cli(1) lacks exit code $code"
done < <(sed -n '/^exit codes:/,$s/^  \([0-9]*\) .*/\1/p' <<<"$help")

bash -n "$root/share/bash-completion/completions/korvane-cli" || fail "bash completion: syntax"
zsh -n "$root/share/zsh/vendor-completions/_korvane-cli" || fail "zsh completion: syntax"

if [[ $window == ON ]]; then
  "$root/bin/korvane" --help >/dev/null || fail "installed korvane does not run"
  page=$root/share/man/man1/korvane.1.gz
  check_page "$page"
  window_text=$(text_of "$page")
  while read -r option; do
    grep -qE -- "^ {7}$option( |$)" <<<"$window_text" || fail "korvane(1) lacks $option"
  done < <("$root/bin/korvane" --help | sed -n 's/^  \(-[^ ]*\).*/\1/p')

  desktop=$root/share/applications/$id.desktop
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
  grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"
  grep -qx "Exec=korvane %f" "$desktop" || fail "the desktop entry does not pass the file"
  appstreamcli validate --no-net --pedantic "$root/share/metainfo/$id.metainfo.xml" >"$destdir/as.log" 2>&1 ||
    fail "appstreamcli validate: $(cat "$destdir/as.log")"
  grep -q "<id>$id</id>" "$root/share/metainfo/$id.metainfo.xml" || fail "metainfo has another id"

  # The MIME type the desktop entry names is the one the XML declares for *.iic.
  type=$(sed -n 's/^MimeType=\([^;]*\);$/\1/p' "$desktop")
  XDG_DATA_DIRS=$root/share update-mime-database "$root/share/mime" || fail "update-mime-database"
  grep -q "^[0-9]*:$type:\*\.iic$" "$root/share/mime/globs2" || fail "*.iic is not $type"

  file "$root/share/icons/hicolor/128x128/apps/$id.png" | grep -q 'PNG image data, 128 x 128' ||
    fail "the PNG icon is not 128 x 128"
fi

if ((failures)); then
  echo "$failures install checks failed"
  exit 1
fi
echo "install: all checks passed"
