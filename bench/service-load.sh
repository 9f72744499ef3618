#!/usr/bin/env bash
# Bounded loads on velmora-service over HTTPS on loopback. Prints what it measured and the
# service's memory (resident now, and the peak).
#
#   bench/service-load.sh [clients] [seconds] [build dir]
#     CLIENTS keep-alive clients (default 50) for SECONDS (default 20), each alternating
#     GET /latest/version.json and POST /api/chat with a signed-in token (no model backend, so a
#     valid request ends in 503 after the token check, the parse and the validation): requests/s
#     and p50/p99 latency per path.
#   bench/service-load.sh slow-backend ["256 512"] [delay, default 2] [build dir]
#     For each N: N clients at once, each on its own TLS connection, each asking for a rewrite
#     from a backend that answers after DELAY seconds; the same burst side by side through nginx
#     (Debian's, terminating TLS and relaying to the same backend), and through HAProxy (the
#     sample service/deploy/haproxy.cfg) to two replicas on a scratch PostgreSQL. Wall time,
#     failures, peak memory.
#   bench/service-load.sh slow-clients [connections, default 500] [seconds, default 20] [build dir]
#     CONNECTIONS TLS connections trickle request heads one byte every 2 s (reopened when cut
#     off) while an ordinary request on a fresh connection goes every 200 ms: its median and
#     failures.
#
# The build dir's velmora-service is measured, so an older build gives the figures before a
# change. All clients come from 127.0.0.1, so the per-address connection cap is raised for the
# run (where the service has one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=load
if [[ ${1:-} == slow-backend || ${1:-} == slow-clients ]]; then
  mode=$1
  shift
fi
case $mode in
load) clients=${1:-50} seconds=${2:-20} ;;
slow-backend) bursts=${1:-256 512} delay=${2:-2} ;;
slow-clients) connections=${1:-500} seconds=${2:-20} ;;
esac
build=$(realpath "${3:-$root/build}")
service=$build/service/velmora-service
[[ -x $service ]] || { echo "no $service: build the target velmora-service" >&2; exit 1; }

work=$(mktemp -d /tmp/velmora-service-load-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [[ -d $work/pg ]] && bash "$root/service/tests/scratch-postgres.sh" stop "$work/pg" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

client=$work/service-load-client
g++ -O2 -std=c++20 -o "$client" "$root/bench/service-load-client.cpp" \
  $(pkg-config --cflags --libs cpp-httplib) -lssl -lcrypto -pthread
bash "$root/service/make-dev-cert.sh" "$work/certs" >/dev/null
ulimit -n "$(ulimit -Hn)"

extra=()
"$service" --help | grep -q max-connections-per-address &&
  extra+=(--max-connections-per-address 4096)

# start_service NAME ARGS...: starts the service, sets $port and $pid.
start_service() {
  local name=$1
  shift
  "$service" --port 0 --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
    --data-dir "$work/data-$name" --passphrase load-test "${extra[@]}" "$@" \
    >"$work/$name.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 100); do
    grep -q 'listening on https://' "$work/$name.log" && break
    sleep 0.1
  done
  port=$(sed -n 's|.*listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$work/$name.log")
  [[ -n $port ]] || { cat "$work/$name.log" >&2; exit 1; }
}

# Signs in as a browser does at port $1: the page, then the form with its hidden field and cookie.
sign_in() {
  local url="https://127.0.0.1:$1/auth/google?platform=mac" page csrf callback
  page=$(curl -sS --cacert "$work/certs/ca.pem" -c "$work/cookies" "$url")
  csrf=$(sed -n 's/.*name="csrf" value="\([^"]*\)".*/\1/p' <<<"$page")
  callback=$(curl -sS --cacert "$work/certs/ca.pem" -b "$work/cookies" -o /dev/null \
    -w '%{redirect_url}' --data-urlencode "passphrase=load-test" --data-urlencode "csrf=$csrf" "$url")
  token=${callback#velmora://auth/callback?token=}
  [[ $callback != "$token" && -n $token ]] || { echo "no token: $callback" >&2; exit 1; }
}

memory() {
  awk '/^VmRSS/ {r = $2} /^VmHWM/ {h = $2} END {printf "resident %.1f MB, peak %.1f MB\n",
    r / 1024, h / 1024}' "/proc/$1/status"
}

free_port() {
  local p
  while :; do
    p=$((30000 + RANDOM % 30000))
    (echo >"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}

if [[ $mode == load ]]; then
  ((clients <= 500 && seconds <= 300)) || { echo "at most 500 clients and 300 s" >&2; exit 1; }
  start_service load
  sign_in "$port"
  echo "service before the load: $(memory "$pid")"
  "$client" "$port" "$work/certs/ca.pem" "$token" "$clients" "$seconds"
  echo "service after the load:  $(memory "$pid")"
  exit 0
fi

if [[ $mode == slow-clients ]]; then
  ((connections <= 2000 && seconds <= 300)) || { echo "at most 2000 connections, 300 s" >&2; exit 1; }
  start_service trickle
  "$client" trickle "$port" "$work/certs/ca.pem" "$connections" "$seconds"
  echo "service: $(memory "$pid")"
  exit 0
fi

# slow-backend
g++ -O2 -std=c++20 -o "$work/slow-backend" "$root/bench/slow-backend.cpp" -pthread
"$work/slow-backend" "$delay" >"$work/backend.log" 2>&1 &
pids+=($!)
sleep 0.3
backend=$(awk '/^listening /{print $2; exit}' "$work/backend.log")
upstream=(--upstream-url "http://127.0.0.1:$backend/v1")

start_service alone "${upstream[@]}"
alone_port=$port alone_pid=$pid
sign_in "$alone_port"
alone_token=$token

mkdir -p "$work/nginx"
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes auto;
user $(id -un);
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/certs/server.pem;
    ssl_certificate_key $work/certs/server.key;
    location /api/chat {
      proxy_pass http://127.0.0.1:$backend/v1/chat/completions;
      proxy_read_timeout 60s;
    }
  }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/error.log" &
nginx_pid=$!
pids+=("$nginx_pid")
sleep 0.5
nginx_memory() {
  local total=0 peak
  for p in $(pgrep -P "$nginx_pid") "$nginx_pid"; do
    peak=$(awk '/^VmHWM/ {print $2}' "/proc/$p/status")
    total=$((total + peak))
  done
  awk -v k="$total" 'BEGIN {printf "peak %.1f MB (master and workers)\n", k / 1024}'
}

haproxy_port=
if "$service" --help | grep -q -- --database && command -v haproxy >/dev/null; then
  conninfo=$(bash "$root/service/tests/scratch-postgres.sh" start "$work/pg")
  start_service replica1 "${upstream[@]}" --database "$conninfo" --trusted-proxies 127.0.0.1
  replica1_port=$port replica1_pid=$pid
  start_service replica2 "${upstream[@]}" --database "$conninfo" --trusted-proxies 127.0.0.1
  replica2_port=$port replica2_pid=$pid
  haproxy_port=$(free_port)
  VELMORA_FRONTEND_BIND=127.0.0.1:$haproxy_port VELMORA_REPLICA_1=127.0.0.1:$replica1_port \
    VELMORA_REPLICA_2=127.0.0.1:$replica2_port haproxy -db -f "$root/service/deploy/haproxy.cfg" \
    >"$work/haproxy.log" 2>&1 &
  pids+=($!)
  sleep 3  # the first health checks
  sign_in "$haproxy_port"
  haproxy_token=$token
fi

echo "backend answers after $delay s; $(nproc) cores"
for n in $bursts; do
  printf 'service alone:      '
  "$client" burst "$alone_port" "$work/certs/ca.pem" "$alone_token" "$n"
  printf 'nginx:              '
  "$client" burst "$nginx_port" "$work/certs/ca.pem" "-" "$n"
  if [[ -n $haproxy_port ]]; then
    printf 'HAProxy, 2 replicas: '
    "$client" burst "$haproxy_port" "$work/certs/ca.pem" "$haproxy_token" "$n"
  fi
done
echo "service alone: $(memory "$alone_pid")"
echo "nginx: $(nginx_memory)"
if [[ -n $haproxy_port ]]; then
  echo "replica 1: $(memory "$replica1_pid"); replica 2: $(memory "$replica2_pid")"
fi
