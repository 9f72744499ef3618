#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs every test.
# Tests that need a display, a session bus or a keyring start their own
# (tests/support/run-in-session.sh), so this runs headless.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure --timeout 300 -j2)
# A few seconds of each fuzz target, built apart with clang and sanitizers.
bash tests/fuzz/run.sh
