#!/usr/bin/env bash
# Builds every libFuzzer target (clang; the library instrumented for
# coverage; ASan and UBSan) in build/fuzz and fuzzes one of them:
#   fuzz/run.sh kxoPNG 10        # target kxfuzz_kxoPNG for 10 minutes
# New inputs go to build/fuzz/corpus/<target>/ (fuzz/corpus/ keeps only the
# seeds), findings to build/fuzz/artifacts/. A single allocation above the
# library's 2 GiB size limit is reported as a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh <target, e.g. kxoPNG> [minutes] [more libFuzzer options]}
minutes=${2:-5}
shift $(( $# < 2 ? $# : 2 ))
. tools/deps.sh
kx_install_packages "${KX_BUILD_PKGS[@]}" "${KX_FUZZ_PKGS[@]}"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_FUZZ=ON -DKX_TESTS=OFF -DKX_FRONTEND=OFF -DKX_BENCH=OFF > /dev/null
cmake --build build/fuzz --target kxfuzz
mkdir -p "build/fuzz/corpus/$target" build/fuzz/artifacts
exec "build/fuzz/bin/kxfuzz_$target" -max_total_time=$((minutes * 60)) -rss_limit_mb=8192 -malloc_limit_mb=2049 \
  -artifact_prefix="build/fuzz/artifacts/$target-" "$@" "build/fuzz/corpus/$target" "fuzz/corpus/$target"
