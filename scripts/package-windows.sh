#!/usr/bin/env bash
# Packages a Windows build (scripts/build-windows.sh) as a portable zip and an installer:
#
#   scripts/package-windows.sh BUILD_DIR
#
# 1. Stages the program folder BUILD_DIR/package/Orvandel/ from BUILD_DIR/bin and Qt for Windows:
#      orvandel.exe, orvandel-sheets.exe, HAND-M.CUR, Samples\sample1.xls, Samples\sample2.xls and their .xlsx twins,
#      the DLLs of Qt's bin folder the programs and plugins import (found with objdump, recursively: Qt and the
#      MinGW runtime; the system's own DLLs are not shipped),
#      platforms\qwindows.dll (the desktop), platforms\qoffscreen.dll (headless runs: -platform offscreen),
#      styles\qwindowsvistastyle.dll (the native look) and imageformats\qico.dll (reads the pointer file).
# 2. Zips that folder: BUILD_DIR/package/Orvandel-<version>-windows-x64.zip (portable, runs where it is unpacked).
# 3. Builds the installer BUILD_DIR/package/Orvandel-<version>-setup.exe with makensis from
#    packaging/windows/orvandel.nsi.
# The version is the one of project(Orvandel VERSION x.y.z) in the top-level CMakeLists.txt. Each run starts the
# staging folder and both outputs afresh.
#
# Environment: ORVANDEL_QT_PREFIX (Qt for Windows; default qt6-mingw/ in the cache of scripts/build-windows.sh,
# ${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}), ORVANDEL_PACKAGE_STRIP=0 (keep the debugging
# information of the two programs), MAKENSIS, OBJDUMP, STRIP (the tools).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
log() { echo "package-windows: $*" >&2; }
die() { echo "package-windows: $*" >&2; exit 1; }

[ $# -eq 1 ] || { echo "usage: scripts/package-windows.sh BUILD_DIR" >&2; exit 2; }
build_dir=$(realpath -m "$1")
bin_dir=$build_dir/bin
qt_prefix=$(realpath -m "${ORVANDEL_QT_PREFIX:-${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}/qt6-mingw}")
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
strip=${STRIP:-x86_64-w64-mingw32-strip}
makensis=${MAKENSIS:-makensis}
nsi=$root/packaging/windows/orvandel.nsi

for tool in "$objdump" "$makensis" zip; do
  command -v "$tool" >/dev/null || die "$tool not found (packages: binutils-mingw-w64-x86-64, nsis, zip)"
done
for file in orvandel.exe orvandel-sheets.exe HAND-M.CUR Samples/sample1.xls Samples/sample2.xls Samples/sample1.xlsx \
    Samples/sample2.xlsx; do
  [ -f "$bin_dir/$file" ] || die "$bin_dir/$file is missing: build the project for Windows first (scripts/build-windows.sh)"
done
[ -f "$qt_prefix/bin/Qt6Core.dll" ] || die "Qt for Windows not found in $qt_prefix (set ORVANDEL_QT_PREFIX)"

version=$(sed -n 's/^project(Orvandel VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt" | head -n 1)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "no version x.y.z in project(Orvandel VERSION ...) of CMakeLists.txt"

package_dir=$build_dir/package
stage=$package_dir/Orvandel
zip_file=$package_dir/Orvandel-$version-windows-x64.zip
setup_file=$package_dir/Orvandel-$version-setup.exe
log "version $version, staging $stage"
rm -rf "$stage" "$zip_file" "$setup_file"
mkdir -p "$stage/Samples" "$stage/platforms" "$stage/styles" "$stage/imageformats"

# --- 1. The program folder -------------------------------------------------------------------------------------

cp "$bin_dir/orvandel.exe" "$bin_dir/orvandel-sheets.exe" "$bin_dir/HAND-M.CUR" "$stage/"
cp "$bin_dir/Samples/sample1.xls" "$bin_dir/Samples/sample2.xls" "$bin_dir/Samples/sample1.xlsx" \
  "$bin_dir/Samples/sample2.xlsx" "$stage/Samples/"
plugins=(platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll imageformats/qico.dll)
for plugin in "${plugins[@]}"; do
  [ -f "$qt_prefix/plugins/$plugin" ] || die "the Qt plugin $qt_prefix/plugins/$plugin is missing"
  cp "$qt_prefix/plugins/$plugin" "$stage/$plugin"
done

# The DLLs a PE file imports, one name a line.
imports() { "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'; }

# Every import found in Qt's bin folder (compared without case, as Windows does) is shipped, and its own imports
# followed; the rest must be the system's.
declare -A shipped=()
queue=("$stage/orvandel.exe" "$stage/orvandel-sheets.exe")
for plugin in "${plugins[@]}"; do queue+=("$stage/$plugin"); done
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    [ -n "$dll" ] || continue
    key=${dll,,}
    [ -z "${shipped[$key]:-}" ] || continue
    found=$(find "$qt_prefix/bin" -maxdepth 1 -type f -iname "$dll" -print -quit)
    [ -n "$found" ] || continue
    shipped[$key]=$(basename "$found")
    cp "$found" "$stage/"
    queue+=("$stage/${shipped[$key]}")
  done < <(imports "$file")
done
log "DLLs shipped: $(printf '%s\n' "${shipped[@]}" | sort | tr '\n' ' ')"

# What Windows provides itself; anything else imported but not shipped would keep the program from starting.
system_dll='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|ws2_32|winmm|version|userenv|netapi32|mpr|authz|dwmapi|uxtheme|d3d9|d3d11|dxgi|dwrite|d2d1|comdlg32|imm32|shcore|shlwapi|wtsapi32|crypt32|bcrypt|secur32|iphlpapi|dnsapi|setupapi|cfgmgr32|rpcrt4|ntdll|api-ms-win-.*)\.dll$'
while read -r file; do
  while read -r dll; do
    key=${dll,,}
    [ -n "${shipped[$key]:-}" ] || [[ $key =~ $system_dll ]] ||
      die "${file#"$stage/"} imports $dll, which is neither shipped nor a system DLL"
  done < <(imports "$file")
done < <(find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \))

if [ "${ORVANDEL_PACKAGE_STRIP:-1}" != 0 ] && command -v "$strip" >/dev/null; then
  "$strip" --strip-debug "$stage/orvandel.exe" "$stage/orvandel-sheets.exe"
fi

# --- 2. The portable zip ---------------------------------------------------------------------------------------

(cd "$package_dir" && zip -q -r -X "$zip_file" Orvandel)
log "wrote $zip_file ($(stat -c %s "$zip_file") bytes)"

# --- 3. The installer ------------------------------------------------------------------------------------------

"$makensis" -V2 -DVERSION="$version" -DSTAGE_DIR="$stage" -DOUTFILE="$setup_file" "$nsi" >&2
[ -f "$setup_file" ] || die "makensis wrote no $setup_file"
log "wrote $setup_file ($(stat -c %s "$setup_file") bytes)"
