#!/usr/bin/env bash
# Sets up, builds, creates the demo folder and starts the program on its catalogue.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the program and the tool that creates the demo catalogue: the tests are not needed.
bash scripts/setup.sh velario velario-newcat
bash scripts/make-demo.sh

export LC_ALL=it_IT.UTF-8
export ODBCSYSINI="$PWD/demo" ODBCINI="$PWD/demo/odbc.ini"
mkdir -p demo/stampe
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    # No screen to show a window on: show what the program shows, as its transcript.
    echo "demo: no display; running headless and printing the catalogue window's state"
    printf 'dump\n' > demo/headless.txt
    QT_QPA_PLATFORM=offscreen build/velario --program-dir demo --print-to demo/stampe \
        --script demo/headless.txt --transcript /dev/stdout
else
    exec build/velario --program-dir demo --print-to demo/stampe
fi
