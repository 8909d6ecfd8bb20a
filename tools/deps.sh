# Debian packages that the build, the tests and the external programs need.
# Sourced by test.sh and run.sh; installs only what is missing.
KX_BUILD_PKGS=(cmake ninja-build g++ ccache pkg-config zlib1g-dev libpng-dev liblcms2-dev libjpeg-dev libexif-dev libiptcdata0-dev libtiff-dev libdeflate-dev)
KX_FRONTEND_PKGS=(qt6-base-dev qt6-qpa-plugins qt6-multimedia-dev qt6-image-formats-plugins fonts-dejavu-core xvfb xauth xdotool libgl-dev xdg-utils libxcb1-dev)
# Fuzzing only (fuzz/run.sh), not the test path: clang with libFuzzer and the sanitizer runtimes.
KX_FUZZ_PKGS=(clang libclang-rt-dev)
KX_TEST_PKGS=(libgtest-dev libgmock-dev libbenchmark-dev netpbm imagemagick libvips-tools pngcheck python3 locales-all bc ghostscript time)
# PCX, DDS and Photoshop fixtures and cross-checks: GraphicsMagick, nvcompress.
KX_TEST_PKGS+=(graphicsmagick libnvtt-bin)
# JPEG cross-checks: djpeg/cjpeg/jpegtran, exiftool and libexif's exif.
KX_TEST_PKGS+=(libjpeg-turbo-progs libimage-exiftool-perl exif)
# TIFF cross-checks: libtiff's tools (tiffcp, tiffinfo, tiffdump, tiff2rgba, raw2tiff).
KX_TEST_PKGS+=(libtiff-tools)
# JPEG 2000 through OpenJPEG; its tools and binutils check our codecs and source dumps.
KX_BUILD_PKGS+=(libopenjp2-7-dev libopenexr-dev libxslt1-dev libxml2-dev)
KX_TEST_PKGS+=(libopenjp2-tools binutils)
KX_TEST_PKGS+=(binutils-powerpc-linux-gnu)  # the GNU source dumps assemble for a big-endian target too
# Programs Kaxon5 starts: Ghostscript, fig2dev, dcraw, exiftool, jpegtran; SANE's scanimage.
KX_RUNTIME_PKGS=(ghostscript fig2dev dcraw libimage-exiftool-perl libjpeg-turbo-progs sane-utils)
KX_TEST_PKGS+=("${KX_RUNTIME_PKGS[@]}")
# Workstation and home-computer format cross-checks (Pillow), PDF pages back to pixels (pdftoppm).
KX_TEST_PKGS+=(python3-pil poppler-utils)
# GEM XIMG cross-checks: FFmpeg's GEM decoder reads palettes by the file's pixel values.
KX_TEST_PKGS+=(ffmpeg)
KX_TEST_PKGS+=(liblcms2-utils)  # colour cross-checks: Little CMS's transicc
KX_TEST_PKGS+=(dcmtk)  # lossless JPEG (SOF3) fixtures and the check of our files

kx_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  # With recommends: Qt's X11 platform plugin and ImageMagick's delegates come that way.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
