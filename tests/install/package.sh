#!/usr/bin/env bash
# Makes the Debian package of the build in BUILD and has lintian check it: any error fails.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(echo "$out"/velario_*.deb)
# dpkg-shlibdeps ran: the libraries the program links are dependencies.
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6
lintian --fail-on error "$deb"
