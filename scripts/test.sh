#!/usr/bin/env bash
# Sets up, builds and runs every test twice: a normal build, then an AddressSanitizer + UndefinedBehaviorSanitizer
# build, with each fuzz target run briefly on its seeds in between; then the Windows build's tests under Wine, the
# same parts from both builds' command lines, and its installer end to end. GUI tests run headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

export QT_QPA_PLATFORM=offscreen

# Each stage says when it starts, so that a slow run shows where its time went.
stage() { printf '== %s (at %d min %02d s)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

stage "normal build"
bash scripts/build.sh build
(cd build && ctest --output-on-failure -j2)

stage "fuzz targets, 20 s each on their seeds"
bash fuzz/run.sh all 20

stage "sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
# -O1, as the sanitizers' authors advise: their checks stay whole, and the tests take 40 % less time than at -O0
# (the build takes longer by about as much).
bash scripts/build.sh build-asan -DORVANDEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j2)

stage "Windows build (MinGW-w64): its tests under Wine, the same parts as Linux, the installer"
bash scripts/build-windows.sh build-windows
(cd build-windows && ctest --output-on-failure -j2)
qt_bin=${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}/qt6-mingw/bin
python3 tests/windows/same_parts.py build/bin/orvandel-sheets build-windows/bin/orvandel-sheets.exe \
  bash scripts/wine-run.sh --path "$qt_bin" --
bash tests/windows/installer-test.sh build-windows
stage "done"
