#!/usr/bin/env bash
# Cross-compiles Orvandel for 64-bit Windows on Debian 12 with MinGW-w64; the tests run under Wine.
#
#   scripts/build-windows.sh [BUILD_DIR] [extra cmake arguments]   (BUILD_DIR defaults to build-windows/ in the checkout)
#
# 1. Installs the packages it needs when they are missing (as root; CI runs it on a fresh machine).
# 2. Builds the libraries for Windows, static, from Debian's own source packages (apt-get source), into a cache
#    outside the checkout: ${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}. Each library is built once;
#    a stamp holding its build options marks it done, so a later run skips it (and rebuilds it when the options
#    change).
# 3. Unpacks Qt 6 for Windows into the cache, or builds it with ../shared/toolchains/build-qt6-mingw.sh.
# 4. Configures and builds the project with cmake/mingw-w64.cmake.
# 5. Writes the installer and the portable zip into BUILD_DIR/package/ (scripts/package-windows.sh), unless
#    ORVANDEL_WINDOWS_PACKAGE=0.
#
# Cache layout:
#   src/<package>/       the source package as downloaded, and tree/ with it unpacked (Debian's patches applied)
#   build/<library>/     the library's build folder
#   prefix/              the install prefix of the libraries: include/, lib/*.a, lib/pkgconfig/*.pc
#   stamps/<library>     the options the library was built with
#   logs/<library>.log   the output of its build
#   qt6-mingw/           Qt for Windows (bin/ also holds the MinGW runtime DLLs)
#   wine/                the Wine prefix of scripts/wine-run.sh (unless WINEPREFIX is set)
#
# Environment: ORVANDEL_WINDOWS_CACHE (the cache), ORVANDEL_WINDOWS_JOBS (parallel jobs, default 2),
# ORVANDEL_WINDOWS_ISAL=0 (skip the attempt to build ISA-L).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(realpath -m "${1:-$root/build-windows}")
[ $# -gt 0 ] && shift
cache=$(realpath -m "${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}")
prefix=$cache/prefix
qt_prefix=$cache/qt6-mingw
jobs=${ORVANDEL_WINDOWS_JOBS:-2}
toolchain=$root/cmake/mingw-w64.cmake
toolchains_dir=$root/../shared/toolchains
mingw_root=/usr/x86_64-w64-mingw32

log() { echo "build-windows: $*" >&2; }
die() { echo "build-windows: $*" >&2; exit 1; }

# Runs a command with its output in the library's log; on failure shows the end of the log.
logged() {
  local name=$1; shift
  if ! "$@" >>"$cache/logs/$name.log" 2>&1; then
    tail -n 40 "$cache/logs/$name.log" >&2
    die "$name: failed: $* (the whole output: $cache/logs/$name.log)"
  fi
}

# --- 1. Packages ---------------------------------------------------------------------------------------------

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

apt_updated=0
install_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || die "these packages are missing: ${missing[*]}; run as root or install them with apt-get"
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ $apt_updated -eq 0 ]; then apt-get update -qq; apt_updated=1; fi
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_packages \
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev \
  wine64 nsis cmake ninja-build pkg-config dpkg-dev xz-utils zip util-linux \
  qt6-base-dev qt6-base-dev-tools googletest

mkdir -p "$cache/src" "$cache/build" "$cache/stamps" "$cache/logs" "$prefix"

# --- 2. Libraries from Debian's source packages --------------------------------------------------------------

# Adds deb-src entries, in a file of our own, for the Debian archive(s) this machine already uses for its binary
# packages (read from its apt configuration), unless source entries are configured already.
deb_src_file=/etc/apt/sources.list.d/orvandel-deb-src
ensure_deb_src() {
  if apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then return 0; fi
  [ "$(id -u)" -eq 0 ] || die "no deb-src entries in the apt configuration; run as root to have them added"
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || die "cannot tell the Debian release from /etc/os-release"
  local stanzas="" f
  # deb822 files (Debian 12: debian.sources): every enabled stanza of type deb for this release's suites,
  # repeated with the type deb-src.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    [ "$f" = "$deb_src_file.sources" ] && continue
    stanzas+=$(awk -v codename="$codename" '
      function flush() {
        if (n > 0 && deb && suites && enabled) {
          for (i = 1; i <= n; i++) print (lines[i] ~ /^Types:/ ? "Types: deb-src" : lines[i])
          print ""
        }
        n = 0; deb = 0; suites = 0; enabled = 1
      }
      BEGIN { enabled = 1 }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      { lines[++n] = $0 }
      /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == codename || index($i, codename "-") == 1) suites = 1 }
      /^Enabled:/ { if (tolower($2) == "no") enabled = 0 }
      END { flush() }' "$f")$'\n'
  done
  if [ -n "${stanzas//[$'\n']/}" ]; then
    printf '%s\n' "$stanzas" > "$deb_src_file.sources"
  else
    # One-line format (/etc/apt/sources.list, *.list): the deb lines for this release, as deb-src lines.
    local lines
    lines=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v codename="$codename" '$1 == "deb" {
        for (i = 2; i <= NF; i++) if ($i == codename || index($i, codename "-") == 1) { sub(/^deb/, "deb-src"); print; break }
      }' | sort -u)
    [ -n "$lines" ] || die "no Debian archive for $codename found in the apt configuration"
    printf '%s\n' "$lines" > "$deb_src_file.list"
  fi
  log "added deb-src entries to $deb_src_file.*"
  apt-get update -qq >&2
  apt_updated=1
}

# Downloads and unpacks a source package once: prints the unpacked tree.
fetch_source() {
  local pkg=$1 dir=$cache/src/$1
  if [ ! -f "$dir/tree/.unpacked" ]; then
    ensure_deb_src
    if ! apt-cache showsrc "$pkg" 2>/dev/null | grep -q '^Package:'; then
      apt-get update -qq >&2
      apt_updated=1
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    log "downloading the source package $pkg"
    (cd "$dir" && logged "$pkg" apt-get source --download-only "$pkg")
    local dsc=("$dir"/*.dsc)
    [ -f "${dsc[0]}" ] || die "$pkg: apt-get source left no .dsc file"
    logged "$pkg" dpkg-source -x "${dsc[0]}" "$dir/tree"
    touch "$dir/tree/.unpacked"
  fi
  echo "$dir/tree"
}

# True when the library was built with exactly these options (KEY) by this revision of the recipes; stamp marks it.
# Raise recipes when a change here needs the libraries built again.
recipes=1
built() { [ -f "$cache/stamps/$1" ] && [ "$(cat "$cache/stamps/$1")" = "recipes $recipes"$'\n'"$2" ]; }
stamp() { printf 'recipes %s\n%s\n' "$recipes" "$2" > "$cache/stamps/$1"; }

# Configures, builds and installs a CMake project into the prefix: cmake_library NAME SOURCE_DIR [cmake args].
cmake_library() {
  local name=$1 src=$2; shift 2
  local args=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORVANDEL_WINDOWS_PREFIX="$prefix"
              -DORVANDEL_QT_PREFIX="$qt_prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
              -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF "$@")
  local key
  key=$(printf '%s\n' "$src" "${args[@]}")
  if built "$name" "$key"; then return 0; fi
  log "building $name (log: $cache/logs/$name.log)"
  local start=$SECONDS
  : > "$cache/logs/$name.log"
  rm -rf "$cache/build/$name" "$cache/stamps/$name"
  logged "$name" cmake -S "$src" -B "$cache/build/$name" "${args[@]}"
  logged "$name" cmake --build "$cache/build/$name" -j"$jobs"
  logged "$name" cmake --install "$cache/build/$name"
  stamp "$name" "$key"
  log "built $name in $((SECONDS - start)) s"
}

# A static library's pkg-config file names its own dependencies only under Libs.private / Requires.private, which
# pkg-config hands out only with --static (CMake's pkg_check_modules does not ask for that). Everything in the
# prefix is static, so the private parts are made public: consumers link them without --static.
publish_private() {
  local pc=$1
  sed -i -e 's/^Requires\.private:/Requires:/' -e 's/^Libs\.private:/Libs.extra:/' "$pc"
  if grep -q '^Libs\.extra:' "$pc"; then
    local extra
    extra=$(sed -n 's/^Libs\.extra:[[:space:]]*//p' "$pc" | tr '\n' ' ')
    sed -i -e '/^Libs\.extra:/d' -e "s|^Libs:.*|& $extra|" "$pc"
  fi
  # Two Requires: lines would be an error: join them.
  if [ "$(grep -c '^Requires:' "$pc")" -gt 1 ]; then
    local req
    req=$(sed -n 's/^Requires:[[:space:]]*//p' "$pc" | tr '\n' ' ' | sed 's/ *$//')
    sed -i -e '/^Requires:/d' "$pc"
    echo "Requires: $req" >> "$pc"
  fi
  sed -i -e 's/[[:space:]]*$//' "$pc"
}

# Adds a compile definition to a pkg-config file's Cflags (the headers need it when the library is static).
add_cflag() {
  local pc=$1 flag=$2
  grep -q -- "^Cflags:.*$flag" "$pc" || sed -i "s|^Cflags:.*|& $flag|" "$pc"
}

# zlib: Debian's MinGW build (libz-mingw-w64-dev). Its static library and headers are copied into the prefix with a
# pkg-config file of their own, so libzip, the project and pkg-config all take the same, static, zlib.
zlib_key=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)
if ! built zlib "$zlib_key"; then
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$mingw_root/include/zlib.h" "$mingw_root/include/zconf.h" "$prefix/include/"
  cp "$mingw_root/lib/libz.a" "$prefix/lib/"
  cat > "$prefix/lib/pkgconfig/zlib.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: zlib
Description: zlib compression library (static, from libz-mingw-w64-dev)
Version: $(sed -n 's/^Version:[[:space:]]*//p' "$mingw_root/lib/pkgconfig/zlib.pc")
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF
  stamp zlib "$zlib_key"
fi

# libzip: deflate only (zlib); no other compressors, no encryption back-ends, no tools, tests, docs or examples.
src=$(fetch_source libzip)
cmake_library libzip "$src" \
  -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF \
  -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
publish_private "$prefix/lib/pkgconfig/libzip.pc"
# zip.h declares its functions dllimport on Windows unless ZIP_STATIC is defined.
add_cflag "$prefix/lib/pkgconfig/libzip.pc" -DZIP_STATIC

# pugixml
src=$(fetch_source pugixml)
cmake_library pugixml "$src" -DPUGIXML_BUILD_TESTS=OFF

# libxml2: for the tests' strict reader. No Python, iconv, ICU, zlib, lzma, HTTP or FTP.
src=$(fetch_source libxml2)
cmake_library libxml2 "$src" \
  -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_ICU=OFF -DLIBXML2_WITH_ZLIB=OFF \
  -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF -DLIBXML2_WITH_TESTS=OFF \
  -DLIBXML2_WITH_PROGRAMS=OFF
publish_private "$prefix/lib/pkgconfig/libxml-2.0.pc"
# libxml2's headers declare its functions dllimport on Windows unless LIBXML_STATIC is defined (its CMake build
# already names it in the static library's Cflags; this keeps it so).
add_cflag "$prefix/lib/pkgconfig/libxml-2.0.pc" -DLIBXML_STATIC

# ISA-L (igzip, crc): its configure insists on yasm for MinGW, but its plain Makefile (Makefile.unx, arch=mingw)
# builds the static library with nasm's win64 output. Optional: without it the engine falls back to zlib.
build_isal() {
  local src=$1 dir=$cache/build/libisal
  local args=(-f Makefile.unx arch=mingw AS=nasm CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar)
  local key
  key=$(printf '%s\n' "$src" "${args[@]}")
  if built libisal "$key"; then return 0; fi
  log "building libisal (log: $cache/logs/libisal.log)"
  local start=$SECONDS
  : > "$cache/logs/libisal.log"
  rm -rf "$dir" "$cache/stamps/libisal"
  cp -a "$src" "$dir"
  logged libisal make -C "$dir" "${args[@]}" -j"$jobs" lib isa-l.h
  local headers version
  headers=$(make -C "$dir" -s "${args[@]}" --eval 'orvandel-headers: ; @echo $(sort $(extern_hdrs))' \
            orvandel-headers 2>/dev/null | tail -n1)
  version=$(make -C "$dir" -s "${args[@]}" --eval 'orvandel-version: ; @echo $(version)' \
            orvandel-version 2>/dev/null | tail -n1)
  [ -n "$headers" ] && [ -n "$version" ] || die "libisal: cannot read the header list or the version from its Makefile"
  mkdir -p "$prefix/include/isa-l" "$prefix/lib/pkgconfig"
  install -m 644 "$dir/bin/isa-l.a" "$prefix/lib/libisal.a"
  local header_list
  read -r -a header_list <<<"$headers"
  (cd "$dir" && install -m 644 "${header_list[@]}" include/types.h "$prefix/include/isa-l/")
  install -m 644 "$dir/isa-l.h" "$prefix/include/"
  cat > "$prefix/lib/pkgconfig/libisal.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libisal
Description: Intel(R) Intelligent Storage Acceleration Library (static)
Version: $version
Libs: -L\${libdir} -lisal
Cflags: -I\${includedir}
EOF
  stamp libisal "$key"
  log "built libisal in $((SECONDS - start)) s"
}
if [ "${ORVANDEL_WINDOWS_ISAL:-1}" != 0 ]; then
  install_packages nasm make
  src=$(fetch_source libisal)
  build_isal "$src"
fi

# GoogleTest (gtest, gtest_main, gmock, gmock_main) from the source Debian installs in /usr/src/googletest.
cmake_library googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=OFF

# --- 3. Qt for Windows ---------------------------------------------------------------------------------------

if [ ! -f "$qt_prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  tarball=$toolchains_dir/qt6.4.2-mingw-w64.tar.xz
  if [ ! -f "$tarball" ]; then
    if [ -x "$toolchains_dir/build-qt6-mingw.sh" ] || [ -f "$toolchains_dir/build-qt6-mingw.sh" ]; then
      log "no Qt tarball in ../shared/toolchains: building Qt for Windows (about half an hour on two cores)"
      tarball=$cache/qt6.4.2-mingw-w64.tar.xz
      : > "$cache/logs/qt6.log"
      logged qt6 bash "$toolchains_dir/build-qt6-mingw.sh" "$tarball"
    else
      die "Qt for Windows is missing: neither qt6.4.2-mingw-w64.tar.xz nor build-qt6-mingw.sh is in $toolchains_dir (../shared/toolchains beside the checkout)"
    fi
  fi
  log "unpacking $(basename "$tarball") into the cache"
  rm -rf "$qt_prefix"
  tar -C "$cache" -xJf "$tarball"
  [ -f "$qt_prefix/lib/cmake/Qt6/Qt6Config.cmake" ] || die "$tarball did not unpack to qt6-mingw/"
fi

# --- 4. The project --------------------------------------------------------------------------------------------

export ORVANDEL_WINDOWS_CACHE=$cache ORVANDEL_WINDOWS_PREFIX=$prefix ORVANDEL_QT_PREFIX=$qt_prefix
# The build already runs test programs under Wine (gtest_discover_tests lists their tests after linking, with a
# 5 s limit): the Wine prefix is created now (about 10 s the first time) and its server started.
"$root/scripts/wine-run.sh" --init
log "configuring $build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DORVANDEL_WINDOWS_PREFIX="$prefix" -DORVANDEL_QT_PREFIX="$qt_prefix" \
  -DCMAKE_PREFIX_PATH="$qt_prefix" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  "$@"
log "building $build_dir"
cmake --build "$build_dir" -j"$jobs"

# --- 5. The installer and the portable zip ---------------------------------------------------------------------

if [ "${ORVANDEL_WINDOWS_PACKAGE:-1}" != 0 ]; then
  bash "$root/scripts/package-windows.sh" "$build_dir"
fi
log "done: $build_dir (run the tests with: ctest --test-dir $build_dir)"
