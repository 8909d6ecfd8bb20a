#!/bin/sh
# Times Floyd-Steinberg dithering to 256 colours and the 24 to 48 bit
# conversion with kxop against ImageMagick 6 and netpbm, single-threaded,
# on a 4000 x 3000 24-bit picture, and prints our time over theirs (below
# 1: we are faster) and the peak memory of each side. Every side reads the
# same PPM and writes a PPM of the same size.
#   bench/compare_colour.sh [build dir]   (default build/release; needs kxop)
set -eu
BUILD=${1:-build/release}
KXOP=$BUILD/bin/kxop
[ -x "$KXOP" ] || { echo "no $KXOP: build with -DCMAKE_BUILD_TYPE=Release first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "no /usr/bin/time: install the package time" >&2; exit 1; }
export MAGICK_THREAD_LIMIT=1
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
IN=$DIR/in.ppm
# A smooth picture with noise: the quantisers see many colours, as in a photograph.
python3 - "$IN" <<'PY'
import random, sys
w, h = 4000, 3000
random.seed(1)
noise = bytes(random.getrandbits(4) for _ in range(4096))
rows = []
for y in range(h):
    g = y * 255 // h
    row = bytearray(w * 3)
    for x in range(w):
        n = noise[(x * 7 + y * 13) & 4095]
        row[3 * x] = (x * 255 // w + n) & 255
        row[3 * x + 1] = (g + n) & 255
        row[3 * x + 2] = ((x + y) * 255 // (w + h) + n) & 255
    rows.append(bytes(row))
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    f.write(b"".join(rows))
PY
now() { date +%s.%N; }
# Wall time of a command, best of three, in milliseconds, and its peak
# resident memory (the largest of its processes, highest of the runs) in
# MB, left in $ms and $mb.
best() {
    ms=""; kb=0
    for i in 1 2 3; do
        t0=$(now); /usr/bin/time -f %M -o "$DIR/mem" sh -c "$1" >/dev/null 2>&1; t1=$(now)
        t=$(echo "($t1 - $t0) * 1000" | bc -l)
        if [ -z "$ms" ] || [ "$(echo "$t < $ms" | bc -l)" = 1 ]; then ms=$t; fi
        k=$(tail -n 1 "$DIR/mem")
        [ "$k" -gt "$kb" ] && kb=$k
    done
    mb=$(echo "$kb / 1024" | bc -l)
}
compare() {  # name, our command, tool name, tool command
    best "$2"; ours=$ms; ourmb=$mb
    best "$4"; theirs=$ms; theirmb=$mb
    printf "%-16s %-12s ours %8.1f ms %6.1f MB  theirs %8.1f ms %6.1f MB  ratio %5.2f\n" "$1" "$3" "$ours" "$ourmb" "$theirs" "$theirmb" \
        "$(echo "$ours / $theirs" | bc -l)"
}
O=$DIR/out
compare "dither 256 FS" "$KXOP 8 $IN $O.ppm COLORDEPTH=8" ImageMagick "convert-im6.q16 $IN -dither FloydSteinberg -colors 256 $O.ppm"
compare "dither 256 FS" "$KXOP 8 $IN $O.ppm COLORDEPTH=8" netpbm "pnmcolormap 256 $IN > $O.map && pnmremap -floyd -mapfile=$O.map $IN > $O.ppm"
compare "24 to 48 bit" "$KXOP 1 $IN $O.ppm" netpbm "pamdepth 65535 $IN > $O.ppm"
echo "(whole-program times: reading and writing the PNM included on both sides;
      memory: peak resident set of the largest process)"
