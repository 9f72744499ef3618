#!/usr/bin/env bash
# Rewrites one line in LibreOffice Writer again and again, as a user would with the shortcut, and
# checks each time that the document holds the answer afterwards. Writer's own X11 toolkit (gen)
# serves the clipboard from a thread and connection of its own: a paste that reaches Writer before
# that thread has taken in Velmora's ownership pastes Writer's own earlier copy (Undo then shows
# "Paste clipboard" and the line is unchanged). It shows on a loaded machine: LOAD=N adds N busy
# processes. SAL_USE_VCLPLUGIN=gen or gtk3 picks Writer's toolkit (gtk3 is the default here).
# Runs in a private X server and session; the reference service answers "Rewritten: " + the text.
# Needs Writer: sudo apt-get install --no-install-recommends libreoffice-writer
# Usage: [LOAD=N] [SAL_USE_VCLPLUGIN=gen] bench/libreoffice-writer.sh [runs, default 5] [build dir]
set -euo pipefail
command -v soffice >/dev/null || { echo "LibreOffice Writer is not installed" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
build=$(realpath "${2:-$root/build}")
if [[ -z ${VELMORA_BENCH_INNER:-} ]]; then
  export VELMORA_BENCH_INNER=1
  # Without the session bus's and the desktop portal's chatter.
  exec "$root/tests/support/run-in-session.sh" "$0" "$runs" "$build" \
    2> >(grep -v -E '^(dbus-daemon|\(/usr/libexec|\[[EW]\]|Ignoring invalid max|The X11|$)' >&2)
fi

source "$root/bench/bench-lib.sh"
clipboard() { xclip -o -selection clipboard 2>/dev/null; }

# A fresh profile without the first-start tip, and a document of one line.
mkdir -p "$work/lo/user"
cat >"$work/lo/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry">
<item oor:path="/org.openoffice.Office.Common/Misc">
<prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
XCU
printf 'the quick brown fox jumps over the lazy dog\n' >"$work/line.txt"
NO_AT_BRIDGE=1 soffice "-env:UserInstallation=file://$work/lo" --norestore --nologo \
  --writer "$work/line.txt" >"$work/writer.log" 2>&1 &
pids+=($!)
wait_for 60 eval 'writer=$(xdotool search --onlyvisible --name "^line.txt - LibreOffice Writer" |
  head -n1); [[ -n $writer ]]' || fail "Writer did not open the document"
writer_pid=$(pgrep -P "${pids[-1]}" -x soffice.bin)
pids+=("$writer_pid")
toolkit=$(grep -o 'libvclplug_[a-z0-9]*lo' "/proc/$writer_pid/maps" | head -n1)
sleep 2
for ((j = 0; j < ${LOAD:-0}; j++)); do
  yes >/dev/null &
  pids+=($!)
done

# The document's text, copied as a user would; the sentinel tells Writer's copy from the one before.
document() {
  printf '?' | xclip -selection clipboard -i
  xdotool windowfocus --sync "$writer"
  xdotool key --clearmodifiers ctrl+a ctrl+c
  wait_for 10 eval '[[ "$(clipboard)" != "?" ]]' || fail "Writer did not copy"
  clipboard
}

landed=0
for ((i = 1; i <= runs; i++)); do
  before=$(document)
  xdotool key --clearmodifiers ctrl+a
  done_lines=$(grep -c "Processing complete" "$work/velmora.log" || true)
  press=$EPOCHREALTIME
  xdotool keydown --delay 0 ctrl+shift+p sleep 0.3 keyup --delay 0 p shift ctrl
  wait_for 30 eval '(($(grep -c "Processing complete" "$work/velmora.log") > done_lines))' ||
    fail "rewrite $i did not complete"
  took=$(awk -v p="$press" '/Processing complete/ {e = $1} END {printf "%.3f s", e - p}' \
    "$work/velmora.log")
  after=$(document)
  if [[ "$after" == "Rewritten: $before" ]]; then
    landed=$((landed + 1))
    echo "rewrite $i landed: $took from the press to \"Processing complete\""
  else
    echo "rewrite $i did NOT land ($took): the document holds '$after'"
  fi
done
toolkit=${toolkit#libvclplug_}
echo "$landed of $runs rewrites landed (Writer's toolkit: ${toolkit%lo}, ${LOAD:-0} busy processes)"
