#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (clang and its runtime for the
# sanitizer and fuzzing build that scripts/test.sh makes), then builds into build/: the
# targets named as arguments, or everything. Run as root or as a user who may use sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi

packages=(
    build-essential cmake pkg-config git
    qt6-base-dev qt6-translations-l10n libqt6svg6 libqt6sql6-sqlite libqt6sql6-odbc libgl-dev
    mdbtools mdbtools-dev libglib2.0-dev
    unixodbc unixodbc-dev libsqliteodbc odbc-postgresql odbc-mariadb libmariadb-dev
    postgresql libpq-dev mariadb-server mariadb-client sqlite3 libsqlite3-dev
    poppler-utils fonts-liberation fonts-dejavu-core fonts-wqy-microhei fonts-symbola fontconfig
    locales libdeflate-dev
    libharfbuzz-dev clang libclang-rt-14-dev clang-format
    dpkg-dev file lintian desktop-file-utils appstream ccache
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    "${SUDO[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# The program refuses to start where the short date is not 10 characters long: the Italian
# locale gives dd/mm/yyyy.
if ! locale -a 2>/dev/null | grep -qi '^it_IT\.utf-\?8$'; then
    echo "setup: generating the it_IT.UTF-8 locale"
    if grep -q '^# *it_IT.UTF-8 UTF-8' /etc/locale.gen; then
        "${SUDO[@]}" sed -i 's/^# *it_IT.UTF-8 UTF-8/it_IT.UTF-8 UTF-8/' /etc/locale.gen
    elif ! grep -q '^it_IT.UTF-8 UTF-8' /etc/locale.gen; then
        echo 'it_IT.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
    fi
    "${SUDO[@]}" locale-gen >/dev/null
fi

build_type=${VELARIO_BUILD_TYPE:-RelWithDebInfo}
# VELARIO_WERROR=ON (the test command sets it) turns every compiler warning into an error;
# VELARIO_CLONE_TEST=ON (the test command sets it too) adds the test of the README's commands
# from a fresh clone.
# Compiled through ccache, with paths taken relative to the checkout, so that another checkout
# of the same code (the fresh clone the tests make) compiles from the cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type" -DVELARIO_WERROR="${VELARIO_WERROR:-OFF}" \
    -DVELARIO_CLONE_TEST="${VELARIO_CLONE_TEST:-OFF}" \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
if [ $# -gt 0 ]; then
    cmake --build build -j"$(nproc)" --target "$@"
else
    cmake --build build -j"$(nproc)"
fi
