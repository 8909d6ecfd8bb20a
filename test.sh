#!/usr/bin/env bash
# Installs what is missing, builds once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test; CTest's summary comes last.
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh
kx_install_packages "${KX_BUILD_PKGS[@]}" "${KX_TEST_PKGS[@]}" "${KX_FRONTEND_PKGS[@]}"

jobs=$(nproc)
mkdir -p build
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
  -DKX_SANITIZE=ON -DKX_TESTS=ON > build/configure.log 2>&1 || { cat build/configure.log; exit 1; }
cmake --build build/test -j "$jobs"
cd build/test
ctest -j "$jobs" --output-on-failure --timeout 600
