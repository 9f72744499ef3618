# Shared by the end-to-end runs and the scripts in bench/: the reference service over HTTPS with a
# scripted model backend on loopback, a session token from its sign-in page, and small helpers.
# Source it with $work set to a scratch folder; the caller kills "${pids[@]}" when done.
pids=()

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
requests() { wc -l <"$work/upstream-requests.jsonl" 2>/dev/null || echo 0; }

# start_service SERVICE CHAT_UPSTREAM MAKE_DEV_CERT RUNNING_VERSION: sets $callback and $token and
# points Velmora at the service.
start_service() {
  local service=$1 chat_upstream=$2 make_dev_cert=$3 version=$4 passphrase=e2e-passphrase
  bash "$make_dev_cert" "$work/certs" >/dev/null
  "$chat_upstream" 0 "$work/upstream-requests.jsonl" >"$work/upstream.log" 2>&1 &
  pids+=($!)
  wait_for 20 grep -q '^listening ' "$work/upstream.log" || fail "model backend did not start"
  local upstream_port
  upstream_port=$(awk '/^listening /{print $2; exit}' "$work/upstream.log")
  "$service" --port 0 --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
    --data-dir "$work/service-data" --passphrase "$passphrase" --auth-delay 0 \
    --upstream-url "http://127.0.0.1:$upstream_port/v1" \
    --model-map gemini-2.5-flash-preview-05-20=e2e-model \
    --version "$version" >"$work/service.log" 2>&1 &
  pids+=($!)
  wait_for 20 grep -q 'listening on https://' "$work/service.log" || fail "service did not start"
  local host
  host=127.0.0.1:$(sed -n 's|.*listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$work/service.log" |
    head -n1)
  # A session token from the sign-in page, as the browser would get it: the form and its cookie,
  # then the passphrase.
  local url="https://$host/auth/google?platform=mac" csrf
  csrf=$(curl -sS --cacert "$work/certs/ca.pem" -c "$work/sign-in-cookies" "$url" |
    sed -n 's/.*name="csrf" value="\([^"]*\)".*/\1/p')
  callback=$(curl -sS --cacert "$work/certs/ca.pem" -b "$work/sign-in-cookies" -o /dev/null \
    -w '%{redirect_url}' --data-urlencode "passphrase=$passphrase" --data-urlencode "csrf=$csrf" \
    "$url")
  [[ "$callback" == velmora://auth/callback\?token=* ]] || fail "no callback URL: $callback"
  token=${callback#velmora://auth/callback?token=}
  export VELMORA_API_HOST=$host VELMORA_DOWNLOAD_HOST=$host VELMORA_WEBSITE_HOST=$host
  export VELMORA_CA_FILE="$work/certs/ca.pem"
}
