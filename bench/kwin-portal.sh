#!/usr/bin/env bash
# Rewrites on KWin 5.27 (the desktop portals) and sway (virtual keyboard, `velmora --trigger`) as
# people press the shortcut, over a range of hold times: the end-to-end run of
# tests/integration/wayland/run-rewrite.sh with Ctrl+Shift+P pressed with P held 0.02 s to 3.5 s,
# the modifiers let go 0.1 s after it. Each press must rewrite the line with one request, reach
# the line edit as exactly Ctrl+C and Ctrl+V, give the clipboard back and leave no key down.
# Installs the packages (root) and builds what it needs in BUILD_DIR (default: build).
# Usage: bench/kwin-portal.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
bash "$root/scripts/install-deps.sh" >/dev/null
[[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target velmora velmora-https velmora-service e2e_target_window \
  e2e_chat_upstream >/dev/null

export REWRITE_HOLDS="0.02 0.1 0.3 0.6 1 2 3.5"
run=("$root/tests/integration/wayland/run-rewrite.sh" "$build/velmora"
  "$build/service/velmora-service" "$build/tests/integration/e2e/e2e_target_window"
  "$build/tests/integration/e2e/e2e_chat_upstream" "$root/service/make-dev-cert.sh")
status=0
for desktop in kwin sway; do
  "$root/tests/integration/wayland/run-in-compositor.sh" $desktop "${run[@]}" 2>&1 |
    grep -E "^(kwin|sway|FAIL)" || status=1
done
exit $status
