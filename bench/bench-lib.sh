# Shared by the scripts in bench/ that drive a running Velmora. Sourced inside
# tests/support/run-in-session.sh with $root (the project) and $build (a build folder) set: starts
# a tray host, the reference service and Velmora, its log lines stamped as they arrive in
# $work/velmora.log, and signs it in.
work="$HOME/run"
mkdir -p "$work"
source "$root/tests/integration/e2e/e2e-lib.sh"
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null' EXIT
velmora=$build/velmora

# Waits for the notice titled $1 (a regular expression) and answers it with Return.
dismiss() {
  local title=$1 wid=
  wait_for 60 eval 'wid=$(xdotool search --onlyvisible --name "^$title\$" | head -n1); [[ $wid ]]' \
    || fail "no notice '$title'"
  xdotool windowfocus --sync "$wid"
  xdotool key --clearmodifiers Return
}

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
start_service "$build/service/velmora-service" "$build/tests/integration/e2e/e2e_chat_upstream" \
  "$root/service/make-dev-cert.sh" "$("$velmora" --version | awk '{print $NF}')"
# Velmora flushes every line.
: >"$work/velmora.log"
"$velmora" > >(while IFS= read -r l; do echo "$EPOCHREALTIME $l"; done >"$work/velmora.log") 2>&1 &
pids+=($!)
wait_for 20 log_has "App launched." || fail "Velmora did not launch"
# A copied binary has no version the service knows: its check fails instead.
dismiss "(No Updates Available|Update Failed)"
"$velmora" "$callback" >/dev/null 2>&1
dismiss "Sign in to Velmora with the account from your browser\\?"
dismiss "Signed In"
