#!/usr/bin/env bash
# compare: times the same work done by our library (tools/kxop, one whole
# process per run: load through the catalogue's readers, the operator, save
# through its writers) and by ImageMagick 6, netpbm and libvips, and prints
# one table. Every row gives each program the same input file and asks for
# the same output format with the same settings.
#   bench/compare.sh [build folder] [row pattern]
#     build folder   default build/release; configured and built when it has
#                    no kxop yet
#     row pattern    an extended regular expression: only the rows whose
#                    name matches are run (default: all)
#   RUNS=n     runs of every command (default 5); the median is printed
#   CORE=n     the processor that every single-threaded run is pinned to
#              (default 1)
#   LOOP=n     loads of one small screen timed in one row (default 50)
#   CLOCK=cpu  the single-threaded times are the processor time (user +
#              system) of the command and its children instead of the
#              wall-clock time: steadier on a machine busy with other work,
#              but blind to waiting. The -n columns stay wall-clock.
# Single-threaded runs: each command pinned to one processor with taskset,
# ImageMagick with MAGICK_THREAD_LIMIT=1, libvips with VIPS_CONCURRENCY=1.
# The last columns run ours, ImageMagick and libvips again unpinned, each at
# its own thread count, and compare wall-clock with wall-clock: the
# comparison a user makes. Runs are interleaved, one
# round of every command after another, so that drifts hit all sides alike.
# Memory: the peak resident set of the largest process of a command
# (/usr/bin/time -f %M), the highest of the runs.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
pattern=${2:-.}
RUNS=${RUNS:-5}
CORE=${CORE:-1}
CLOCK=${CLOCK:-wall}
WIDTH=6000 HEIGHT=4000
# The zlib settings of every PNG writer. libpng's own default strategy,
# which ImageMagick's defaults, netpbm and libvips use, is Z_FILTERED; our
# writer's default is Z_DEFAULT_STRATEGY, so it is set here.
PNG_LEVEL=6 PNG_STRATEGY=1

die() { echo "compare.sh: $*" >&2; exit 1; }
for tool in convert-im6.q16 vips taskset file bmptoppm ppmtobmp ppmtoppm pngtopnm pnmtopng giftopnm ppmtogif pnmquant \
  pnmcolormap pnmremap ilbmtoppm ppmtoilbm pamflip pamscale pnmrotate pamdepth cjpeg djpeg tifftopnm tiffcp pnmtotiff \
  pnminvert pnmgamma pamchannel pamtopnm ppmtopgm ppmhist pamditherbw pngtopam pamcomp pnmconvol pamoil \
  opj_compress opj_decompress pbmtomacp macptopbm pbmtogem gemtopnm ppmtopi1 pi1toppm python3 \
  pnmtosgi sgitopnm pnmtorast rasttopnm mtvtoppm qrttoppm tgatoppm ppmtotga pcxtoppm ppmtopcx pamtopam pamtopfm pfmtopam \
  ppmtoneo neotoppm pnmtoxwd xwdtopnm pbmtoxbm xbmtopbm ppmtoxpm xpmtoppm; do
  command -v "$tool" > /dev/null || die "$tool is missing (tools/deps.sh installs it)"
done
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (package time)"
[ "$(stat -f -c %T /dev/shm 2> /dev/null)" = tmpfs ] || die "/dev/shm is not a tmpfs"
[ "$RUNS" -ge 1 ] 2> /dev/null || die "RUNS must be a positive number"
[ "$CLOCK" = wall ] || [ "$CLOCK" = cpu ] || die "CLOCK is wall or cpu"
if [ ! -x "$build/bin/kxop" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF -DKX_TESTS=OFF -DKX_BENCH=ON \
    -DKX_FRONTEND=OFF > /dev/null
  cmake --build "$build" --target kxop > /dev/null
fi
KXOP=$(realpath "$build/bin/kxop")

work=$(mktemp -d /dev/shm/kxcompare.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset MAGICK_THREAD_LIMIT VIPS_CONCURRENCY

# ---- the pictures --------------------------------------------------------
# A gradient with noise, so that no format and no quantiser gets an easy
# ride; every other input is made from it by netpbm, so that our readers
# read other programs' files.
echo "Making the ${WIDTH}x${HEIGHT} pictures in $work ..." >&2
P=$work/picture
convert-im6.q16 -size ${WIDTH}x${HEIGHT} gradient:red-blue -attenuate 0.3 +noise Gaussian -depth 8 -type TrueColor "$P.ppm"
convert-im6.q16 -size ${WIDTH}x${HEIGHT} gradient:red-blue -attenuate 0.3 +noise Gaussian -depth 16 -type TrueColor "${P}16.ppm"
ppmtobmp -bpp 24 "$P.ppm" > "$P.bmp" 2> /dev/null
pnmtopng -compression $PNG_LEVEL "$P.ppm" > "$P.png" 2> /dev/null
pnmquant 256 "$P.ppm" > "${P}8.ppm" 2> /dev/null
ppmtogif "${P}8.ppm" > "${P}8.gif" 2> /dev/null
ppmtobmp "${P}8.ppm" > "${P}8.bmp" 2> /dev/null
ppmtoilbm -24force "$P.ppm" > "${P}24.lbm" 2> /dev/null
ppmtoilbm -deepforce -deepbits 16 "${P}16.ppm" > "${P}48.lbm" 2> /dev/null
ppmtoilbm -rgb8 "$P.ppm" > "$P.rg8" 2> /dev/null
# netpbm writes no PBM (chunky IFF); ours is made from netpbm's 256-colour picture.
"$KXOP" -f kxoPBM -s CmpByteRun1 - "${P}8.bmp" "${P}8.pbm" > /dev/null

# The free rotation: ours turns about the centre into the bounding square of
# every turn (side trunc(sqrt(w^2 + h^2) + 2)), nearest pixel. ImageMagick
# and libvips are given the same output area and nearest-pixel sampling;
# netpbm's pnmrotate (counter-clockwise angles) has no such choice and
# writes the turned picture's bounding box.
ANGLE=17
read -r SIDE COS SIN <<< "$(awk -v w=$WIDTH -v h=$HEIGHT -v a=$ANGLE 'BEGIN {
  r = a * atan2(0, -1) / 180; printf "%d %.12f %.12f", int(sqrt(w * w + h * h) + 2), cos(r), sin(r) }')"
OFFX=$(( (SIDE - WIDTH) / 2 )) OFFY=$(( (SIDE - HEIGHT) / 2 ))
read -r VLEFT VTOP <<< "$(awk -v w=$WIDTH -v h=$HEIGHT -v c="$COS" -v s="$SIN" -v ox=$OFFX -v oy=$OFFY 'BEGIN {
  cx = int(w / 2); cy = int(h / 2); x = cx * c - cy * s - (ox + cx); y = cx * s + cy * c - (oy + cy)
  printf "%d %d", (x < 0 ? x - 0.5 : x + 0.5), (y < 0 ? y - 0.5 : y + 0.5) }')"

IM=convert-im6.q16
IM_PNG="-define png:compression-level=$PNG_LEVEL -define png:compression-strategy=$PNG_STRATEGY -define png:compression-filter=5"
NP_PNG="-compression $PNG_LEVEL -comp_strategy filtered"
VIPS_PNG="[compression=$PNG_LEVEL,filter=all]"
KX_PNG="-w Z_COMPRESSION=$PNG_LEVEL -w Z_STRATEGY=$PNG_STRATEGY"

# ---- running -------------------------------------------------------------
# One run of a shell command; pinned (1) or at the program's own thread
# count (0). Leaves its time in ms in $ms (wall-clock, or user + system of a
# pinned run with CLOCK=cpu) and its peak memory in KiB in $kb; false when
# the command failed (its messages are in $work/err).
run() {
  local t0 t1 user sys
  t0=$EPOCHREALTIME
  if [ "$1" = 1 ]; then
    MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1 taskset -c "$CORE" /usr/bin/time -f '%U %S %M' -o "$work/mem" sh -c "$2" \
      > /dev/null 2> "$work/err" || return 1
  else
    /usr/bin/time -f '%U %S %M' -o "$work/mem" sh -c "$2" > /dev/null 2> "$work/err" || return 1
  fi
  t1=$EPOCHREALTIME
  read -r user sys kb < <(tail -n 1 "$work/mem")
  if [ "$CLOCK" = cpu ] && [ "$1" = 1 ]; then
    ms=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1000 + 0.5 }')
  else
    ms=$(( (${t1/./} - ${t0/./}) / 1000 ))
  fi
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
# "W x H" of a picture file, as file(1) reads its header.
# The picture size file(1) reports; empty for formats it reads no size from (RGB8).
size_of() { file -b "$1" | { grep -o '[0-9]\+ x [0-9]\+' || true; } | head -n 1; }

read -r load _ < /proc/loadavg
if awk -v l="$load" 'BEGIN { exit !(l > 1.5) }'; then
  echo "warning: load average $load: other work is running, so the times are unsteady" \
    "$([ "$CLOCK" = wall ] && echo "(CLOCK=cpu counts processor time instead)")" >&2
fi

# The sides of a row: ours and the peers pinned to one processor, then
# ImageMagick, libvips and ours at their own thread counts.
sides=(ours IM netpbm vips IM-n vips-n ours-n)
pinned=(1 1 1 1 0 0 0)
notes=()
line() { printf '%-16s %7s %5s %8s %5s %8s %5s %8s %5s  %-8s %5s %5s  %7s %7s %7s %5s\n' "$@"; }
line "" ours "" IM-1 "" netpbm "" vips-1 "" fastest time mem IM-n vips-n ours-n time
line operation ms MB ms MB ms MB ms MB 1-thread ratio ratio ms ms ms ratio

# The index of the smallest of the medians at the given indexes, or "".
fastest_of() {
  local best="" i
  for i in "$@"; do
    [ -n "${med[i]}" ] || continue
    if [ -z "$best" ] || [ "${med[i]}" -lt "${med[best]}" ]; then best=$i; fi
  done
  echo "$best"
}

# row NAME EXT OURS IM NETPBM VIPS: one line of the table. Each command
# writes @OUT@, a file of its own with extension EXT; an empty command means
# that the program cannot do this work. OURS, IM and VIPS also run unpinned.
row() {
  local name=$1 ext=$2
  [[ $name =~ $pattern ]] || return 0
  local -a cmds=("$3" "$4" "$5" "$6" "$4" "$6" "$3") times kbs outs failed med cell
  local i r
  for i in "${!sides[@]}"; do
    times[i]="" kbs[i]=0 failed[i]="" outs[i]=$work/out-${sides[i]}.$ext
  done
  for ((r = 0; r < RUNS; r++)); do
    for i in "${!sides[@]}"; do
      if [ -z "${cmds[i]}" ] || [ -n "${failed[i]}" ]; then continue; fi
      rm -f "${outs[i]}"
      if run "${pinned[i]}" "${cmds[i]//@OUT@/${outs[i]}}"; then
        times[i]="${times[i]} $ms"
        if [ "$kb" -gt "${kbs[i]}" ]; then kbs[i]=$kb; fi
      else
        failed[i]=1
        notes+=("$name: ${sides[i]} failed: $(head -n 1 "$work/err")")
      fi
    done
  done
  for i in "${!sides[@]}"; do
    med[i]="" cell[i]=-
    if [ -n "${failed[i]}" ]; then
      cell[i]=fail
    elif [ -n "${cmds[i]}" ]; then
      # shellcheck disable=SC2086  # one argument per run
      med[i]=$(median ${times[i]})
      cell[i]=${med[i]}
    fi
  done
  local best nbest tr=- mr=- nr=- fastest=-
  best=$(fastest_of 1 2 3)
  nbest=$(fastest_of 4 5)
  if [ -n "${med[0]}" ] && [ -n "$best" ]; then
    fastest=${sides[best]} tr=$(ratio "${med[0]}" "${med[best]}") mr=$(ratio "${kbs[0]}" "${kbs[best]}")
  fi
  # Wall-clock against wall-clock: ours unpinned over the faster peer unpinned.
  if [ -n "${med[6]}" ] && [ -n "$nbest" ]; then nr=$(ratio "${med[6]}" "${med[nbest]}"); fi
  local -a mem
  for i in 0 1 2 3; do mem[i]=$([ -n "${med[i]}" ] && mb "${kbs[i]}" || echo -); done
  line "$name" "${cell[0]}" "${mem[0]}" "${cell[1]}" "${mem[1]}" "${cell[2]}" "${mem[2]}" "${cell[3]}" "${mem[3]}" \
    "$fastest" "$tr" "$mr" "${cell[4]}" "${cell[5]}" "${cell[6]}" "$nr"
  # Same work: every peer's picture has the size of ours.
  if [ -n "${med[0]}" ]; then
    local want got
    want=$(size_of "${outs[0]}")
    for i in 1 2 3; do
      [ -n "${med[i]}" ] || continue
      got=$(size_of "${outs[i]}")
      [ "$got" = "$want" ] || notes+=("$name: ${sides[i]} writes $got, ours $want")
    done
  fi
  rm -f "$work"/out-*
}

# ---- the rows --------------------------------------------------------------
# Conversions: the same file in, the same format out.
row "BMP 24 convert" bmp "$KXOP - $P.bmp @OUT@" "$IM $P.bmp BMP3:@OUT@" \
  "bmptoppm $P.bmp | ppmtobmp -bpp 24 > @OUT@" ""
row "PNM convert" ppm "$KXOP - $P.ppm @OUT@" "$IM $P.ppm @OUT@" "ppmtoppm < $P.ppm > @OUT@" "vips copy $P.ppm @OUT@"
row "PNG convert" png "$KXOP $KX_PNG - $P.png @OUT@" "$IM $P.png $IM_PNG @OUT@" \
  "pngtopnm $P.png | pnmtopng $NP_PNG > @OUT@" "vips copy $P.png @OUT@$VIPS_PNG"
row "PNG load" ppm "$KXOP - $P.png @OUT@" "$IM $P.png @OUT@" "pngtopnm $P.png > @OUT@" "vips copy $P.png @OUT@"
row "PNG save" png "$KXOP $KX_PNG - $P.ppm @OUT@" "$IM $P.ppm $IM_PNG @OUT@" "pnmtopng $NP_PNG $P.ppm > @OUT@" \
  "vips copy $P.ppm @OUT@$VIPS_PNG"
# GIF: a 256-colour picture. libvips reads GIF but quantises anew on
# saving, which is other work.
row "GIF 256 convert" gif "$KXOP - ${P}8.gif @OUT@" "$IM ${P}8.gif @OUT@" "giftopnm ${P}8.gif | ppmtogif > @OUT@" ""
row "GIF 256 load" ppm "$KXOP - ${P}8.gif @OUT@" "$IM ${P}8.gif @OUT@" "giftopnm ${P}8.gif > @OUT@" "vips copy ${P}8.gif @OUT@"
row "GIF 256 save" gif "$KXOP - ${P}8.bmp @OUT@" "$IM ${P}8.bmp @OUT@" "bmptoppm ${P}8.bmp | ppmtogif > @OUT@" ""
# ILBM with 24 and 48 planes, ByteRun1 as netpbm writes it.
row "ILBM 24 load" ppm "$KXOP - ${P}24.lbm @OUT@" "" "ilbmtoppm ${P}24.lbm > @OUT@" ""
row "ILBM 24 save" lbm "$KXOP -f kxoILBM -s CmpByteRun1 - $P.ppm @OUT@" "" "ppmtoilbm -24force $P.ppm > @OUT@" ""
row "ILBM 48 load" ppm "$KXOP - ${P}48.lbm @OUT@" "" "ilbmtoppm ${P}48.lbm > @OUT@" ""
row "ILBM 48 save" lbm "$KXOP -f kxoILBM -s CmpByteRun1 - ${P}16.ppm @OUT@" "" \
  "ppmtoilbm -deepforce -deepbits 16 ${P}16.ppm > @OUT@" ""
# RGB8 (run-length records) as netpbm writes it; PBM read by both.
row "RGB8 load" ppm "$KXOP - $P.rg8 @OUT@" "" "ilbmtoppm $P.rg8 > @OUT@" ""
row "RGB8 save" rg8 "$KXOP -f kxoRGB8 - $P.ppm @OUT@" "" "ppmtoilbm -rgb8 $P.ppm > @OUT@" ""
row "PBM 256 load" ppm "$KXOP - ${P}8.pbm @OUT@" "" "ilbmtoppm ${P}8.pbm > @OUT@" ""
# JPEG, quality 90, 4:4:4 and 4:2:0 files made by cjpeg. The netpbm column
# holds libjpeg-turbo's own djpeg and cjpeg. Every side decodes and encodes
# with the fast integer DCT (our default) but libvips, which has no such
# choice (accurate DCT). Our writer has no sampling key: saves are 4:2:0.
cjpeg -quality 90 -sample 1x1 "$P.ppm" > "${P}444.jpg"
cjpeg -quality 90 "$P.ppm" > "${P}420.jpg"
IM_JPEG="-define jpeg:dct-method=fast"
for s in 444 420; do
  row "JPEG $s load" ppm "$KXOP - ${P}$s.jpg @OUT@" "$IM $IM_JPEG ${P}$s.jpg @OUT@" "djpeg -dct fast ${P}$s.jpg > @OUT@" \
    "vips copy ${P}$s.jpg @OUT@"
done
row "JPEG 420 save" jpg "$KXOP -f kxoJFIF -w QUANTIZATION=90 - $P.ppm @OUT@" \
  "$IM $P.ppm $IM_JPEG -quality 90 -sampling-factor 2x2 @OUT@" "cjpeg -quality 90 -dct fast $P.ppm > @OUT@" \
  "vips copy $P.ppm @OUT@[Q=90]"
# TIFF: 24-bit RGB in one strip of all rows, uncompressed, LZW and Deflate
# (zlib level 6), made by netpbm and tiffcp. Our writer writes no LZW.
pnmtotiff -truecolor -none "$P.ppm" > "${P}none.tif" 2> /dev/null
tiffcp -c lzw -r $HEIGHT "${P}none.tif" "${P}lzw.tif"
tiffcp -c zip -r $HEIGHT "${P}none.tif" "${P}zip.tif"
for c in none lzw zip; do
  row "TIFF $c load" ppm "$KXOP - ${P}$c.tif @OUT@" "$IM ${P}$c.tif @OUT@" "tifftopnm -byrow ${P}$c.tif > @OUT@" \
    "vips copy ${P}$c.tif @OUT@"
done
row "TIFF none save" tif "$KXOP -f kxoTIFF - $P.ppm @OUT@" "$IM $P.ppm -compress none @OUT@" \
  "pnmtotiff -truecolor -none $P.ppm > @OUT@" "vips copy $P.ppm @OUT@[compression=none]"
row "TIFF zip save" tif "$KXOP -f kxoTIFF -w WRITE_DEFLATE=ON -w Z_COMPRESSION=6 - $P.ppm @OUT@" \
  "$IM $P.ppm -compress zip -quality 60 @OUT@" "pnmtotiff -truecolor -flate $P.ppm > @OUT@" \
  "vips copy $P.ppm @OUT@[compression=deflate,level=6]"
# JPEG 2000 and lossless JPEG on a 4000x3000 part of the picture. JP2 is
# lossless with one layer and six resolution levels on every side (the
# default of ImageMagick, opj_compress and libvips' lossless mode); the
# netpbm column holds OpenJPEG's own opj_compress and opj_decompress, one
# thread. No other program here reads or writes lossless JPEG (SOF3).
convert-im6.q16 "$P.ppm" -crop 4000x3000+0+0 +repage "${P}43.ppm"
opj_compress -i "${P}43.ppm" -o "${P}43.jp2" > /dev/null
"$KXOP" -f kxoLJPG - "${P}43.ppm" "${P}43.jls" > /dev/null
row "JP2 load" ppm "$KXOP - ${P}43.jp2 @OUT@" "$IM ${P}43.jp2 @OUT@" "opj_decompress -threads 1 -i ${P}43.jp2 -o @OUT@" \
  "vips copy ${P}43.jp2 @OUT@"
row "JP2 save" jp2 "$KXOP -f kxoJPEG2000 - ${P}43.ppm @OUT@" "$IM ${P}43.ppm @OUT@" \
  "opj_compress -threads 1 -i ${P}43.ppm -o @OUT@" "vips copy ${P}43.ppm @OUT@[lossless]"
row "LJPG load" ppm "$KXOP - ${P}43.jls @OUT@" "" "" ""
row "LJPG save" jls "$KXOP -f kxoLJPG - ${P}43.ppm @OUT@" "" "" ""
# MacPaint, GEM IMG, Degas, Microsoft Paint, Dr. Halo CUT and PlayStation
# TIM. Saves of the 4000 x 3000 picture: MacPaint stretches a 256-colour one
# to 576 x 720 and dithers it along a Hilbert curve (netpbm: pamscale,
# pamditherbw -hilbert, pbmtomacp); GEM writes one plane (netpbm:
# pbmtogem) and 24 planes (ours alone). Loads of each format's largest
# natural picture; the fixed-size screens (MacPaint 576 x 720, Degas 320 x
# 200) twenty times a command (netpbm writes its one-bit pictures as PBM,
# ours as PGM). No program here writes CUT, TIM or MSP version 2: a short
# script codes them from the same pictures.
R=$work/retro
pnmquant 256 "${P}43.ppm" > "${R}8.ppm" 2> /dev/null
ppmtobmp "${R}8.ppm" > "${R}8.bmp" 2> /dev/null
ppmtopgm "${P}43.ppm" | pamditherbw -hilbert 2> /dev/null | pamtopnm > "${R}1.pbm"
# gemtopnm refuses the runs pbmtogem writes at this width (past a row's
# end), so both sides load our own one-plane file.
"$KXOP" -f kxoIMG -s 2 - "${R}1.pbm" "${R}1.img" > /dev/null
pamscale -width 576 -height 720 "$P.ppm" 2> /dev/null | ppmtopgm | pamditherbw -hilbert 2> /dev/null | pamtopnm |
  pbmtomacp > "$R.mac" 2> /dev/null
# ImageMagick reads MacPaint only behind a MacBinary header (the type "PNTG" at 65).
{ printf '\0\7picture'; head -c 56 /dev/zero; printf 'PNTGMPNT'; head -c 55 /dev/zero; cat "$R.mac"; } > "${R}bin.mac"
pamscale -width 320 -height 200 "$P.ppm" 2> /dev/null | pnmquant 16 2> /dev/null | ppmtopi1 > "$R.pi1" 2> /dev/null
python3 - "${R}8.ppm" "${P}43.ppm" "${R}1.pbm" "$R" << 'EOF_PY'
import re, struct, sys
def pnm(path):
    d = open(path, 'rb').read()
    t = re.match(rb'(P[456])\s+(\d+)\s+(\d+)\s+(?:(\d+)\s)?', d)
    return t.group(1), int(t.group(2)), int(t.group(3)), d[t.end():]
def runs(row, longest, run, literal):
    # Runs of three or more equal bytes, the rest as literals.
    out, i = [], 0
    for m in re.finditer(rb'(.)\1{2,}', row, re.S):
        while i < m.start():
            n = min(longest, m.start() - i); out.append(literal(row[i:i + n])); i += n
        while i < m.end():
            n = min(longest, m.end() - i); out.append(run(n, row[i:i + 1]) if n >= 3 else literal(row[i:i + n])); i += n
    while i < len(row):
        n = min(longest, len(row) - i); out.append(literal(row[i:i + n])); i += n
    return b''.join(out)
_, w, h, px = pnm(sys.argv[1])
colours = {}
idx = bytes(colours.setdefault(px[i:i + 3], len(colours)) for i in range(0, len(px), 3))
with open(sys.argv[4] + '.cut', 'wb') as f:
    f.write(struct.pack('<3H', w, h, 0))
    for y in range(h):
        r = runs(idx[y * w:(y + 1) * w], 127, lambda n, v: bytes([0x80 | n]) + v, lambda b: bytes([len(b)]) + b) + b'\0'
        f.write(struct.pack('<H', len(r)) + r)
# Entries of three 16-bit words (type 10), the kind ImageMagick reads.
pal = bytearray(b'AH' + struct.pack('<HHBBHHH3H', 0, 0, 10, 0, 0, 0, len(colours) - 1, 255, 255, 255)).ljust(40, b' ')
for c in sorted(colours, key=colours.get):
    if 512 - len(pal) % 512 < 6: pal += bytes(512 - len(pal) % 512)
    pal += struct.pack('<3H', *c)
open(sys.argv[4] + '.PAL', 'wb').write(pal)
_, w, h, px = pnm(sys.argv[2])
with open(sys.argv[4] + '.tim', 'wb') as f:
    f.write(struct.pack('<II', 0x10, 3) + struct.pack('<I4H', 12 + len(px), 0, 0, w * 3 // 2, h) + px)
_, w, h, bits = pnm(sys.argv[3])
bpr = (w + 7) // 8
bits = bytes(b ^ 0xFF for b in bits)  # a set bit is white
rows = [runs(bits[y * bpr:(y + 1) * bpr], 255, lambda n, v: b'\0' + bytes([n]) + v, lambda b: bytes([len(b)]) + b) for y in range(h)]
head = struct.pack('<4s10H', b'LinS', w, h, 1, 1, 1, 1, w, h, 0, 0).ljust(32, b'\0')
open(sys.argv[4] + '.msp', 'wb').write(head + b''.join(struct.pack('<H', len(r)) for r in rows) + b''.join(rows))
EOF_PY
kx_times() { echo "for kx_i in \$(seq 20); do $1 || exit 1; done"; }
row "MAC load x20" pgm "$(kx_times "$KXOP - ${R}bin.mac @OUT@")" "$(kx_times "$IM ${R}bin.mac @OUT@")" \
  "$(kx_times "macptopbm ${R}bin.mac > @OUT@")" ""
row "MAC save" mac "$KXOP - ${R}8.bmp @OUT@" "" \
  "bmptoppm ${R}8.bmp | pamscale -width 576 -height 720 | ppmtopgm | pamditherbw -hilbert | pamtopnm | pbmtomacp > @OUT@" ""
row "IMG 1 load" pgm "$KXOP - ${R}1.img @OUT@" "" "gemtopnm ${R}1.img > @OUT@" ""
row "IMG 1 save" img "$KXOP -f kxoIMG -s 2 - ${R}1.pbm @OUT@" "" "pbmtogem ${R}1.pbm > @OUT@" ""
row "IMG 24 save" img "$KXOP -f kxoIMG -s 2 - ${P}43.ppm @OUT@" "" "" ""
row "Degas load x20" ppm "$(kx_times "$KXOP - $R.pi1 @OUT@")" "" "$(kx_times "pi1toppm $R.pi1 > @OUT@")" ""
row "MSP 2 load" pgm "$KXOP - $R.msp @OUT@" "" "" ""
row "CUT load" ppm "$KXOP - $R.cut @OUT@" "$IM $R.cut @OUT@" "" ""
row "TIM 24 load" ppm "$KXOP - $R.tim @OUT@" "$IM $R.tim @OUT@" "" ""
# SGI, Sun raster, MTV, QRT, FBM, Scitex CT, Pixar and CVP. Loads of the
# 4000 x 3000 picture as the format's usual writer leaves it (pnmtosgi's
# run-length file, pnmtorast's standard type, ImageMagick's MTV; ours for
# QRT and FBM, which no program here writes; a short script codes Scitex
# CT, Pixar and the 512 x 512 CVP, this one twenty times a command); saves
# of the same picture beside the writers that exist: uncompressed SGI,
# Sun raster (pnmtorast writes B, G, R, ours and ImageMagick R, G, B), MTV.
W=$work/workstation
pnmtosgi -rle "${P}43.ppm" > "$W.sgi" 2> /dev/null
pnmtorast -standard "${P}43.ppm" > "$W.ras" 2> /dev/null
convert-im6.q16 "${P}43.ppm" "mtv:$W.mtv"
"$KXOP" -f kxoQRT - "${P}43.ppm" "$W.qrt" > /dev/null
"$KXOP" -f kxoFBM - "${P}43.ppm" "$W.fbm" > /dev/null
pamscale -width 512 -height 512 "$P.ppm" > "${W}512.ppm" 2> /dev/null
python3 - "${P}43.ppm" "${W}512.ppm" "$W" << 'EOF_PY'
import re, struct, sys
def ppm(path):
    d = open(path, 'rb').read()
    t = re.match(rb'P6\s+(\d+)\s+(\d+)\s+\d+\s', d)
    return int(t.group(1)), int(t.group(2)), d[t.end():]
w, h, px = ppm(sys.argv[1])
ct = bytearray(2048)
ct[80:82] = b'CT'
ct[1024:1028] = bytes([1, 3, 0, 7])
ct[1028:1056] = b'+.10000000e+01' * 2
ct[1056:1080] = b'%+012d%+012d' % (h, w)
with open(sys.argv[3] + '.ct', 'wb') as f:
    f.write(ct)
    for y in range(h):
        row = px[3 * w * y:3 * w * (y + 1)]
        f.write(row[0::3] + row[1::3] + row[2::3])
pxr = bytearray(1024)
pxr[0:4] = b'\x80\xe8\x00\x00'
struct.pack_into('<4H', pxr, 416, h, w, 0, 0)
struct.pack_into('<2H', pxr, 424, 14, 2)
open(sys.argv[3] + '.pxr', 'wb').write(bytes(pxr) + px)
w, h, px = ppm(sys.argv[2])
open(sys.argv[3] + '.cvp', 'wb').write(px[0::3] + px[1::3] + px[2::3])
EOF_PY
row "SGI load" ppm "$KXOP - $W.sgi @OUT@" "$IM $W.sgi @OUT@" "sgitopnm $W.sgi > @OUT@" ""
row "SGI save" sgi "$KXOP -f kxoSGI - ${P}43.ppm @OUT@" "$IM ${P}43.ppm -compress none SGI:@OUT@" \
  "pnmtosgi -verbatim ${P}43.ppm > @OUT@" ""
row "RAS load" ppm "$KXOP - $W.ras @OUT@" "$IM $W.ras @OUT@" "rasttopnm $W.ras > @OUT@" ""
row "RAS save" ras "$KXOP -f kxoRAS - ${P}43.ppm @OUT@" "$IM ${P}43.ppm SUN:@OUT@" "pnmtorast -standard ${P}43.ppm > @OUT@" ""
row "MTV load" ppm "$KXOP - $W.mtv @OUT@" "$IM mtv:$W.mtv @OUT@" "mtvtoppm $W.mtv > @OUT@" ""
row "MTV save" mtv "$KXOP -f kxoMTV - ${P}43.ppm @OUT@" "$IM ${P}43.ppm mtv:@OUT@" "" ""
row "QRT load" ppm "$KXOP - $W.qrt @OUT@" "" "qrttoppm $W.qrt > @OUT@" ""
row "QRT save" qrt "$KXOP -f kxoQRT - ${P}43.ppm @OUT@" "" "" ""
row "FBM load" ppm "$KXOP - $W.fbm @OUT@" "" "" ""
row "FBM save" fbm "$KXOP -f kxoFBM - ${P}43.ppm @OUT@" "" "" ""
row "CT load" ppm "$KXOP - $W.ct @OUT@" "$IM sct:$W.ct @OUT@" "" ""
row "Pixar load" ppm "$KXOP - $W.pxr @OUT@" "" "" ""
row "CVP load x20" ppm "$(kx_times "$KXOP - $W.cvp @OUT@")" "" "" ""

# TGA, PCX, Photoshop, PICT, Radiance HDR, DDS, PAM and PFM: loads of the
# picture as another program writes it (netpbm where it writes the format,
# else ImageMagick), saves beside every peer that writes the format. TGA
# and DDS uncompressed; PCX with three planes of run-length rows; Photoshop
# with run-length channels; PICT with packed rows. HDR and PFM hold floats:
# the loads write 8-bit PPM on every side, the saves read the 8-bit PPM.
O=$work/other
ppmtotga -rgb -norle "$P.ppm" > "$O.tga" 2> /dev/null
ppmtopcx -24bit "$P.ppm" > "$O.pcx" 2> /dev/null
convert-im6.q16 "$P.ppm" -compress RLE "$O.psd"
convert-im6.q16 "$P.ppm" "PICT:$O.pct"
convert-im6.q16 "$P.ppm" "$O.hdr"
convert-im6.q16 "$P.ppm" -define dds:compression=none -define dds:mipmaps=0 "$O.dds"
pamtopam < "$P.ppm" > "$O.pam"
pamtopfm "$P.ppm" > "$O.pfm" 2> /dev/null
row "TGA load" ppm "$KXOP - $O.tga @OUT@" "$IM $O.tga @OUT@" "tgatoppm $O.tga > @OUT@" ""
row "TGA save" tga "$KXOP -f kxoTGA - $P.ppm @OUT@" "$IM $P.ppm -compress none TGA:@OUT@" \
  "ppmtotga -rgb -norle $P.ppm > @OUT@" ""
row "PCX load" ppm "$KXOP - $O.pcx @OUT@" "$IM $O.pcx @OUT@" "pcxtoppm $O.pcx > @OUT@" ""
row "PCX save" pcx "$KXOP -f kxoPCX - $P.ppm @OUT@" "$IM $P.ppm PCX:@OUT@" "ppmtopcx -24bit $P.ppm > @OUT@" ""
row "PSD load" ppm "$KXOP - $O.psd @OUT@" "$IM $O.psd[0] @OUT@" "" ""
row "PSD save" psd "$KXOP -f kxoPSD - $P.ppm @OUT@" "$IM $P.ppm -compress RLE PSD:@OUT@" "" ""
row "PICT load" ppm "$KXOP - $O.pct @OUT@" "$IM PICT:$O.pct @OUT@" "" ""
row "PICT save" pct "$KXOP -f kxoPICT - $P.ppm @OUT@" "$IM $P.ppm PICT:@OUT@" "" ""
row "HDR load" ppm "$KXOP - $O.hdr @OUT@" "$IM $O.hdr -depth 8 @OUT@" "" ""
row "HDR save" hdr "$KXOP -f kxoHDR - $P.ppm @OUT@" "$IM $P.ppm @OUT@" "" ""
row "DDS load" ppm "$KXOP - $O.dds @OUT@" "$IM $O.dds @OUT@" "" ""
row "DDS save" dds "$KXOP -f kxoDDS - $P.ppm @OUT@" \
  "$IM $P.ppm -define dds:compression=none -define dds:mipmaps=0 @OUT@" "" ""
row "PAM load" ppm "$KXOP - $O.pam @OUT@" "$IM $O.pam @OUT@" "pamtopnm $O.pam > @OUT@" ""
row "PAM save" pam "$KXOP -f kxoPAM - $P.ppm @OUT@" "$IM $P.ppm @OUT@" "pamtopam < $P.ppm > @OUT@" ""
row "PFM load" ppm "$KXOP - $O.pfm @OUT@" "$IM $O.pfm -depth 8 @OUT@" "pfmtopam -maxval 255 $O.pfm | pamtopnm > @OUT@" ""
row "PFM save" pfm "$KXOP -f kxoPFM - $P.ppm @OUT@" "$IM $P.ppm @OUT@" "pamtopfm $P.ppm > @OUT@" ""

# Operators: PPM in, PPM out.
row "resize 50%" ppm "$KXOP kxpResize $P.ppm @OUT@ NEW_WIDTH=$((WIDTH / 2)) NEW_HEIGHT=$((HEIGHT / 2))" \
  "$IM $P.ppm -scale 50% @OUT@" "pamscale 0.5 $P.ppm > @OUT@" "vips shrink $P.ppm @OUT@ 2 2"
row "rotate 90" ppm "$KXOP kxpRotate $P.ppm @OUT@ DEGREES=90" "$IM $P.ppm -rotate -90 @OUT@" "pamflip -r90 $P.ppm > @OUT@" \
  "vips rot $P.ppm @OUT@ d270"
row "rotate $ANGLE deg" ppm "$KXOP kxpRotateFree $P.ppm @OUT@ ROTATE_ANGLE=$ANGLE" \
  "$IM $P.ppm -interpolate Nearest -filter point -virtual-pixel black -define distort:viewport=${SIDE}x${SIDE}-$OFFX-$OFFY -distort SRT $ANGLE +repage @OUT@" \
  "pnmrotate -noantialias -- -$ANGLE $P.ppm > @OUT@" \
  "vips affine $P.ppm @OUT@ '$COS -$SIN $SIN $COS' --interpolate nearest --oarea '$VLEFT $VTOP $SIDE $SIDE'"
row "mirror" ppm "$KXOP kxpLeftToRight $P.ppm @OUT@" "$IM $P.ppm -flop @OUT@" "pamflip -lr $P.ppm > @OUT@" \
  "vips flip $P.ppm @OUT@ horizontal"
row "flip" ppm "$KXOP kxpTopToBottom $P.ppm @OUT@" "$IM $P.ppm -flip @OUT@" "pamflip -tb $P.ppm > @OUT@" \
  "vips flip $P.ppm @OUT@ vertical"
# Dithering to a computed palette of 256 colours: no libvips command maps
# to a palette without saving a palette format.
row "dither 256 FS" ppm "$KXOP kxpDither24Bit $P.ppm @OUT@ COLORDEPTH=8" \
  "$IM $P.ppm -dither FloydSteinberg -colors 256 @OUT@" \
  "pnmcolormap 256 $P.ppm > $work/map.ppm && pnmremap -floyd -mapfile=$work/map.ppm $P.ppm > @OUT@" ""
row "24 to 48 bit" ppm "$KXOP kxpAnyTo48Bit $P.ppm @OUT@" "$IM $P.ppm -depth 16 @OUT@" "pamdepth 65535 $P.ppm > @OUT@" \
  "vips colourspace $P.ppm @OUT@ rgb16"
# Point operations, PPM in, PPM out. Gamma 0.5 is ours by default (v^2
# of the normalised sample). The channel swap exchanges red and green;
# libvips does it as a recombination matrix in floating point, cast back.
# The grey row greys every pixel with (30R + 59G + 11B) / 100 (the kept box
# emptied); the peers use their own luma weights and ppmtopgm and libvips
# write one channel.
printf '3 3 1 0\n0 1 0\n1 0 0\n0 0 1\n' > "$work/swap.mat"
row "negate" ppm "$KXOP kxpNegate $P.ppm @OUT@" "$IM $P.ppm -negate @OUT@" "pnminvert $P.ppm > @OUT@" "vips invert $P.ppm @OUT@"
row "gamma 24" ppm "$KXOP kxpGamma $P.ppm @OUT@" "$IM $P.ppm -gamma 0.5 @OUT@" "pnmgamma 0.5 $P.ppm > @OUT@" \
  "vips gamma $P.ppm @OUT@ --exponent 0.5"
row "gamma 48" ppm "$KXOP kxpGamma ${P}16.ppm @OUT@" "$IM ${P}16.ppm -gamma 0.5 @OUT@" "pnmgamma 0.5 ${P}16.ppm > @OUT@" \
  "vips gamma ${P}16.ppm @OUT@ --exponent 0.5"
row "channel swap" ppm "$KXOP kxpColorCycle $P.ppm @OUT@ INDEX=4" "$IM $P.ppm -separate -swap 0,1 -combine -depth 8 @OUT@" \
  "pamchannel -infile $P.ppm -tupletype RGB 1 0 2 | pamtopnm > @OUT@" \
  "vips recomb $P.ppm $work/swap.v $work/swap.mat && vips cast $work/swap.v @OUT@ uchar && rm -f $work/swap.v"
row "grey select" ppm "$KXOP kxpSelectGrayScales $P.ppm @OUT@ RED_LEVEL1=0" "$IM $P.ppm -grayscale Rec601Luma @OUT@" \
  "ppmtopgm $P.ppm > @OUT@" "vips colourspace $P.ppm @OUT@ b-w"
# The colour histogram as text (ours also writes the regrouped picture).
# A text has no picture size for the row's size check, so the row runs in
# a subshell that does not stop at it.
(set +e; row "histogram" txt "$KXOP kxpHistogram $P.ppm $work/histogram.ppm MODE=COLOR HISTOGRAM_PATH=@OUT@" \
  "$IM $P.ppm -format %c histogram:info:@OUT@" "ppmhist -noheader $P.ppm > @OUT@" "")

# Dithering to fixed palettes. Fixed palette: our 256-colour grid (black,
# R 16..240 by 32, G 16..240 by 32, B 32..224 by 64, white) with
# Floyd-Steinberg; the peers remap to the same colours. Hilbert: the
# 256-colour picture to black and white along a Hilbert curve (ours in 16 x
# 16 blocks, ImageMagick's Riemersma dither, netpbm's pamditherbw -hilbert).
# Alpha blend: the picture mirrored, with a gradient alpha, over the
# picture (ours weights by that alpha: BLENDGFX_ALPHA).
awk 'BEGIN { print "P3\n256 1\n255"; print "0 0 0"
  for (m = 0; m < 254; m++) print 16 + 32 * int(m / 32), 16 + 32 * (int(m / 4) % 8), 32 + 64 * (m % 4); print "255 255 255" }' \
  > "$work/grid.ppm"
convert-im6.q16 "$P.ppm" -flop \( -size ${WIDTH}x${HEIGHT} gradient: \) -alpha off -compose CopyOpacity -composite "$work/blend.png"
row "dither fixed 256" ppm "$KXOP kxpDitherFix24 $P.ppm @OUT@" "$IM $P.ppm -dither FloydSteinberg -remap $work/grid.ppm @OUT@" \
  "pnmremap -floyd -mapfile=$work/grid.ppm $P.ppm > @OUT@" ""
row "dither Hilbert" ppm "$KXOP kxpHilbertDither256 ${P}8.bmp @OUT@" "$IM ${P}8.bmp -dither Riemersma -monochrome @OUT@" \
  "bmptoppm ${P}8.bmp | ppmtopgm | pamditherbw -hilbert | ppmtoppm > @OUT@" ""
row "alpha blend" ppm "$KXOP kxpAlphaBlend $P.ppm @OUT@ BLEND_GRAPHICS=$work/blend.png ALPHA_MODE=BLENDGFX_ALPHA" \
  "$IM $P.ppm $work/blend.png -compose over -composite @OUT@" \
  "pngtopam -alphapam $work/blend.png | pamcomp - $P.ppm > @OUT@" \
  "vips composite2 $P.ppm $work/blend.png $work/blend.v over && vips flatten $work/blend.v @OUT@ && rm -f $work/blend.v"

# Window filters on the 24-bit and the 48-bit picture. Convolutions: the
# n x n mean (ours: all ones over n x n; 9 x 9 adds the offset to the exact
# quotient), the same integer mask for vips, a normalised square for
# ImageMagick and pnmconvol. Sharpen: our default matrix (strength 11,
# divisor 5). Oil paint: our 7 x 7 most frequent value beside ImageMagick's
# -paint 3 and netpbm's pamoil -n 3 (their windows are round); digi paint:
# our 7 x 7 largest value beside a 7 x 7 maximum. Mosaic: blocks of 8,
# each the colour of its top-left pixel (vips subsample and zoom do the same).
kx_ones() { local n=$1 sep=$2 r c line out=""; for ((r = 0; r < n; r++)); do line=""
    for ((c = 0; c < n; c++)); do line+=${line:+,}1; done; out+=${out:+$sep}$line; done; echo "$out"; }
for n in 3 5 9; do
  { echo "$n $n $((n * n)) 0"; for ((r = 0; r < n; r++)); do kx_ones "$n" " " | tr ',' ' '; done; } > "$work/box$n.mat"
done
printf '3 3 5 0\n0 -1 0\n-1 11 -2\n0 -2 0\n' > "$work/sharpen.mat"
for kx_depth in 24 48; do
  kx_in=$P.ppm
  [ $kx_depth = 48 ] && kx_in=${P}16.ppm
  for n in 3 5 9; do
    kx_op="kxpConvolveNxN $kx_in @OUT@ MATRIX_SIZE=${n}x$n"
    [ $n = 3 ] && kx_op="kxpConvolve $kx_in @OUT@ DIVIDE_EQUAL=9"
    row "conv ${n}x$n $kx_depth" ppm "$KXOP $kx_op" \
      "$IM $kx_in -define convolve:scale=! -morphology Convolve Square:$(( (n - 1) / 2 )) @OUT@" \
      "pnmconvol -matrix='$(kx_ones $n ';')' -normalize $kx_in > @OUT@" \
      "vips conv $kx_in @OUT@ $work/box$n.mat --precision integer"
  done
  row "blur $kx_depth" ppm "$KXOP kxpBlur $kx_in @OUT@" \
    "$IM $kx_in -define convolve:scale=! -morphology Convolve Square:1 @OUT@" \
    "pnmconvol -matrix='1,1,1;1,1,1;1,1,1' -normalize $kx_in > @OUT@" "vips conv $kx_in @OUT@ $work/box3.mat --precision integer"
  row "sharpen $kx_depth" ppm "$KXOP kxpSharpen $kx_in @OUT@" \
    "$IM $kx_in -morphology Convolve '3x3: 0,-0.2,0 -0.2,2.2,-0.4 0,-0.4,0' @OUT@" \
    "pnmconvol -matrix='0,-0.2,0;-0.2,2.2,-0.4;0,-0.4,0' $kx_in > @OUT@" \
    "vips conv $kx_in @OUT@ $work/sharpen.mat --precision integer"
  row "median $kx_depth" ppm "$KXOP kxpMedian $kx_in @OUT@" "$IM $kx_in -statistic Median 3x3 @OUT@" "" \
    "vips rank $kx_in @OUT@ 3 3 4"
  # pamoil counts 16-bit samples in 65536 bins per pixel: hours on this picture.
  kx_oil="pamoil -n 3 $kx_in > @OUT@"
  [ $kx_depth = 48 ] && kx_oil=""
  row "oil paint $kx_depth" ppm "$KXOP kxpOilPaint $kx_in @OUT@" "$IM $kx_in -paint 3 @OUT@" "$kx_oil" ""
  row "digi paint $kx_depth" ppm "$KXOP kxpDigiPaint $kx_in @OUT@" "$IM $kx_in -statistic Maximum 7x7 @OUT@" "" \
    "vips rank $kx_in @OUT@ 7 7 48"
  row "mosaic $kx_depth" ppm "$KXOP kxpMosaic $kx_in @OUT@ BLOCKS=8" "$IM $kx_in -sample 12.5% -sample 800% @OUT@" "" \
    "vips subsample $kx_in $work/mosaic.v 8 8 && vips zoom $work/mosaic.v @OUT@ 8 8 && rm -f $work/mosaic.v"
done

# X11 and home-computer formats. Screens are small: each of their rows
# times a loop of LOOP loads, one whole process a load. The X11 rows load and
# save a 4000x3000 picture: 24-bit for XWD (32-bit pixels, pnmtoxwd
# -directcolor), 256 colours for XPM (two characters a pixel), black and
# white for XBM. No peer reads QL, Spectrum or C64 screens; ImageMagick reads
# no NEOchrome.
LOOP=${LOOP:-50}
X=$work/x11
convert-im6.q16 -size 4000x3000 gradient:red-blue -attenuate 0.3 +noise Gaussian -depth 8 -type TrueColor "$X.ppm"
pnmquant 256 "$X.ppm" > "${X}8.ppm" 2> /dev/null
ppmtobmp "${X}8.ppm" > "${X}8.bmp" 2> /dev/null
ppmtopgm "$X.ppm" | pamditherbw | pamtopnm > "${X}1.pbm" 2> /dev/null
pnmtoxwd -directcolor "$X.ppm" > "$X.xwd" 2> /dev/null
ppmtoxpm "${X}8.ppm" > "$X.xpm" 2> /dev/null
pbmtoxbm "${X}1.pbm" > "$X.xbm" 2> /dev/null
S=$work/screen
convert-im6.q16 -size 320x200 plasma:fractal -colors 16 -depth 8 ppm:"$S.ppm" 2> /dev/null
ppmtoneo "$S.ppm" > "$S.neo" 2> /dev/null
# Screens of noise: a QL screen, a Spectrum screen, a Koala picture and a
# GEOS paint document of 720 lines in literal items (the largest C64 form).
python3 - "$S" << 'PY'
import random, sys
random.seed(5)
noise = lambda n: bytes(random.getrandbits(8) for _ in range(n))
s = sys.argv[1]
open(s + ".ql4", "wb").write(noise(32768))
open(s + ".scr", "wb").write(noise(6912))
open(s + ".koa", "wb").write(b"\x00\x60" + noise(10001))
head = bytearray(508); head[0] = 0x83; head[22] = 7; head[254:257] = b"\x03\x15\xbf"
data = bytearray()
for record in range(45):
    body = noise(1448)
    for at in range(0, 1448, 63):
        data += bytes([len(body[at:at + 63])]) + body[at:at + 63]
    data += b"\x00"
    data += b"\xff" * (-len(data) % 254)
open(s + ".geo", "wb").write(bytes(head) + bytes(data))
PY
kx_loop() { echo "for i in \$(seq $LOOP); do $1; done"; }
row "NEO load x$LOOP" ppm "$(kx_loop "$KXOP - $S.neo @OUT@")" "" "$(kx_loop "neotoppm $S.neo > @OUT@")" ""
row "QL load x$LOOP" ppm "$(kx_loop "$KXOP - $S.ql4 @OUT@")" "" "" ""
row "Spectrum load x$LOOP" ppm "$(kx_loop "$KXOP - $S.scr @OUT@")" "" "" ""
row "Koala load x$LOOP" ppm "$(kx_loop "$KXOP - $S.koa @OUT@")" "" "" ""
row "GEOS load x$LOOP" ppm "$(kx_loop "$KXOP - $S.geo @OUT@")" "" "" ""
row "XWD 32 load" ppm "$KXOP - $X.xwd @OUT@" "$IM $X.xwd @OUT@" "xwdtopnm $X.xwd > @OUT@" ""
row "XPM 256 load" ppm "$KXOP - $X.xpm @OUT@" "$IM $X.xpm @OUT@" "xpmtoppm $X.xpm > @OUT@" ""
row "XPM 256 save" xpm "$KXOP -f kxoXPM -s v3 - ${X}8.bmp @OUT@" "$IM ${X}8.bmp @OUT@" "bmptoppm ${X}8.bmp | ppmtoxpm > @OUT@" ""
row "XBM load" ppm "$KXOP - $X.xbm @OUT@" "$IM $X.xbm @OUT@" "xbmtopbm $X.xbm | ppmtoppm > @OUT@" ""
row "XBM save" xbm "$KXOP - ${X}1.pbm @OUT@" "$IM ${X}1.pbm @OUT@" "pbmtoxbm ${X}1.pbm > @OUT@" ""

clock="wall-clock"
[ "$CLOCK" = cpu ] && clock="processor time (user + system) for -1, wall-clock for -n"
cat << EOF

Times: median of $RUNS runs in ms, $clock; each run is a whole process, reading and writing its
files included, on a ${WIDTH}x${HEIGHT} picture kept on tmpfs. -1: one thread pinned to processor $CORE;
-n (and ours-n): the program's own thread count, unpinned, wall-clock. MB: peak resident set of the
largest process. Ratios: ours over the fastest single-threaded peer (time, then memory), and ours-n
over the faster of IM-n and vips-n (wall-clock against wall-clock); below 1 ours takes less.
PNG: zlib level $PNG_LEVEL, strategy $PNG_STRATEGY (Z_FILTERED, libpng's default; our writer's own default is
Z_DEFAULT_STRATEGY) and libpng's adaptive choice among all five filters, on every side.
rotate $ANGLE deg: nearest pixel; ours, IM and vips fill the ${SIDE}x${SIDE} square about the centre,
netpbm (pnmrotate -noantialias) the turned picture's bounding box.
EOF
for n in "${notes[@]+"${notes[@]}"}"; do echo "note: $n"; done
