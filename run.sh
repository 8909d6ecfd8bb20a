#!/usr/bin/env bash
# Installs what is missing, makes a release build and starts Kaxon5,
# with the picture named on the command line when there is one.
set -euo pipefail
caller="$PWD"
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"
. tools/deps.sh
kx_install_packages "${KX_BUILD_PKGS[@]}" "${KX_FRONTEND_PKGS[@]}" "${KX_RUNTIME_PKGS[@]}"

mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF -DKX_TESTS=OFF -DKX_FRONTEND=ON \
  > build/configure-release.log 2>&1 || { cat build/configure-release.log; exit 1; }
cmake --build build/release --target kaxon5 -j "$(nproc)"

picture=()
if [ $# -ge 1 ]; then
  # A relative path is meant from where run.sh was called.
  case "$1" in
    /*) picture=("$1") ;;
    *) picture=("$caller/$1") ;;
  esac
fi
exec build/release/bin/kaxon5 "${picture[@]}"
