#!/usr/bin/env bash
# Installs the Debian 12 packages Velmora needs to build, run and test.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format clang libclang-rt-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  libsecret-1-dev libcurl4-openssl-dev nlohmann-json3-dev libicu-dev
  libx11-dev libxtst-dev libxi-dev libxkbcommon-dev
  libcpp-httplib-dev libssl-dev libsqlite3-dev
  # The service: Boost.Asio/Beast, PostgreSQL's client library; the server and HAProxy for its
  # replica test (which starts its own PostgreSQL, never a system cluster), nginx for its benchmark.
  libboost-dev libpq-dev postgresql-15 haproxy nginx
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xdotool xclip trayer gnome-keyring libsecret-tools dbus-daemon openssl xauth curl
  fonts-dejavu-core
  libwayland-dev libwayland-bin sway wl-clipboard wtype qt6-wayland xterm zenity
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
