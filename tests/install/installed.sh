#!/usr/bin/env bash
# Installs the build in BUILD into a temporary prefix, checks what a desktop reads there, then
# starts the installed program with its configuration in each place it may be found.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cmake --install "$build" --prefix "$root/usr" >/dev/null
share=$root/usr/share
ls "$root/usr/bin/velario" "$root/usr/bin/velario-newcat" "$share/icons/hicolor/scalable/apps/velario.svg" \
    "$share/man/man1/velario.1.gz" "$share/man/man1/velario-newcat.1.gz" "$share/doc/velario/copyright" >/dev/null
desktop-file-validate "$share/applications/velario.desktop"
appstreamcli validate --no-net "$share/metainfo/org.velario.Velario.metainfo.xml" >/dev/null

export HOME=$root/home XDG_CONFIG_DIRS=$root/xdg XDG_RUNTIME_DIR=$root/run
unset XDG_CONFIG_HOME
mkdir -p -m 700 "$HOME/.config/velario" "$XDG_CONFIG_DIRS/velario" "$XDG_RUNTIME_DIR"
"$root/usr/bin/velario-newcat" "$root/catalogue.db"
echo quit >"$root/script"
config() { printf 'DIR_PRG=%s/\nDIR_DBF=%s\n' "$1" "$root/$2" >"$1/VELARIO.ini"; }
# What one start shows: the texts of its message boxes and its exit code, matched against a
# pattern. Every configuration but the one that should be read names a missing catalogue,
# whose message would show.
expect() {
    rm -f "$root/transcript"
    "$root/usr/bin/velario" --script "$root/script" --transcript "$root/transcript" || true
    local got
    got=$(grep -o '"text":"[^"]*"\|"code":[0-9]*' "$root/transcript" | tr '\n' ' ' || true)
    [[ $got == $2 ]] || { echo "configuration $1: $got"; exit 1; }
}
# Installed, the program looks in the user's folder first and in its own last, for the file
# in any letters' case, and says where it looked.
cr='\\r' # a line break in a JSON text, as a pattern matches it
expect none "\"text\":\"File di configurazione  VELARIO.INI  assente !!!$cr${cr}Cercato nelle cartelle:$cr$HOME/.config/velario$cr$XDG_CONFIG_DIRS/velario$cr$root/usr/bin\" \"code\":0 "
config "$XDG_CONFIG_DIRS/velario" catalogue.db
expect system '"code":0 '
config "$XDG_CONFIG_DIRS/velario" missing.db
config "$HOME/.config/velario" catalogue.db
mv "$HOME/.config/velario/VELARIO.ini" "$HOME/.config/velario/velario.INI"
expect user '"code":0 '
"$root/usr/bin/velario" --list >/dev/null || { echo "--list: no user configuration"; exit 1; }
config "$root/usr/bin" catalogue.db
config "$HOME/.config/velario" missing.db
rm "$HOME/.config/velario/velario.INI"
expect 'user before beside' '"text":"ERRORE IN APERTURA DATABASE !!!*missing.db" "code":0 '
rm "$HOME/.config/velario/VELARIO.ini" "$XDG_CONFIG_DIRS/velario/VELARIO.ini"
expect beside '"code":0 '
