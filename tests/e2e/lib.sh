# Shared by the end-to-end tests: throwaway 32-bit Wine prefixes copied from
# one pristine prefix that is made once and kept under build/wine/.
# use_64bit_prefixes switches to 64-bit ones, from a pristine prefix of their own.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_root=${ZORVANE_WINE_ROOT:-$repo/build/wine}
pristine=$wine_root/pristine

export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8

use_64bit_prefixes() {
  export WINEARCH=win64
  pristine=$wine_root/pristine-win64
}

ensure_pristine_prefix() {
  mkdir -p "$wine_root"
  exec 8>"$pristine.lock"
  flock 8
  if [ ! -f "$pristine/.ready" ]; then
    rm -rf "$pristine"
    WINEPREFIX=$pristine wineboot -i >/dev/null 2>&1
    WINEPREFIX=$pristine wineserver -w
    touch "$pristine/.ready"
  fi
  flock -u 8
}

# Prints the path of a new prefix, a copy of the pristine one.
new_prefix() {
  ensure_pristine_prefix
  local prefix
  prefix=$(mktemp -d "$wine_root/run.XXXXXX")
  cp -a "$pristine/." "$prefix/"
  rm -f "$prefix/.ready"
  # Wine's background processes start with a session's first program and
  # inherit its output: start them here, detached from the test's output.
  WINEPREFIX=$prefix wine wineboot </dev/null >/dev/null 2>&1 || true
  echo "$prefix"
}

# Installs the stand-ins for Windows' printer files into a prefix, the one way
# they are installed: the stand-ins folder copied over C:\windows, then its
# registry file imported.
install_standins() {
  local prefix=$1 standins=$2
  [ -f "$standins/standins.reg" ] || fail "no stand-ins in $standins (build them first)"
  cp -a "$standins/." "$prefix/drive_c/windows/"
  in_prefix "$prefix" reg import 'C:\windows\standins.reg' >/dev/null 2>&1 ||
    fail "wine reg import of standins.reg failed"
}

# Copies the distribution folder to C:\dist of a prefix.
install_dist() {
  local prefix=$1 dist=$2
  mkdir -p "$prefix/drive_c/dist"
  cp -a "$dist/." "$prefix/drive_c/dist/"
}

# The messages of a log, without their time stamps and CR.
log_messages() {
  sed -e 's/^\[[A-Z][a-z][a-z] [A-Z][a-z][a-z] [0-9][0-9] [0-9:]\{8\} [0-9]\{4\}\] //' -e 's/\r$//' "$1"
}

drop_prefix() {
  WINEPREFIX=$1 wineserver -k 2>/dev/null || true
  rm -rf "$1"
}

# Runs a Windows program in the prefix: in_prefix PREFIX PROGRAM ARGS...
in_prefix() {
  local prefix=$1
  shift
  WINEPREFIX=$prefix wine "$@"
}

# A print ticket that asks the output format FORMAT: output_ticket FILE FORMAT.
output_ticket() {
  cat >"$1" <<TICKET
<?xml version="1.0" encoding="UTF-8"?>
<psf:PrintTicket version="1" xmlns:psf="http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework"
    xmlns:ns0000="http://schemas.zorvane.com/creator/printschema/2026">
  <psf:Feature name="ns0000:OutputFormat"><psf:Option name="ns0000:$2"/></psf:Feature>
</psf:PrintTicket>
TICKET
}

fail() {
  echo "FAIL: $*"
  exit 1
}
