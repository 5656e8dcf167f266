#!/usr/bin/env bash
# Usage: check_package.sh BUILD_DIR SAMPLES_DIR
# Builds the .deb with CPack, unpacks it with dpkg-deb -x into a temporary root and checks the layout, the
# package's dependencies, and that the installed command-line tool works.
set -euo pipefail
build=$1
samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/orvandel_*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

failures=0
check() {
  if ! eval "$2"; then
    echo "FAILED: $1"
    failures=$((failures + 1))
  fi
}

check "the program folder holds the program" '[ -x "$root/lib/orvandel/orvandel" ]'
check "the hand pointer lies beside the program" '[ -f "$root/lib/orvandel/HAND-M.CUR" ]'
check "the sample workbooks lie beside the program" \
  '[ -f "$root/lib/orvandel/Samples/sample1.xls" ] && [ -f "$root/lib/orvandel/Samples/sample2.xls" ]'
check "bin/orvandel leads to the program folder" '[ "$(readlink "$root/bin/orvandel")" = "../lib/orvandel/orvandel" ]'
check "the command-line tool is in bin" '[ -x "$root/bin/orvandel-sheets" ]'
check "a desktop entry starts orvandel with its icon" \
  'grep -qx "Exec=orvandel" "$root/share/applications/orvandel.desktop" && grep -qx "Icon=orvandel" "$root/share/applications/orvandel.desktop"'
check "the icon comes as SVG" '[ -f "$root/share/icons/hicolor/scalable/apps/orvandel.svg" ]'
for size in 16 32 48 64 128 256; do
  check "the icon comes as ${size}px PNG" '[ -f "$root/share/icons/hicolor/${size}x${size}/apps/orvandel.png" ]'
done

control=$(dpkg-deb -f "$deb" Depends Recommends)
for dep in libqt6widgets6 libzip4 libpugixml1v5; do
  check "the package depends on $dep" 'grep -q "$dep" <<<"$control"'
done
check "the package recommends LibreOffice Calc" 'grep -q "libreoffice-calc" <<<"$control"'

cp "$samples/sample1.xlsx" "$work/book.xlsx"
listing=$("$root/bin/orvandel-sheets" list "$work/book.xlsx")
check "the installed tool lists a workbook" '[ "$(cut -f4 <<<"$listing" | paste -sd,)" = "Jan,Feb,Rates,Summary" ]'

if [ $failures -ne 0 ]; then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "package layout: all checks passed"
