#!/usr/bin/env bash
# From a fresh clone of SOURCE's HEAD, in WORK: the README's first command, scripts/demo.sh
# (which builds the program and the catalogue tool alone, headless here), then every
# `cmake --install` the README gives, each checked for the files it lists and for programs
# that start.
set -euo pipefail
source=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
git clone -q "$source" "$work/clone"
git -C "$work/clone" checkout -q --detach "$(git -C "$source" rev-parse HEAD)"
cd "$work/clone"
# With the test build's warnings setting, so that its compilations are the ones ccache holds.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VELARIO_WERROR=ON bash scripts/demo.sh >"$work/demo.log" 2>&1 ||
    { tail -n 30 "$work/demo.log"; echo "demo.sh failed"; exit 1; }
grep -q '"event":"state"' "$work/demo.log" || { tail -n 30 "$work/demo.log"; echo "no demo"; exit 1; }

for prefix in "$work/usr/local" "$work/home/.local"; do
    cmake --install build --prefix "$prefix" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; echo "install into $prefix failed"; exit 1; }
    for file in bin/velario bin/velario-newcat share/applications/velario.desktop \
        share/icons/hicolor/scalable/apps/velario.svg \
        share/metainfo/org.velario.Velario.metainfo.xml share/man/man1/velario.1.gz \
        share/man/man1/velario-newcat.1.gz share/doc/velario/copyright \
        share/doc/velario/changelog.Debian.gz; do
        [ -f "$prefix/$file" ] || { echo "$prefix: no $file"; exit 1; }
    done
    [ "$("$prefix/bin/velario" --version)" = "velario 0.1" ]
    [ "$("$prefix/bin/velario-newcat" --version)" = "velario-newcat 0.1" ]
done
