#!/usr/bin/env bash
# Velmora from this checkout, as the desktop user: installs the Debian packages it needs (with
# sudo, and only those missing), builds it, and starts it with the reference service on
# https://127.0.0.1:8443 (a local certificate and a sign-in passphrase are made on first use).
# As root it works the same, for headless machines and CI.
#
#   run.sh              install, build, start
#   run.sh --no-build   start the build that is there
#   run.sh --launch [ARG...]
#                       what the desktop entry runs (the application grid, velmora: links, start at
#                       login): start with the service's last settings, ARGs passed to Velmora
#
# Starting also makes this build the user's Velmora: the desktop entry app.velmora.Velmora (the
# handler of velmora: URLs) and its D-Bus service point here (scripts/register-desktop.sh), and
# the local certificate authority, which may sign for this machine's loopback addresses only, is
# added to the user's browser certificate databases (~/.pki/nssdb for Chromium, each Firefox
# profile there is), so the sign-in page opens without a warning.
#
# One service per machine: a start finds the service already answering on the port (with this
# machine's certificate and this build's version) and uses it, or restarts it when its settings
# changed. When Velmora quits and no other Velmora of the user runs, the service goes too.
#
# The model backend: VELMORA_UPSTREAM_URL (an OpenAI-compatible API base), VELMORA_UPSTREAM_MODEL
# and, for a hosted provider, VELMORA_UPSTREAM_API_KEY_FILE. Without them the first model of an
# Ollama server on 127.0.0.1:11434 (VELMORA_OLLAMA_ADDRESS) or a llama.cpp server on
# 127.0.0.1:8080 (VELMORA_LLAMA_CPP_ADDRESS) is used. VELMORA_SERVICE_PORT moves the service;
# VELMORA_BUILD_DIR names another build folder than build/.
#
# Without a display (a headless machine) Velmora runs on a private Xvfb with its own session bus
# and keyring.
set -euo pipefail
# Paths as the kernel gives them (no symbolic links): a desktop entry's TryExec must name the
# program exactly as the running program finds itself.
root=$(cd "$(dirname "$0")/.." && pwd -P)
build=$(realpath -m "${VELMORA_BUILD_DIR:-$root/build}")
mode=${1:-build}
case $mode in
  build) ;;
  --no-build | --launch) shift ;;
  *) echo "Usage: $0 [--no-build | --launch [ARG...]]" >&2 && exit 2 ;;
esac
[[ $mode == --launch || $# == 0 ]] || { echo "Usage: $0 [--no-build]" >&2 && exit 2; }

if [[ $mode == build ]]; then
  [[ ! -e $build || -w $build ]] || { echo "$build is not yours (made by a run as root?):" \
    "remove it (sudo rm -rf $build) or set VELMORA_BUILD_DIR to another folder." >&2 && exit 1; }
  bash "$root/scripts/install-deps.sh" --run
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j"$(nproc)" --target velmora velmora-service
fi

velmora=$build/velmora
home=${XDG_DATA_HOME:-$HOME/.local/share}/velmora-service
mkdir -p "$home"
version=$("$velmora" --version | awk '{print $NF}')
say() { [[ $mode == --launch ]] || echo "$@"; }

# The first model of a local OpenAI-compatible server: sets upstream and model.
find_model() {
  local ollama=${VELMORA_OLLAMA_ADDRESS:-127.0.0.1:11434}
  local llama=${VELMORA_LLAMA_CPP_ADDRESS:-127.0.0.1:8080}
  # Embedding models cannot chat.
  first() { curl -sf --max-time 2 "http://$1" | jq -er "[$2 | select(test(\"embed\") | not)][0]"; }
  if model=$(first "$ollama/api/tags" '.models[].name' || first "$ollama/v1/models" '.data[].id')
  then
    upstream=http://$ollama/v1
    say "Model: $model, of the Ollama server on $ollama (VELMORA_UPSTREAM_URL chooses another)."
  elif model=$(first "$llama/v1/models" '.data[].id'); then
    upstream=http://$llama/v1
    say "Model: $model, of the llama.cpp server on $llama (VELMORA_UPSTREAM_URL chooses another)."
  else
    say "No model backend: none given and no Ollama ($ollama) or llama.cpp server ($llama) found." \
      "Start one, or set VELMORA_UPSTREAM_URL to an OpenAI-compatible API base (and" \
      "VELMORA_UPSTREAM_MODEL to a model), then run this again."
    return 1
  fi
}

# The service's settings: those of the last start for --launch, else from the environment.
args=()
if [[ $mode == --launch && -s $home/service.args ]]; then
  mapfile -t args <"$home/service.args"
else
  args=(--port "${VELMORA_SERVICE_PORT:-8443}")
  upstream=${VELMORA_UPSTREAM_URL:-} model=${VELMORA_UPSTREAM_MODEL:-llama3.2}
  if [[ -n $upstream ]] || find_model; then
    args+=(--upstream-url "$upstream" --model-map "gemini-2.5-flash-preview-05-20=$model")
  fi
  [[ -z ${VELMORA_UPSTREAM_API_KEY_FILE:-} ]] ||
    args+=(--upstream-api-key-file "$VELMORA_UPSTREAM_API_KEY_FILE")
fi
port=${args[1]}

# Certificates from before the authority was limited to loopback are made anew.
certs=$home/certs
[[ ! -e $certs/ca.pem ]] || openssl x509 -in "$certs/ca.pem" -noout -ext nameConstraints |
  grep -q . || rm -f "$certs"/{ca.pem,ca.key,server.pem,server.key}
bash "$root/service/make-dev-cert.sh" "$certs" >/dev/null

# The authority in the user's NSS databases: Chromium's, and each Firefox profile's.
trust_local_ca() {
  local nick="Velmora local CA" db fingerprint
  fingerprint=$(openssl x509 -in "$certs/ca.pem" -noout -fingerprint -sha256)
  mkdir -p "$HOME/.pki/nssdb"
  [[ -e $HOME/.pki/nssdb/cert9.db ]] || certutil -N -d "sql:$HOME/.pki/nssdb" --empty-password
  # Firefox profiles: in ~/.mozilla/firefox, or $XDG_CONFIG_HOME/mozilla/firefox from newer
  # releases (153 ESR).
  for db in "$HOME/.pki/nssdb" "$HOME"/.mozilla/firefox/*/ \
    "${XDG_CONFIG_HOME:-$HOME/.config}"/mozilla/firefox/*/; do
    [[ -e $db/cert9.db ]] || continue
    [[ $(certutil -L -d "sql:$db" -n "$nick" -a 2>/dev/null |
      openssl x509 -noout -fingerprint -sha256 2>/dev/null) != "$fingerprint" ]] || continue
    while certutil -D -d "sql:$db" -n "$nick" 2>/dev/null; do :; done
    certutil -A -d "sql:$db" -n "$nick" -t C,, -i "$certs/ca.pem"
  done
}
if command -v certutil >/dev/null; then
  trust_local_ca
else
  say "certutil (libnss3-tools) is missing: browsers will warn about the sign-in page's" \
    "certificate."
fi
[[ $mode == --launch ]] || bash "$root/scripts/register-desktop.sh" "$velmora" \
  ${VELMORA_BUILD_DIR:+env "VELMORA_BUILD_DIR=$build"} "$root/scripts/run.sh" --launch ||
  echo "Could not register the desktop entry: velmora: links will not reach this build." >&2

# --- The service ----------------------------------------------------------------------------------
answers() {
  curl -sf --max-time 3 --cacert "$certs/ca.pem" "https://127.0.0.1:$port/latest/version.json" |
    jq -e --arg v "$version" '.version == $v' >/dev/null
}
ours() { # the pid of the service the run command started, while it runs
  local pid
  pid=$(cat "$home/service.pid" 2>/dev/null) || pid=${service_pid:-}
  [[ $(cat "/proc/$pid/comm" 2>/dev/null) == velmora-service ]] && echo "$pid"
}
stop_service() {
  local pid
  pid=$(ours) || return 0
  kill "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$home/service.pid"
}
in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

same_settings() {
  [[ $(cat "$home/service.args" 2>/dev/null) == "$(printf '%s\n' "${args[@]}")" ]]
}
if answers && [[ $mode == --launch ]] || answers && same_settings; then
  say "Using the velmora-service that runs on https://127.0.0.1:$port (log: $home/service.log)."
else
  if ours >/dev/null; then
    say "Restarting velmora-service: its settings or its version changed."
    stop_service
  elif answers; then
    echo "A velmora-service this command did not start answers on port $port with other settings;" \
      "stop it, or set VELMORA_SERVICE_PORT to a free port." >&2
    exit 1
  elif in_use; then
    echo "Port $port is taken by another program; set VELMORA_SERVICE_PORT to a free port." >&2
    exit 1
  fi
  # A session of its own: the service outlives neither Velmora nor this script, but takes no
  # Ctrl+C meant for them.
  VELMORA_SERVICE_BINARY="$build/service/velmora-service" VELMORA_SERVICE_HOME="$home" setsid \
    bash "$root/service/run-local.sh" "${args[@]}" --version "$version" >"$home/service.log" 2>&1 \
    </dev/null &
  echo $! >"$home/service.pid"
  printf '%s\n' "${args[@]}" >"$home/service.args"
  for _ in $(seq 1 100); do
    grep -q 'listening on https://' "$home/service.log" && break
    kill -0 $! 2>/dev/null || { cat "$home/service.log" >&2; exit 1; }
    sleep 0.1
  done
  say "velmora-service runs on https://127.0.0.1:$port (log: $home/service.log)."
fi
service_pid=$(ours) || true
say "Sign in from Velmora's menu with the passphrase in $home/passphrase."

# --- Velmora --------------------------------------------------------------------------------------
instance_runs() { # its lock, in the first folder Velmora may choose that has one
  local dir
  for dir in "${XDG_RUNTIME_DIR:-}" "${TMPDIR:-/tmp}/velmora-$UID" \
    "${XDG_CACHE_HOME:-$HOME/.cache}/velmora-$UID"; do
    [[ -n $dir && -e $dir/velmora.lock ]] && ! flock -n "$dir/velmora.lock" true && return 0
  done
  return 1
}
helpers=()
finish() {
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  instance_runs || stop_service
}
trap finish EXIT
# Velmora runs beside this script, which passes on a request to end (Ctrl+C, a closed terminal,
# kill) and then ends the service as after a Quit.
run() {
  "$@" &
  velmora_pid=$!
  trap 'kill -TERM "$velmora_pid" 2>/dev/null' INT TERM HUP
  local status
  while wait "$velmora_pid"; status=$?; kill -0 "$velmora_pid" 2>/dev/null; do :; done
  return "$status"
}
export VELMORA_API_HOST=127.0.0.1:$port VELMORA_DOWNLOAD_HOST=127.0.0.1:$port
export VELMORA_CA_FILE=$certs/ca.pem

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  ((UID)) || say "Running as root: browsers refuse to run as root; run this as your desktop user."
  run "$velmora" "$@"
  exit
fi

echo "No display: running Velmora on a private Xvfb with its own session bus and keyring."
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
helpers+=("$!")
for _ in $(seq 1 100); do
  [[ -s $displayfile ]] && break
  sleep 0.1
done
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi
echo "Velmora's display is $DISPLAY."
run dbus-run-session -- bash -c '
  eval "$(printf velmora | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
  trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
  "$@"
  status=$?
  kill %1 2>/dev/null
  [[ -n "${GNOME_KEYRING_PID:-}" ]] && kill "$GNOME_KEYRING_PID" 2>/dev/null
  exit $status
' velmora "$velmora" "$@"
