#!/bin/sh
# Times resize 50%, rotate 90 and the flips with kxop against ImageMagick 6,
# libvips and netpbm, each single-threaded, on a 4000 x 3000 24-bit picture,
# and prints our time over theirs (below 1: we are faster) and the peak
# memory of each side.
#   bench/compare_operators.sh [build dir]   (default build/release; needs kxop)
set -eu
. "$(dirname "$0")/compare_lib.sh"
need_kxop "${1:-}"
export MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1
make_work_dir
IN=$work/in.ppm
python3 - "$IN" <<'PY'
import os, sys
w, h = 4000, 3000
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    f.write(os.urandom(w * h * 3))
PY
name_width=14
O=$work/out.ppm
compare "resize 50%" "$KXOP 14 $IN $O NEW_WIDTH=2000 NEW_HEIGHT=1500" ImageMagick "convert-im6.q16 $IN -scale 50% $O"
compare "resize 50%" "$KXOP 14 $IN $O NEW_WIDTH=2000 NEW_HEIGHT=1500" libvips "vips shrink $IN $O 2 2"
compare "resize 50%" "$KXOP 14 $IN $O NEW_WIDTH=2000 NEW_HEIGHT=1500" netpbm "pamscale 0.5 $IN > $O"
compare "rotate 90" "$KXOP 4 $IN $O DEGREES=90" ImageMagick "convert-im6.q16 $IN -rotate -90 $O"
compare "rotate 90" "$KXOP 4 $IN $O DEGREES=90" libvips "vips rot $IN $O d270"
compare "rotate 90" "$KXOP 4 $IN $O DEGREES=90" netpbm "pamflip -r90 $IN > $O"
compare "mirror" "$KXOP 25 $IN $O" ImageMagick "convert-im6.q16 $IN -flop $O"
compare "mirror" "$KXOP 25 $IN $O" libvips "vips flip $IN $O horizontal"
compare "mirror" "$KXOP 25 $IN $O" netpbm "pamflip -lr $IN > $O"
compare "flip" "$KXOP 26 $IN $O" ImageMagick "convert-im6.q16 $IN -flip $O"
compare "flip" "$KXOP 26 $IN $O" libvips "vips flip $IN $O vertical"
compare "flip" "$KXOP 26 $IN $O" netpbm "pamflip -tb $IN > $O"
echo "(whole-program times: reading and writing the PPM included on both sides;
      memory: peak resident set of the largest process)"
