#!/usr/bin/env bash
# Loads and saves a 4000 x 3000 deep ILBM of 24 planes and of 48 planes with
# our library (bench/iff_bench.cpp, Load/ and Save/ILBM.ByteRun1) and with
# netpbm (ilbmtoppm, ppmtoilbm), on the same files, and prints our time over
# theirs (below 1: we are faster) and the peak memory of both sides. Then
# our own times for RGFX and KGX on the same picture (nothing else reads
# them). netpbm's times include its PPM side (writing it after a load,
# reading it before a save) and its start; ours are the library call alone.
#   bench/compare_iff.sh [build folder, default build/bench]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/compare_lib.sh
build=${1:-build/bench}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BENCH=ON -DKX_TESTS=OFF -DKX_FRONTEND=OFF > /dev/null
fi
cmake --build "$build" --target iff_bench -j 4 > /dev/null
need_tools convert-im6.q16 ppmtoilbm ilbmtoppm /usr/bin/time
export MAGICK_THREAD_LIMIT=1
make_work_dir

# The picture: a gradient with noise, so that ByteRun1 gets no easy ride;
# 8 bits per sample for 24 planes, 16 bits for 48. netpbm writes both
# ILBMs (ByteRun1, its default); we load those very files.
for bits in 8 16; do
  convert-im6.q16 -size 4000x3000 gradient:red-blue -attenuate 0.3 +noise Gaussian -depth "$bits" -type TrueColor "$work/picture$bits.ppm"
done
ppmtoilbm -24force "$work/picture8.ppm" > "$work/picture24.lbm" 2> /dev/null
ppmtoilbm -deepforce -deepbits 16 "$work/picture16.ppm" > "$work/picture48.lbm" 2> /dev/null

# Peak resident memory of a shell command, in MiB.
peak_mib() {
  /usr/bin/time -o "$work/peak" -f %M bash -c "exec $1" > /dev/null 2>&1
  awk '{ printf "%.0f", $1 / 1024 }' "$work/peak"
}

# Our times: <Load|Save>/<format>/<depth> real time in milliseconds.
ours=$(KX_BENCH_DIR="$work" "$build/bin/iff_bench" --benchmark_filter='^(Load|Save)/' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv 2> /dev/null |
  awk -F, '/_median/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); sub(/\/real_time$/, "", $1); print $1, $3 }')

# One load or save alone (a single iteration), for its peak memory.
our_run() { echo "env KX_BENCH_DIR=$work $build/bin/iff_bench --benchmark_filter='^$1/real_time\$' --benchmark_min_time=0.000001"; }

declare -A np=(
  [Load/24]="ilbmtoppm $work/picture24.lbm > $work/np24.ppm"
  [Save/24]="ppmtoilbm -24force $work/picture8.ppm > $work/np24.lbm"
  [Load/48]="ilbmtoppm $work/picture48.lbm > $work/np48.ppm"
  [Save/48]="ppmtoilbm -deepforce -deepbits 16 $work/picture16.ppm > $work/np48.lbm"
)

printf '%-10s %9s %11s %11s %11s %13s\n' ILBM "ours ms" "netpbm ms" ours/netpbm "ours MiB" "netpbm MiB"
for op in Load Save; do
  for depth in 24 48; do
    o=$(our_ms "$op/ILBM.ByteRun1/$depth")
    [ -n "$o" ] || { echo "$op $depth: no result from iff_bench"; continue; }
    t=$(time_ms "${np[$op/$depth]}")
    printf '%-10s %9d %11d %11.2f %11s %13s\n' "$op $depth" "$o" "$t" "$(awk -v a="$o" -v b="$t" 'BEGIN { print a / b }')" \
      "$(peak_mib "$(our_run "$op/ILBM.ByteRun1/$depth")")" "$(peak_mib "${np[$op/$depth]}")"
  done
done

echo
printf '%-14s %11s %11s %11s %11s\n' "ours ms" "load 24" "save 24" "load 48" "save 48"
for f in ILBM.None ILBM.ByteRun1 RGFX.None RGFX.Zip KGX.None KGX.Zlib; do
  printf '%-14s %11s %11s %11s %11s\n' "$f" "$(our_ms "Load/$f/24")" "$(our_ms "Save/$f/24")" "$(our_ms "Load/$f/48")" "$(our_ms "Save/$f/48")"
done
