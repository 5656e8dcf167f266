#!/usr/bin/env bash
# Runs a Windows program under Wine and exits with its exit status (CMake's CMAKE_CROSSCOMPILING_EMULATOR for the
# Windows cross build, see cmake/mingw-w64.cmake):
#
#   scripts/wine-run.sh [--path DIR]... [--] PROGRAM.exe [ARGUMENTS]
#   scripts/wine-run.sh --init          (only prepares the Wine prefix and its server)
#
# Each --path DIR (a Linux folder) is put into WINEPATH, where Windows looks for DLLs: the Qt bin folder (Qt's and
# the MinGW runtime's DLLs) and the libraries' prefix bin. The Wine prefix is WINEPREFIX, or by default wine/ in
# ${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}; the first run creates it quietly.
set -euo pipefail

wine=${ORVANDEL_WINE:-/usr/lib/wine/wine64}
[ -x "$wine" ] || { echo "wine-run: $wine not found (install wine64)" >&2; exit 127; }

winepath=${WINEPATH:-}
while [ $# -gt 0 ]; do
  case $1 in
    --path) [ -n "${2:-}" ] && winepath+="${winepath:+;}Z:${2//\//\\}"; shift 2 ;;
    --init) break ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: wine-run.sh [--path DIR]... [--] PROGRAM [ARGUMENTS]" >&2; exit 2; }

export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}/wine}
export WINEPATH=$winepath

wineserver=${ORVANDEL_WINESERVER:-$(dirname "$wine")/wineserver}
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  # The first use creates the prefix quietly, without the Mono and Gecko installers (about 10 s).
  if [ ! -f "$WINEPREFIX/.orvandel-ready" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    # wineboot returns before the registry is on disk; the server writes it when it ends.
    "$wineserver" -w </dev/null >/dev/null 2>&1 9>&- || true
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
    touch "$WINEPREFIX/.orvandel-ready"
  fi
  # A program that crashes must end in failure, as on Windows. Wine's automatic debugger prints a backtrace and
  # then lets the program end with status 0, so a test program that crashed would pass; with no debugger named,
  # it ends with the exception's code.
  if [ ! -f "$WINEPREFIX/.orvandel-crashes-fail" ]; then
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
      </dev/null >/dev/null 2>&1 9>&- && touch "$WINEPREFIX/.orvandel-crashes-fail"
  fi
  # Wine's own background programs (services, explorer, ...) start with the first program and inherit its output,
  # so whoever reads that output (ctest) would wait for them to end, about 3 s after each test. Instead a server
  # that stays ORVANDEL_WINE_PERSIST seconds after its last program is started here, and those background programs
  # with it, detached from any output (and from the lock); later programs find them running. (The server exits 2
  # when one is running.)
  if "$wineserver" -p"${ORVANDEL_WINE_PERSIST:-60}" </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

if [ "$1" = --init ]; then exit 0; fi
exec "$wine" "$@"
