#!/usr/bin/env bash
# Runs velmora-service on https://127.0.0.1:8443 for this machine: makes the local certificate
# on first use and a random sign-in passphrase unless one is given. Extra arguments go to the
# service, e.g. --upstream-url http://127.0.0.1:11434/v1 --model-map gemini-2.5-flash-preview-05-20=llama3.2
#
# Environment: VELMORA_SERVICE_BINARY (default build/service/velmora-service),
# VELMORA_SERVICE_HOME (default ${XDG_DATA_HOME:-~/.local/share}/velmora-service).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=${VELMORA_SERVICE_BINARY:-$here/../build/service/velmora-service}
home=${VELMORA_SERVICE_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/velmora-service}

bash "$here/make-dev-cert.sh" "$home/certs"

passphrase_file=$home/passphrase
if [[ ! -s $passphrase_file ]]; then
  (umask 077 && openssl rand -base64 18 > "$passphrase_file")
  echo "Made a sign-in passphrase in $passphrase_file"
fi
echo "Sign in with the passphrase in $passphrase_file"
echo "Start Velmora with: VELMORA_API_HOST=127.0.0.1:8443 VELMORA_DOWNLOAD_HOST=127.0.0.1:8443 VELMORA_CA_FILE=$home/certs/ca.pem"

exec "$binary" --cert "$home/certs/server.pem" --key "$home/certs/server.key" \
  --data-dir "$home" --passphrase-file "$passphrase_file" "$@"
