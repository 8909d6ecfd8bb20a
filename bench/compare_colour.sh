#!/bin/sh
# Times Floyd-Steinberg dithering to 256 colours and the 24 to 48 bit
# conversion with kxop against ImageMagick 6 and netpbm, single-threaded,
# on a 4000 x 3000 24-bit picture, and prints our time over theirs (below
# 1: we are faster) and the peak memory of each side. Every side reads the
# same PPM and writes a PPM of the same size.
#   bench/compare_colour.sh [build dir]   (default build/release; needs kxop)
set -eu
. "$(dirname "$0")/compare_lib.sh"
need_kxop "${1:-}"
export MAGICK_THREAD_LIMIT=1
make_work_dir
IN=$work/in.ppm
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
name_width=16
O=$work/out
compare "dither 256 FS" "$KXOP 8 $IN $O.ppm COLORDEPTH=8" ImageMagick "convert-im6.q16 $IN -dither FloydSteinberg -colors 256 $O.ppm"
compare "dither 256 FS" "$KXOP 8 $IN $O.ppm COLORDEPTH=8" netpbm "pnmcolormap 256 $IN > $O.map && pnmremap -floyd -mapfile=$O.map $IN > $O.ppm"
compare "24 to 48 bit" "$KXOP 1 $IN $O.ppm" netpbm "pamdepth 65535 $IN > $O.ppm"
echo "(whole-program times: reading and writing the PNM included on both sides;
      memory: peak resident set of the largest process)"
