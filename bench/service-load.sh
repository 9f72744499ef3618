#!/usr/bin/env bash
# A bounded load on velmora-service over HTTPS on loopback: CLIENTS keep-alive clients for SECONDS
# seconds, each alternating GET /latest/version.json and POST /api/chat with a signed-in token
# (no model backend, so a valid request ends in 503 after the token check, the parse and the
# validation). Prints requests/s, p50/p99 latency per path and the service's memory (resident
# now, and the peak) before and after the load.
# Usage: bench/service-load.sh [clients, default 50] [seconds, default 20] [build dir, default build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clients=${1:-50}
seconds=${2:-20}
build=$(realpath "${3:-$root/build}")
service=$build/service/velmora-service
[[ -x $service ]] || { echo "no $service: build the target velmora-service" >&2; exit 1; }
((clients <= 500 && seconds <= 300)) || { echo "at most 500 clients and 300 s" >&2; exit 1; }

work=$(mktemp -d /tmp/velmora-service-load-XXXXXX)
pid=
trap '[[ -n $pid ]] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

client=$work/service-load-client
g++ -O2 -std=c++20 -o "$client" "$root/bench/service-load-client.cpp" \
  $(pkg-config --cflags --libs cpp-httplib) -lssl -lcrypto -pthread
bash "$root/service/make-dev-cert.sh" "$work/certs" >/dev/null

"$service" --port 0 --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
  --data-dir "$work/data" --passphrase load-test >"$work/service.log" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q 'listening on https://' "$work/service.log" && break
  sleep 0.1
done
port=$(sed -n 's|.*listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$work/service.log")
[[ -n $port ]] || { cat "$work/service.log" >&2; exit 1; }
url="https://127.0.0.1:$port/auth/google?platform=mac"

# Signs in as a browser does: the page, then the form with its hidden field and cookie (if any).
page=$(curl -sS --cacert "$work/certs/ca.pem" -c "$work/cookies" "$url")
csrf=$(sed -n 's/.*name="csrf" value="\([^"]*\)".*/\1/p' <<<"$page")
callback=$(curl -sS --cacert "$work/certs/ca.pem" -b "$work/cookies" -o /dev/null \
  -w '%{redirect_url}' --data-urlencode "passphrase=load-test" --data-urlencode "csrf=$csrf" "$url")
token=${callback#velmora://auth/callback?token=}
[[ $callback != "$token" && -n $token ]] || { echo "no token: $callback" >&2; exit 1; }

memory() {
  awk '/^VmRSS/ {r = $2} /^VmHWM/ {h = $2} END {printf "resident %.1f MB, peak %.1f MB\n",
    r / 1024, h / 1024}' "/proc/$pid/status"
}
echo "service before the load: $(memory)"
"$client" "$port" "$work/certs/ca.pem" "$token" "$clients" "$seconds"
echo "service after the load:  $(memory)"
