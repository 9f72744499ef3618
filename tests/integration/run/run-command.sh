#!/usr/bin/env bash
# `scripts/run.sh --no-build` as an unprivileged desktop user (made when run as root) in a private
# session: it uses the model of a fake Ollama; with no browser, "Sign in" says so in a notice; its
# desktop entry handles velmora: links, which xdg-open brings to the running Velmora, and is what
# "Start at Login" writes; a second start keeps the service; it ends with Velmora; a velmora: link
# starts both again, as a login does. Usage: run-command.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
if [[ -z ${IN_RUN_SESSION:-} ]]; then
  as_user=()
  if ((EUID == 0)); then
    id -u velmora-run &>/dev/null || useradd --system --no-create-home velmora-run || id velmora-run
    as_user=(setpriv --reuid=velmora-run --regid=velmora-run --init-groups --)
  fi
  IN_RUN_SESSION=1 exec "${as_user[@]}" "$1/tests/support/run-in-session.sh" "$0" "$@"
fi
work=$HOME service=$XDG_DATA_HOME/velmora-service
source "$1/tests/integration/e2e/e2e-lib.sh"
velmoras() { pgrep -s 0 -u "$UID" -x velmora; } # started from here: this session, this user
finish() {
  local status=$?
  kill $(velmoras) "${pids[@]}" "$(cat "$service/service.pid" 2>/dev/null)" 2>/dev/null
  wait
  ((status)) && tail -n 20 "$HOME"/*.log >&2
  exit $status
}
trap finish EXIT
port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'; }
served() { curl -sfo /dev/null --cacert "$service/certs/ca.pem" "$version_url"; }
shown() { # sets w to the window titled $1
  title=$1 && wait_for 20 eval 'w=$(xdotool search --onlyvisible --name "^$title\$" | head -n1)
    [[ -n $w ]]'
}
mkdir -p "$HOME/ollama/api"
echo '{"models": [{"name": "nomic-embed"}, {"name": "run-test:latest"}]}' >"$HOME/ollama/api/tags"
ollama=$(port)
python3 -m http.server -b 127.0.0.1 -d "$HOME/ollama" "$ollama" &>/dev/null & pids+=($!)
export VELMORA_BUILD_DIR=$2 VELMORA_OLLAMA_ADDRESS=127.0.0.1:$ollama VELMORA_SERVICE_PORT=$(port)
version_url=https://127.0.0.1:$VELMORA_SERVICE_PORT/latest/version.json
wait_for 10 curl -sf "http://127.0.0.1:$ollama/api/tags" -o /dev/null || fail "no fake Ollama"

# No browser at all: nothing handles https and $BROWSER fails.
BROWSER=false XDG_DATA_DIRS=$HOME "$1/scripts/run.sh" --no-build >"$HOME/first.log" 2>&1 &
first=$!
shown "No Updates Available" || fail "Velmora did not start"
grep -q "Model: run-test:latest, of the Ollama server on 127.0.0.1:$ollama" "$HOME/first.log" &&
  tr '\0' ' ' <"/proc/$(cat "$service/service.pid")/cmdline" | grep -q -- "-url http://127.0.0.1:\
$ollama/v1 --model-map gemini-2.5-flash-preview-05-20=run-test:latest" || fail "model not used"
xdotool windowfocus --sync "$w" key Return
"$2/velmora" --action=sign-in && shown "Open the Sign-In Page" ||
  fail "no notice when the browser could not be opened"
xdotool windowfocus --sync "$w" key Return
[[ $(xdg-mime query default x-scheme-handler/velmora) == app.velmora.Velmora.desktop ]] ||
  fail "no handler"
"$2/velmora" --action=start-at-login && wait_for 10 grep -q "^Exec=.*/scripts/run.sh --launch" \
  "$XDG_CONFIG_HOME/autostart/app.velmora.Velmora.desktop" || fail "login skips the run command"
xdg-open 'velmora://auth/callback?token=run-test' || fail "xdg-open failed"
wait_for 20 grep -q "Received URL: velmora://auth/callback?token=<redacted>" "$HOME/first.log" ||
  fail "the velmora: link did not reach Velmora"

pid=$(cat "$service/service.pid")
"$1/scripts/run.sh" --no-build >"$HOME/second.log" 2>&1 &&
  grep -q "Using the velmora-service that runs" "$HOME/second.log" && kill -0 "$pid" ||
  fail "the second start did not keep the service"
kill $(velmoras) && wait "$first" || :
! served && ! kill -0 "$pid" 2>/dev/null || fail "the service outlived Velmora"

xdg-open 'velmora://auth/callback?token=run-test-2' >"$HOME/launch.log" 2>&1 &
wait_for 30 grep -q "Received URL: velmora://auth/callback" "$HOME/launch.log" && served ||
  fail "a velmora: link did not start Velmora and the service"
