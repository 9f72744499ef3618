#!/usr/bin/env bash
# Installs the Debian 12 packages Velmora needs to build, run and test; with --run, only those
# the run command needs. Idempotent: packages already present are left alone.
set -euo pipefail

# What scripts/run.sh needs: the build (whose default configuration includes the tests and the
# benchmarks) and the run on a desktop, or without one on a private Xvfb.
run_packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-svg-dev qt6-wayland libgl-dev
  libsecret-1-dev libcurl4-openssl-dev nlohmann-json3-dev libicu-dev
  libx11-dev libxtst-dev libxi-dev libxcb-res0-dev libxkbcommon-dev libwayland-dev libwayland-bin
  libcpp-httplib-dev libssl-dev libsqlite3-dev
  # The service: Boost.Asio/Beast, PostgreSQL's client library.
  libboost-dev libpq-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  openssl curl jq xdg-utils desktop-file-utils libnss3-tools
  xvfb trayer gnome-keyring dbus-daemon xdotool
)
# Besides, for the tests and the fuzzers.
test_packages=(
  clang-format clang libclang-rt-dev
  xclip libsecret-tools xauth fonts-dejavu-core
  sway wl-clipboard wtype xterm zenity xfce4-terminal python3 libglib2.0-bin
  # The service's replica test (which starts its own PostgreSQL, never a system cluster) and
  # HAProxy; nginx for its benchmark.
  postgresql-15 haproxy nginx
  # KDE Plasma's compositor and portals (the KDE portal is a Qt 5 program), and D-Bus for Python,
  # which the tests' second keyboard speaks.
  kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde qtwayland5 python3-dbus python3-gi
)
packages=("${run_packages[@]}")
[[ ${1:-} == --run ]] || packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || {
    echo "Missing packages; as root, run: apt-get install ${missing[*]}" >&2
    exit 1
  }
  echo "Installing the missing packages with sudo: ${missing[*]}"
  SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
