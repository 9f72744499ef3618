#!/usr/bin/env bash
# Rewrites on GNOME 43 (Debian 12) as a user makes them, for a person to run: too slow and too
# large for CI. A headless gnome-shell with XWayland, gsd-media-keys running the custom shortcut
# Ctrl+Shift+P -> `velmora --trigger` (as the README says to set it up), the real program signed
# in to the reference service, and a Wayland-native Qt line edit that records the keys it
# receives. GNOME's RemoteDesktop consent dialog is answered through AT-SPI as a user would (tick
# "Allow remote interaction", then Share), and Velmora's notices are read out and closed. A second
# keyboard (mutter's own remote desktop) stands for the user's: Ctrl+Shift+P with P held 0.3 s and
# the modifiers let go after it, then held 2 s. Prints, per press, the keys the line edit received,
# the line, the requests, the clipboard afterwards and when Velmora took the press; then stops the
# session with GNOME's indicator and says what Velmora makes of it.
# Installs its packages (root), builds what it needs in BUILD_DIR (default: build).
# Usage: bench/gnome-portal.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
if [[ ${1:-} != --in-session ]]; then
  build=$(realpath "${1:-$root/build}")
  packages=(gnome-shell xdg-desktop-portal-gnome gnome-settings-daemon python3-pyatspi
    at-spi2-core xwayland xclip)
  if dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>&1 | grep -qv "ok installed"; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${packages[@]}" >/dev/null
  fi
  [[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j2 --target velmora velmora-https velmora-service e2e_target_window \
    e2e_chat_upstream >/dev/null
  exec "$root/bench/run-in-gnome.sh" bash "$0" --in-session "$build"
fi

build=$2 velmora=$2/velmora
work="$HOME/run"
mkdir -p "$work"
source "$root/tests/integration/e2e/e2e-lib.sh"
trap 'status=$?; kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null
      ((status)) && cut -d" " -f2- "$work/velmora.log" | tail -n 30 >&2; exit $status' EXIT
user="$root/bench/gnome-user.py"
export QT_QPA_PLATFORM=wayland QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# gnome-shell shows its own widgets to AT-SPI too.
gsettings set org.gnome.desktop.interface toolkit-accessibility true
media=org.gnome.settings-daemon.plugins.media-keys
custom=/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/velmora/
gsettings set $media custom-keybindings "['$custom']"
gsettings set $media.custom-keybinding:$custom name Velmora
gsettings set $media.custom-keybinding:$custom command "$velmora --trigger"
gsettings set $media.custom-keybinding:$custom binding '<Control><Shift>p'

start_service "$build/service/velmora-service" "$build/tests/integration/e2e/e2e_chat_upstream" \
  "$root/service/make-dev-cert.sh" "$("$velmora" --version | awk '{print $NF}')"
printf %s "$token" | secret-tool store --label=Velmora service com.mendwell.authtoken \
  account sessionToken
# The session starts in the overview; Escape leaves it.
"$user" keys 1+ 1- >/dev/null
# Velmora's log lines, stamped as they arrive.
"$velmora" > >(while IFS= read -r l; do echo "$EPOCHREALTIME $l"; done >"$work/velmora.log") 2>&1 &
pids+=($!)
# A user who takes a while over the dialog: Velmora's notice comes along after 3 s.
"$user" notices "Permissions Required"
"$user" consent
wait_for 20 log_has "App launched." || fail "Velmora did not start"
"$user" indicator
# The update check's notice comes 2 s after the start.
"$user" notices "No Updates Available"
# Started last, the line edit has the focus (Velmora shows its window at start where there is no
# tray).
"$build/tests/integration/e2e/e2e_target_window" "$work/target.txt" "the quick brown fox" \
  "$work/keys.log" >/dev/null 2>&1 &
pids+=($!)
wait_for 20 eval '[[ -e $work/keys.log ]]' || fail "the line edit did not start"
sleep 1

# Presses the shortcut with the `keys` steps given, then says what the user saw.
press() {
  local before line
  before=$(requests)
  printf 'earlier clipboard text' | xclip -selection clipboard
  : >"$work/keys.log"
  "$user" keys 29+ 30+ 30- 29- >/dev/null
  sleep 0.5
  : >"$work/keys.log"
  line=$(wc -l <"$work/velmora.log")
  local pressed
  pressed=$("$user" keys "$@")
  wait_for 15 eval '(($(tail -n +$((line + 1)) "$work/velmora.log" |
    grep -c -E "Processing complete|No Text Selected|Failed to copy") > 0))' || true
  sleep 1.5
  local copied
  copied=$(tail -n +$((line + 1)) "$work/velmora.log" | grep -m1 "hotkeyTriggered" | cut -d' ' -f1)
  echo "press ${*}:"
  echo "  line edit received: $(grep -v -E '(Control|Shift)$' "$work/keys.log" | paste -sd,)"
  echo "  line: '$(cat "$work/target.txt")'; requests: $(($(requests) - before));" \
    "clipboard: '$(xclip -o -selection clipboard)'"
  echo "  presses: $(tail -n +$((line + 1)) "$work/velmora.log" | grep -c "hotkeyTriggered called");" \
    "the first $(awk "BEGIN { printf \"%.0f\", ($copied - $pressed) * 1000 }") ms after the key went down"
  "$user" notices
}

press 29+ 42+ 25+ 0.3 25- 0.1 42- 0.1 29-
press 29+ 42+ 25+ 2 25- 0.1 42- 0.1 29-
"$user" stop
sleep 1
log_has "the desktop ended the session" && echo "indicator chosen: Velmora's session ended"
"$user" indicator
press 29+ 42+ 25+ 0.3 25- 0.1 42- 0.1 29-
grep -E "Remote desktop portal|Global shortcut portal" "$work/velmora.log" | cut -d' ' -f2- | sort -u
