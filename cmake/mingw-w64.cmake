# CMake toolchain file: 64-bit Windows with Debian's MinGW-w64 (the -posix thread model), programs run under Wine.
#
# Where the Windows libraries are (scripts/build-windows.sh sets both), as cache variables or from the environment:
#   ORVANDEL_WINDOWS_PREFIX   the prefix of the libraries built for Windows (libzip, pugixml, libxml2, GoogleTest)
#   ORVANDEL_QT_PREFIX        Qt for Windows (qt6-mingw/)
# Both default to the folders of scripts/build-windows.sh's cache, ${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}.
# Qt also needs -DCMAKE_PREFIX_PATH=<Qt prefix> -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANDEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORVANDEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANDEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANDEL_MINGW_TRIPLET}-windres)
set(ORVANDEL_MINGW_ROOT /usr/${ORVANDEL_MINGW_TRIPLET})

if(DEFINED ENV{ORVANDEL_WINDOWS_CACHE} AND NOT "$ENV{ORVANDEL_WINDOWS_CACHE}" STREQUAL "")
  set(_orvandel_cache "$ENV{ORVANDEL_WINDOWS_CACHE}")
else()
  set(_orvandel_cache "$ENV{HOME}/.cache/orvandel-windows")
endif()
foreach(_var_default IN ITEMS "ORVANDEL_WINDOWS_PREFIX|prefix" "ORVANDEL_QT_PREFIX|qt6-mingw")
  string(REPLACE "|" ";" _pair "${_var_default}")
  list(GET _pair 0 _var)
  list(GET _pair 1 _default)
  if(NOT ${_var})
    if(DEFINED ENV{${_var}} AND NOT "$ENV{${_var}}" STREQUAL "")
      set(${_var} "$ENV{${_var}}")
    else()
      set(${_var} "${_orvandel_cache}/${_default}")
    endif()
  endif()
  set(${_var} "${${_var}}" CACHE PATH "Orvandel's Windows cross build: see cmake/mingw-w64.cmake")
endforeach()
# try_compile projects read this file again: hand them the same folders.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVANDEL_WINDOWS_PREFIX ORVANDEL_QT_PREFIX)

# Headers, libraries and packages come only from these roots (the deps prefix first: its static zlib wins over the
# MinGW import library); programs (moc, uic, rcc, pkg-config) from the host.
set(CMAKE_FIND_ROOT_PATH ${ORVANDEL_WINDOWS_PREFIX} ${ORVANDEL_QT_PREFIX} ${ORVANDEL_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# find_package(ZLIB) takes the static zlib, like libzip does.
set(ZLIB_USE_STATIC_LIBS ON)

# pkg-config looks only into the deps prefix (its .pc files are relocatable: no sysroot to prepend).
set(ENV{PKG_CONFIG_LIBDIR} "${ORVANDEL_WINDOWS_PREFIX}/lib/pkgconfig:${ORVANDEL_WINDOWS_PREFIX}/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Test programs (gtest_discover_tests, add_test, try_run) run under Wine, finding the Qt and MinGW runtime DLLs.
get_filename_component(_orvandel_scripts "${CMAKE_CURRENT_LIST_DIR}/../scripts" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${_orvandel_scripts}/wine-run.sh;--path;${ORVANDEL_QT_PREFIX}/bin;--path;${ORVANDEL_WINDOWS_PREFIX}/bin;--")
