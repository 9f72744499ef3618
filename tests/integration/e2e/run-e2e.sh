#!/usr/bin/env bash
# The whole product on one machine: a private X server with a tray host, a session bus with an
# unlocked keyring, the reference service over HTTPS with a scripted model backend, a target
# window holding a selected line, and Velmora itself. Drives it with real keystrokes and checks
# what the user would see: the rewritten text, the clipboard given back, the token kept secret.
#
# Runs inside tests/support/run-in-session.sh (a private display, session bus and keyring).
# Usage: run-e2e.sh VELMORA SERVICE TARGET_WINDOW CHAT_UPSTREAM MAKE_DEV_CERT
# With E2E_KEEP=DIR the run's logs are copied to DIR.
set -euo pipefail

velmora=$1 service=$2 target_window=$3 chat_upstream=$4 make_dev_cert=$5
work="$HOME/run"
mkdir -p "$work"
pids=()
finish() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [[ -n "${E2E_KEEP:-}" ]]; then
    mkdir -p "$E2E_KEEP" && cp -r "$work/." "$E2E_KEEP/"
  fi
  if [[ $status -ne 0 ]]; then
    for log in velmora service upstream target trayer; do
      [[ -f "$work/$log.log" ]] || continue
      echo "----- $log.log" >&2
      tail -n 60 "$work/$log.log" >&2
    done
  fi
  exit $status
}
trap finish EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Polls a condition for up to $1 seconds.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

log_has() { grep -qF -- "$1" "$work/velmora.log"; }
clipboard_is() { [[ "$(xclip -o -selection clipboard 2>/dev/null)" == "$1" ]]; }
target_is() { [[ "$(cat "$work/target.txt" 2>/dev/null)" == "$1" ]]; }

# Waits for the notice titled $1 to be on screen and answers it with Return.
dismiss_notice() {
  local title=$1 wid=
  wait_for 20 eval 'wid=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n1); [[ -n "$wid" ]]' ||
    fail "no notice titled '$title'"
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool key --clearmodifiers Return
  wait_for 10 eval '! xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1' ||
    fail "notice '$title' did not close"
}

focus_target() {
  local wid
  wid=$(xdotool search --onlyvisible --name '^velmora-e2e-target$' | head -n1)
  [[ -n "$wid" ]] || fail "target window missing"
  xdotool windowfocus --sync "$wid"
  xdotool key --clearmodifiers ctrl+a
}

set_clipboard() {
  printf '%s' "$1" | xclip -selection clipboard -i
  wait_for 10 clipboard_is "$1" || fail "could not put '$1' on the clipboard"
}

# --- A tray host -----------------------------------------------------------------------------------
trayer --edge top --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
pids+=($!)

# --- The service and its model backend ---------------------------------------------------------
bash "$make_dev_cert" "$work/certs" >/dev/null
"$chat_upstream" 0 "$work/upstream-requests.jsonl" >"$work/upstream.log" 2>&1 &
pids+=($!)
wait_for 20 grep -q '^listening ' "$work/upstream.log" || fail "model backend did not start"
upstream_port=$(awk '/^listening /{print $2; exit}' "$work/upstream.log")

running_version=$("$velmora" --version | awk '{print $NF}')
passphrase=e2e-passphrase
"$service" --port 0 --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
  --data-dir "$work/service-data" --passphrase "$passphrase" --auth-delay 0 \
  --upstream-url "http://127.0.0.1:$upstream_port/v1" \
  --model-map gemini-2.5-flash-preview-05-20=e2e-model \
  --version "$running_version" >"$work/service.log" 2>&1 &
pids+=($!)
wait_for 20 grep -q 'listening on https://' "$work/service.log" || fail "service did not start"
service_port=$(sed -n 's|.*listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$work/service.log" | head -n1)
host="127.0.0.1:$service_port"

# A session token from the sign-in page, as the browser would get it.
callback=$(curl -sS --cacert "$work/certs/ca.pem" -o /dev/null -w '%{redirect_url}' \
  --data-urlencode "passphrase=$passphrase" "https://$host/auth/google?platform=mac")
[[ "$callback" == velmora://auth/callback\?token=* ]] || fail "no callback URL from the sign-in page: $callback"
token=${callback#velmora://auth/callback?token=}

# --- The target application and Velmora ----------------------------------------------------------
"$target_window" "$work/target.txt" "the quick brown fox" >"$work/target.log" 2>&1 &
pids+=($!)
wait_for 20 target_is "the quick brown fox" || fail "target window did not start"

export VELMORA_API_HOST=$host VELMORA_DOWNLOAD_HOST=$host VELMORA_WEBSITE_HOST=$host
export VELMORA_CA_FILE="$work/certs/ca.pem"
"$velmora" >"$work/velmora.log" 2>&1 &
velmora_pid=$!
pids+=($velmora_pid)
wait_for 20 log_has "App launched." || fail "Velmora did not launch"
log_has "Authenticated: false, Token available: false" || fail "a fresh profile started signed in"

# The update check runs 2 s after launch and answers the user.
dismiss_notice "No Updates Available"

# --- Sign in through the velmora: URL, handed to the running instance ---------------------------
"$velmora" "$callback" >"$work/second-instance.log" 2>&1 || fail "second instance did not exit 0"
dismiss_notice "Signed In"
[[ "$(secret-tool lookup service com.mendwell.authtoken account sessionToken)" == "$token" ]] ||
  fail "the token is not in the Secret Service"

# --- One rewrite -------------------------------------------------------------------------------
set_clipboard "earlier clipboard text"
focus_target
xdotool key ctrl+shift+p
wait_for 30 target_is "Rewritten: the quick brown fox" ||
  fail "the selection was not rewritten (target holds '$(cat "$work/target.txt")')"
wait_for 10 clipboard_is "earlier clipboard text" || fail "the earlier clipboard text was not put back"
wait_for 10 log_has "Processing complete. Pasteboard restored." || fail "no completion line"

grep -qF '"content":"Act as a helpful AI assistant to process the following text."' \
  "$work/upstream-requests.jsonl" || fail "the model backend did not get the style's instruction"
grep -qF '"content":"the quick brown fox"' "$work/upstream-requests.jsonl" ||
  fail "the model backend did not get the selected text"
grep -q 'POST /api/chat 200' "$work/service.log" || fail "the service did not answer the rewrite"

# --- A second press cancels the running rewrite -------------------------------------------------
focus_target
xdotool type --delay 20 "SLOW draft"
xdotool key --clearmodifiers ctrl+a
set_clipboard "kept across the cancel"
focus_target
xdotool key ctrl+shift+p
wait_for 20 eval 'grep -qF "SLOW draft" "$work/upstream-requests.jsonl"' || fail "the slow request was not sent"
xdotool key ctrl+shift+p
dismiss_notice "Processing Cancelled"
log_has "Aborting current text processing..." || fail "no abort line"
wait_for 10 clipboard_is "kept across the cancel" || fail "the clipboard was not given back after the cancel"
target_is "SLOW draft" || fail "a cancelled rewrite changed the text"

# --- A rejected token signs the user out ---------------------------------------------------------
"$velmora" "velmora://auth/callback?token=revoked-or-unknown" || fail "second instance failed"
dismiss_notice "Signed In"
focus_target
xdotool key ctrl+shift+p
dismiss_notice "Authentication Error"
log_has "API returned authentication error. Signing out user." || fail "no sign-out after 401"
[[ -z "$(secret-tool lookup service com.mendwell.authtoken account sessionToken 2>/dev/null || true)" ]] ||
  fail "the rejected token is still stored"

# --- The token never reaches an output line ------------------------------------------------------
kill -TERM "$velmora_pid"
wait_for 10 eval '! kill -0 '"$velmora_pid"' 2>/dev/null' || fail "Velmora did not quit on SIGTERM"
for log in velmora second-instance service; do
  if grep -qF -- "$token" "$work/$log.log"; then fail "the session token appears in $log.log"; fi
done

echo "end-to-end run passed"
