#!/usr/bin/env bash
# Runs the same load-and-save conversions of a 6000 x 4000 24-bit picture
# with our library (bench/formats_bench.cpp, Convert/<format>), with
# ImageMagick 6 (one thread) and with netpbm, on the same files, and prints
# our time over theirs (below 1: we are faster). GIF8 is the picture
# reduced to 256 colours; GIF is the 24-bit picture, which we write as a
# mosaic of 16 x 16 tiles and which neither other program writes, so it
# has no comparison. PNG is written at the same zlib level by everyone.
# The last columns are our peak memory for one load and save
# (bench/formats_peak.cpp under /usr/bin/time, start-up subtracted), the
# picture's size, and how far the peak exceeds the picture.
#   bench/compare_formats.sh [build folder, default build/bench]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/compare_lib.sh
build=${1:-build/bench}
if [ ! -x "$build/bin/formats_bench" ] || [ ! -x "$build/bin/formats_peak" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BENCH=ON -DKX_TESTS=OFF -DKX_FRONTEND=OFF > /dev/null
  cmake --build "$build" --target formats_bench formats_peak -j 4 > /dev/null
fi
# The zlib level every PNG writer uses: our default Z_COMPRESSION.
level=6
need_tools convert-im6.q16 bmptoppm ppmtobmp ppmtoppm pnmquant giftopnm ppmtogif pngtopnm pnmtopng /usr/bin/time
export MAGICK_THREAD_LIMIT=1
make_work_dir

# The picture: a gradient with noise, so that no format gets an easy ride.
convert-im6.q16 -size 6000x4000 gradient:red-blue -attenuate 0.3 +noise Gaussian -depth 8 -type TrueColor "$work/picture.ppm"
ppmtobmp -bpp 24 "$work/picture.ppm" > "$work/picture.bmp" 2> /dev/null
pnmtopng -compression $level "$work/picture.ppm" > "$work/picture.png" 2> /dev/null
pnmquant 256 "$work/picture.ppm" 2> /dev/null | ppmtogif > "$work/picture8.gif" 2> /dev/null
"$build/bin/formats_peak" kxoPNM "$work/picture.ppm" kxoGIF "$work/picture.gif" > /dev/null

# Our times: Convert/<format> real time in milliseconds; PNG's load and
# save are also compared on their own (rows PNG-load and PNG-save), since
# netpbm's pipe runs its two halves on two processors.
ours=$(KX_BENCH_DIR="$work" "$build/bin/formats_bench" --benchmark_filter='^(Convert/|Load/PNG|Save/PNG)' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv 2> /dev/null |
  awk -F, '/_median/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); sub(/\/real_time$/, "", $1); sub(/^Convert\//, "", $1); sub(/^Load\/PNG$/, "PNG-load", $1); sub(/^Save\/PNG$/, "PNG-save", $1); print $1, $3 }')

declare -A im=(
  [BMP]="convert-im6.q16 $work/picture.bmp BMP3:$work/im.bmp"
  [PNM]="convert-im6.q16 $work/picture.ppm $work/im.ppm"
  [GIF8]="convert-im6.q16 $work/picture8.gif $work/im8.gif"
  [PNG]="convert-im6.q16 $work/picture.png -quality $((level * 10 + 5)) $work/im.png"
  [PNG-load]="convert-im6.q16 $work/picture.png $work/im-load.ppm"
  [PNG-save]="convert-im6.q16 $work/picture.ppm -quality $((level * 10 + 5)) $work/im-save.png"
)
declare -A np=(
  [BMP]="bmptoppm $work/picture.bmp | ppmtobmp -bpp 24 > $work/np.bmp"
  [PNM]="ppmtoppm < $work/picture.ppm > $work/np.ppm"
  [GIF8]="giftopnm $work/picture8.gif | ppmtogif > $work/np8.gif"
  [PNG]="pngtopnm $work/picture.png | pnmtopng -compression $level > $work/np.png"
  [PNG-load]="pngtopnm $work/picture.png > $work/np-load.ppm"
  [PNG-save]="pnmtopng -compression $level $work/picture.ppm > $work/np-save.png"
)
declare -A cls=([BMP]=kxoBMP [PNM]=kxoPNM [GIF]=kxoGIF [GIF8]=kxoGIF [PNG]=kxoPNG)
declare -A file=([BMP]=picture.bmp [PNM]=picture.ppm [GIF]=picture.gif [GIF8]=picture8.gif [PNG]=picture.png)

# Peak resident memory in KiB of one load and save (start-up included), and
# the picture's size in bytes, as "bytes KiB".
/usr/bin/time -f %M -o "$work/peak" "$build/bin/formats_peak" none
base_kb=$(cat "$work/peak")
peak() {
  /usr/bin/time -f %M -o "$work/peak" "$build/bin/formats_peak" "${cls[$1]}" "$work/${file[$1]}" "${cls[$1]}" "$work/peak-$1" > "$work/bytes"
  echo "$(cat "$work/bytes") $(cat "$work/peak")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-8s %8s %8s %8s %10s %12s %8s %10s %8s\n' format "ours ms" "IM ms" "ours/IM" "netpbm ms" "ours/netpbm" "peak MB" "picture MB" "excess MB"
for f in BMP PNM GIF GIF8 PNG PNG-load PNG-save; do
  o=$(our_ms "$f")
  [ -n "$o" ] || { echo "$f: no result from formats_bench"; continue; }
  t_im=- t_np=- r_im=- r_np=-
  if [ -n "${im[$f]:-}" ]; then t_im=$(time_ms "${im[$f]}"); r_im=$(ratio "$o" "$t_im"); fi
  if [ -n "${np[$f]:-}" ]; then t_np=$(time_ms "${np[$f]}"); r_np=$(ratio "$o" "$t_np"); fi
  peak_mb=- pic_mb=- excess=-
  if [ -n "${cls[$f]:-}" ]; then
    read -r bytes kb <<< "$(peak "$f")"
    peak_mb=$(awk -v k="$kb" -v b="$base_kb" 'BEGIN { printf "%.1f", (k - b) / 1024 }')
    pic_mb=$(awk -v n="$bytes" 'BEGIN { printf "%.1f", n / 1048576 }')
    excess=$(awk -v p="$peak_mb" -v q="$pic_mb" 'BEGIN { printf "%.1f", p - q }')
  fi
  printf '%-8s %8d %8s %8s %10s %12s %8s %10s %8s\n' "$f" "$o" "$t_im" "$r_im" "$t_np" "$r_np" "$peak_mb" "$pic_mb" "$excess"
done
