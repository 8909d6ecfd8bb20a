#!/usr/bin/env bash
# Builds every libFuzzer target (clang; the library instrumented for
# coverage; ASan and UBSan) in build/fuzz and fuzzes one of them:
#   fuzz/run.sh kxoPNG 10                # target kxfuzz_kxoPNG for 10 minutes
#   fuzz/run.sh -j 2 --nice kxoPNG 10    # the build on 2 jobs, at low priority
# Options before the target: -j N / --jobs N (jobs of the build; default:
# ninja's), --nice (the build runs under nice -n 19). New inputs go to
# build/fuzz/corpus/<target>/ (fuzz/corpus/ keeps only the seeds), findings
# to build/fuzz/artifacts/. Each run gets -timeout=10 (seconds an input may
# take), -max_len=65536 and -rss_limit_mb=4096; a single allocation above
# the library's 2 GiB size limit is reported as a finding. libFuzzer options
# after the minutes come last and win over these.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: fuzz/run.sh [-j N|--jobs N] [--nice] <target, e.g. kxoPNG> [minutes] [more libFuzzer options]"
jobs=()
nice_build=()
while [ $# -gt 0 ]; do
  case "$1" in
    -j|--jobs)
      [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
      jobs=(-j "$2"); shift 2 ;;
    -j[0-9]*) jobs=(-j "${1#-j}"); shift ;;
    --jobs=*) jobs=(-j "${1#--jobs=}"); shift ;;
    --nice) nice_build=(nice -n 19); shift ;;
    -h|--help) echo "$usage"; exit 0 ;;
    *) break ;;
  esac
done
if [ ${#jobs[@]} -gt 0 ] && ! [[ "${jobs[1]}" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz/run.sh: jobs must be a positive number" >&2
  exit 2
fi
target=${1:?$usage}
minutes=${2:-5}
shift $(( $# < 2 ? $# : 2 ))
. tools/deps.sh
kx_install_packages "${KX_BUILD_PKGS[@]}" "${KX_FUZZ_PKGS[@]}"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_FUZZ=ON -DKX_TESTS=OFF -DKX_FRONTEND=OFF -DKX_BENCH=OFF > /dev/null
${nice_build[@]+"${nice_build[@]}"} cmake --build build/fuzz ${jobs[@]+"${jobs[@]}"} --target kxfuzz
mkdir -p "build/fuzz/corpus/$target" build/fuzz/artifacts
exec "build/fuzz/bin/kxfuzz_$target" -max_total_time=$((minutes * 60)) -timeout=10 -max_len=65536 \
  -rss_limit_mb=4096 -malloc_limit_mb=2049 \
  -artifact_prefix="build/fuzz/artifacts/$target-" "$@" "build/fuzz/corpus/$target" "fuzz/corpus/$target"
