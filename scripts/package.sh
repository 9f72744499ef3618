#!/usr/bin/env bash
# The Debian packages of this checkout, in build-release/: velmora and velmora-service, an
# optimised build for /usr with stripped programs, and their -dbgsym packages (.ddeb) with the
# debug information.
# Install the first with `sudo apt install ./build-release/velmora_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCHMARKS=OFF
cmake --build build-release -j"$(nproc)"
(cd build-release && cpack -G DEB)
