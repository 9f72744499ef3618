#!/usr/bin/env bash
# Installs what Velmora needs, builds it, starts the reference service on 127.0.0.1:8443 (making
# a local certificate and a sign-in passphrase on first use) and runs Velmora pointed at it.
#
# A model backend for the service: set VELMORA_UPSTREAM_URL to an OpenAI-compatible API base
# (a local Ollama server is http://127.0.0.1:11434/v1) and VELMORA_UPSTREAM_MODEL to one of its
# models; VELMORA_UPSTREAM_API_KEY_FILE for a hosted provider. Without one, rewrites report that
# no model backend is configured.
#
# Without an X display (a headless machine) it runs Velmora on a private Xvfb with its own
# session bus and keyring, so the whole product still starts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target velmora velmora-service

service_home=${XDG_DATA_HOME:-$HOME/.local/share}/velmora-service
mkdir -p "$service_home"
service_args=(--version "$("$root/build/velmora" --version | awk '{print $NF}')")
if [[ -n "${VELMORA_UPSTREAM_URL:-}" ]]; then
  service_args+=(--upstream-url "$VELMORA_UPSTREAM_URL")
  service_args+=(--model-map "gemini-2.5-flash-preview-05-20=${VELMORA_UPSTREAM_MODEL:-llama3.2}")
fi
if [[ -n "${VELMORA_UPSTREAM_API_KEY_FILE:-}" ]]; then
  service_args+=(--upstream-api-key-file "$VELMORA_UPSTREAM_API_KEY_FILE")
fi

VELMORA_SERVICE_BINARY="$root/build/service/velmora-service" VELMORA_SERVICE_HOME="$service_home" \
  bash service/run-local.sh "${service_args[@]}" >"$service_home/service.log" 2>&1 &
service_pid=$!
helpers=("$service_pid")
cleanup() {
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 1 100); do
  grep -q 'listening on https://' "$service_home/service.log" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || { cat "$service_home/service.log" >&2; exit 1; }
  sleep 0.1
done
echo "velmora-service runs on https://127.0.0.1:8443 (log: $service_home/service.log)."
echo "Sign in from the tray menu with the passphrase in $service_home/passphrase."
if [[ -z "${VELMORA_UPSTREAM_URL:-}" ]]; then
  echo "No model backend: set VELMORA_UPSTREAM_URL (e.g. http://127.0.0.1:11434/v1 for Ollama)" \
    "and VELMORA_UPSTREAM_MODEL, then run this again."
fi

export VELMORA_API_HOST=127.0.0.1:8443 VELMORA_DOWNLOAD_HOST=127.0.0.1:8443
export VELMORA_CA_FILE="$service_home/certs/ca.pem"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$root/build/velmora"
fi

echo "No display: running Velmora on a private Xvfb with its own session bus and keyring."
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
helpers+=("$!")
for _ in $(seq 1 100); do
  [[ -s "$displayfile" ]] && break
  sleep 0.1
done
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi
echo "Velmora's display is $DISPLAY."
dbus-run-session -- bash -c '
  eval "$(printf velmora | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
  trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
  "$1"
  status=$?
  kill %1 2>/dev/null
  [[ -n "${GNOME_KEYRING_PID:-}" ]] && kill "$GNOME_KEYRING_PID" 2>/dev/null
  exit $status
' velmora "$root/build/velmora"
