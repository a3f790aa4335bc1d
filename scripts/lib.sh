# Shared by the scripts in this folder. Sourced, not run.

TAVIRO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${TAVIRO_WINEPREFIX:=$TAVIRO_ROOT/build/wineprefix}"
export TAVIRO_WINEPREFIX

# Everything the build and the tests use, as Debian package names.
TAVIRO_PACKAGES=(
  cmake ninja-build g++ make pkg-config python3
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libpcre2-dev libcurl4-openssl-dev curl
  clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine32:i386 wine64 qemu-user-static
  xvfb xauth x11-utils imagemagick fonts-wqy-microhei
)

taviro_log() { printf '%s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

taviro_missing_packages() {
  local p status
  for p in "${TAVIRO_PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || printf '%s\n' "$p"
  done
}

# Wine runs 32-bit Windows programs only where the kernel runs 32-bit code
# (some virtual machines refuse i386 programs and 32-bit code segments). There
# the Windows tests run as 64-bit builds of the same sources under wine64.
taviro_i386_runs() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

taviro_wine_env() {
  export WINEPREFIX="$TAVIRO_WINEPREFIX" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

taviro_prefix_ready() {
  [ -f "$TAVIRO_WINEPREFIX/system.reg" ] && [ -f "$TAVIRO_WINEPREFIX/.taviro-ready" ]
}

# A virtual display for Wine's windows. Sets DISPLAY and TAVIRO_XVFB_PID.
taviro_start_xvfb() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  TAVIRO_XVFB_PID=$!
  local n
  read -r n <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$n" TAVIRO_XVFB_PID
}

taviro_stop_xvfb() {
  [ -n "${TAVIRO_XVFB_PID:-}" ] && kill "$TAVIRO_XVFB_PID" 2>/dev/null
  TAVIRO_XVFB_PID=
}
