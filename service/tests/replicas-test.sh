#!/usr/bin/env bash
# Two velmora-service replicas on one scratch PostgreSQL 15, behind HAProxy with the sample
# configuration service/deploy/haproxy.cfg as it is: a token from one replica works on the other;
# stopping a replica while requests run loses none of them nor any later one; restarting
# PostgreSQL is lived through without a restart; a token from before all of it still works.
# Usage: replicas-test.sh SERVICE CHAT_UPSTREAM   (exits 77 without haproxy or PostgreSQL 15)
set -euo pipefail
service=$1 chat_upstream=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v haproxy >/dev/null || { echo "no haproxy (package haproxy): skipped"; exit 77; }
[[ -x /usr/lib/postgresql/15/bin/initdb ]] || { echo "no PostgreSQL 15: skipped"; exit 77; }

work=$(mktemp -d /tmp/velmora-replicas-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  bash "$here/scratch-postgres.sh" stop "$work/pg" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  tail -n 20 "$work"/*.log >&2 || true
  exit 1
}
wait_for() { local end=$((SECONDS + $1)); shift; until "$@"; do ((SECONDS < end)) || return 1; sleep 0.1; done; }

conninfo=$(bash "$here/scratch-postgres.sh" start "$work/pg")
bash "$here/../make-dev-cert.sh" "$work/certs" >/dev/null
"$chat_upstream" 0 "$work/upstream-requests.jsonl" >"$work/upstream.log" 2>&1 &
pids+=($!)
wait_for 20 grep -q '^listening ' "$work/upstream.log" || fail "model backend did not start"
upstream=$(awk '/^listening /{print $2; exit}' "$work/upstream.log")

# Both replicas start at once, so they meet in the schema migration.
start_replica() {
  "$service" --port 0 --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
    --data-dir "$work/data$1" --passphrase pw --auth-delay 0 --database "$conninfo" \
    --trusted-proxies 127.0.0.1 --upstream-url "http://127.0.0.1:$upstream/v1" \
    --model-map gemini-2.5-flash-preview-05-20=m >"$work/replica$1.log" 2>&1 &
  pids+=($!)
  eval "replica$1_pid=$!"
}
start_replica 1
start_replica 2
port_of() { sed -n 's|.*listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$work/replica$1.log"; }
for n in 1 2; do
  wait_for 20 grep -q 'listening on https://' "$work/replica$n.log" || fail "replica $n did not start"
done
port1=$(port_of 1) port2=$(port_of 2)

# A free port for HAProxy's front end.
for _ in 1 2 3 4 5; do
  front=$((30000 + RANDOM % 30000))
  VELMORA_FRONTEND_BIND=127.0.0.1:$front VELMORA_REPLICA_1=127.0.0.1:$port1 \
    VELMORA_REPLICA_2=127.0.0.1:$port2 haproxy -db -f "$here/../deploy/haproxy.cfg" \
    >"$work/haproxy.log" 2>&1 &
  haproxy_pid=$!
  sleep 0.5
  kill -0 "$haproxy_pid" 2>/dev/null && break
done
pids+=("$haproxy_pid")

curl_at() { curl -sS --cacert "$work/certs/ca.pem" --max-time 20 "$@"; }
sign_in() {
  local url="https://127.0.0.1:$1/auth/google?platform=mac" csrf callback
  csrf=$(curl_at -c "$work/cookies$1" "$url" | sed -n 's/.*name="csrf" value="\([^"]*\)".*/\1/p')
  callback=$(curl_at -b "$work/cookies$1" -o /dev/null -w '%{redirect_url}' \
    --data-urlencode passphrase=pw --data-urlencode "csrf=$csrf" "$url")
  echo "${callback#velmora://auth/callback?token=}"
}
# The status of a rewrite of $3 at port $1 with token $2.
chat() {
  curl_at -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $2" \
    -d "{\"prompt\":\"$3\",\"provider\":\"google\",\"model\":\"gemini-2.5-flash-preview-05-20\",\"user_instructions\":\"x\"}" \
    "https://127.0.0.1:$1/api/chat" || true
}
healthy() { [[ $(curl_at -o /dev/null -w '%{http_code}' "https://127.0.0.1:$front/healthz") == 200 ]]; }
wait_for 20 healthy || fail "HAProxy does not reach the replicas"

first=$(sign_in "$port1")
[[ -n $first && $(chat "$port2" "$first" hello) == 200 ]] || fail "replica 2 refused replica 1's token"
token=$(sign_in "$front")
[[ $(chat "$front" "$token" hello) == 200 ]] || fail "no rewrite through HAProxy"

# Rewrites that take the backend 5 s, then replica 1 is stopped while they run.
for i in 1 2 3 4; do
  chat "$front" "$token" "SLOW $i" >"$work/slow$i" &
done
sleep 1
kill -TERM "$replica1_pid"
for i in $(seq 1 10); do
  status=$(chat "$front" "$token" "after $i")
  [[ $status == 200 ]] || fail "rewrite $i after the stop: $status"
done
wait "$replica1_pid" || fail "replica 1 did not stop cleanly"
for i in 1 2 3 4; do
  wait_for 15 test -s "$work/slow$i" || fail "slow rewrite $i never ended"
  [[ $(cat "$work/slow$i") == 200 ]] || fail "slow rewrite $i: $(cat "$work/slow$i")"
done
grep -Eq 'POST /api/chat 200 [0-9]{4} ms' "$work/replica1.log" ||
  fail "replica 1 finished no slow rewrite while stopping"

# PostgreSQL goes away and comes back; the remaining replica recovers by itself.
bash "$here/scratch-postgres.sh" stop "$work/pg"
[[ $(chat "$port2" "$token" down) == 503 ]] || fail "no 503 while the database is down"
grep -q 'Token database unavailable' "$work/replica2.log" || fail "no log line for the outage"
bash "$here/scratch-postgres.sh" start "$work/pg" >/dev/null
back() { [[ $(chat "$front" "$first" back) == 200 ]]; }
wait_for 30 back || fail "no rewrite through HAProxy after PostgreSQL came back"
grep -q 'Token database reachable again' "$work/replica2.log" || fail "no log line for the return"
echo "replicas: 4 checks passed, 0 failed"
