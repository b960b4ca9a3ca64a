#!/usr/bin/env bash
# Sets up, builds (warnings are errors), checks the formatting and runs every test: in the
# plain build (with the README's commands from a fresh clone of HEAD), then again in a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/, clang), whose fuzzing programs then run for about a minute in all.
# VELARIO_SANITIZE_TESTS=0 skips the second build.
set -euo pipefail
cd "$(dirname "$0")/.."
VELARIO_WERROR=ON VELARIO_CLONE_TEST=ON bash scripts/setup.sh
# The code is kept in the project's format: a file that clang-format would change fails.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
ctest --test-dir build --output-on-failure -j"$(nproc)"

if [ "${VELARIO_SANITIZE_TESTS:-1}" != 0 ]; then
    CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELARIO_SANITIZE=ON -DVELARIO_FUZZ=ON >/dev/null
    cmake --build build-asan -j"$(nproc)"
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    bash scripts/fuzz.sh build-asan 12
fi
