#!/usr/bin/env bash
# Runs the same load-and-save conversions of a 6000 x 4000 24-bit picture
# with our library (bench/formats_bench.cpp, Convert/<format>), with
# ImageMagick 6 (one thread) and with netpbm, on the same files, and prints
# our time over theirs (below 1: we are faster).
#   bench/compare_formats.sh [build folder, default build/bench]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
if [ ! -x "$build/bin/formats_bench" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BENCH=ON -DKX_TESTS=OFF -DKX_FRONTEND=OFF > /dev/null
  cmake --build "$build" --target formats_bench -j 4 > /dev/null
fi
for tool in convert-im6.q16 bmptoppm ppmtobmp ppmtoppm; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (tools/deps.sh installs it)"; exit 1; }
done
export MAGICK_THREAD_LIMIT=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The picture: a gradient with noise, so that no format gets an easy ride.
convert-im6.q16 -size 6000x4000 gradient:red-blue -attenuate 0.3 +noise Gaussian -depth 8 -type TrueColor "$work/picture.ppm"
ppmtobmp -bpp 24 "$work/picture.ppm" > "$work/picture.bmp" 2> /dev/null

# Median of three runs of a shell command, in milliseconds.
time_ms() {
  local runs=() i s e
  for i in 1 2 3; do
    s=$(date +%s%N); bash -c "$1" > /dev/null 2>&1; e=$(date +%s%N)
    runs+=($(( (e - s) / 1000000 )))
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}

# Our times: Convert/<format> real time in milliseconds.
ours=$(KX_BENCH_DIR="$work" "$build/bin/formats_bench" --benchmark_filter='^Convert/' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv 2> /dev/null |
  awk -F, '/_median/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); sub(/\/real_time$/, "", $1); sub(/^Convert\//, "", $1); print $1, $3 }')

our_ms() { awk -v f="$1" '$1 == f { printf "%d", $2 }' <<< "$ours"; }

declare -A im=(
  [BMP]="convert-im6.q16 $work/picture.bmp BMP3:$work/im.bmp"
  [PNM]="convert-im6.q16 $work/picture.ppm $work/im.ppm"
)
declare -A np=(
  [BMP]="bmptoppm $work/picture.bmp | ppmtobmp -bpp 24 > $work/np.bmp"
  [PNM]="ppmtoppm < $work/picture.ppm > $work/np.ppm"
)

printf '%-6s %10s %14s %10s %12s %10s\n' format "ours ms" "ImageMagick ms" "ours/IM" "netpbm ms" "ours/netpbm"
for f in BMP PNM; do
  o=$(our_ms "$f")
  [ -n "$o" ] || { echo "$f: no result from formats_bench"; continue; }
  t_im=$(time_ms "${im[$f]}")
  t_np=$(time_ms "${np[$f]}")
  printf '%-6s %10d %14d %10.2f %12d %10.2f\n' "$f" "$o" "$t_im" "$(awk -v a="$o" -v b="$t_im" 'BEGIN { print a / b }')" "$t_np" "$(awk -v a="$o" -v b="$t_np" 'BEGIN { print a / b }')"
done
