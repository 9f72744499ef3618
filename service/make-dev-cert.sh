#!/usr/bin/env bash
# Makes a local certificate authority and a server certificate for 127.0.0.1, ::1 and
# localhost, for running velmora-service on one machine. Velmora trusts the authority through
# VELMORA_CA_FILE=<dir>/ca.pem; the service takes --cert <dir>/server.pem --key <dir>/server.key.
#
# Usage: make-dev-cert.sh [DIR]   (default: ${XDG_DATA_HOME:-~/.local/share}/velmora-service/certs)
# Existing files are kept, so running it again is harmless.
#
# The authority may sign for 127.0.0.1, ::1 and localhost only, and its key is deleted once the
# server certificate is signed: a browser that trusts it (scripts/run.sh adds it to the user's
# certificate databases) trusts nothing else through it.
set -euo pipefail

dir=${1:-${XDG_DATA_HOME:-$HOME/.local/share}/velmora-service/certs}
mkdir -p "$dir"
chmod 700 "$dir"
cd "$dir"

if [[ -s ca.pem && -s server.pem && -s server.key ]]; then
  echo "Using the certificates in $dir"
  exit 0
fi

umask 077
cat > openssl.cnf <<'CONF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = placeholder
[ca_ext]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
nameConstraints = critical, permitted;DNS:localhost, permitted;IP:127.0.0.1/255.255.255.255, permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1, IP:::1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF

# P-256 keys: generated in milliseconds, accepted by every TLS stack in use here.
openssl req -config openssl.cnf -x509 -new -nodes -sha256 -days 3650 \
  -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
  -subj "/CN=Velmora local development CA" -extensions ca_ext \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl req -config openssl.cnf -new -nodes -sha256 \
  -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
  -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
openssl x509 -req -sha256 -days 825 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -extfile openssl.cnf -extensions server_ext -out server.pem 2>/dev/null
rm -f server.csr ca.srl openssl.cnf ca.key
chmod 644 ca.pem server.pem

echo "Made a local CA and a server certificate in $dir"
echo "  service:  --cert $dir/server.pem --key $dir/server.key"
echo "  Velmora:  VELMORA_CA_FILE=$dir/ca.pem"
