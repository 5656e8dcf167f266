#!/usr/bin/env bash
# End-to-end test of the Windows installer under Wine, in a fresh Wine prefix that is removed at the end:
#
#   tests/windows/installer-test.sh BUILD_DIR        (after scripts/package-windows.sh BUILD_DIR)
#
# 1. Installs BUILD_DIR/package/Orvandel-<version>-setup.exe silently (/S) and checks the program folder under
#    C:\Program Files\Orvandel, the Start-menu shortcut and the Add/Remove Programs entry.
# 2. Checks that the portable zip holds the same files, byte for byte, as the installed folder (but the uninstaller).
# 3. Runs the installed orvandel-sheets.exe: list on a copy of samples/sample1.xlsx, rename "#1" and list again;
#    list on the installed Samples\sample1.xls.
# 4. Starts the installed orvandel.exe headless (-platform offscreen) and checks it is still running 5 s later;
#    when Xvfb and xwininfo are there, also on a virtual display with the Windows platform plugin, and checks
#    that its main window (titled Orvandel) appears and no error box does.
# 5. Uninstalls silently and checks that the folder, the shortcut's folder and the registry entry are gone.
# 6. Installs for the current user only (/S /CurrentUser) and checks the program folder under the user's
#    %LOCALAPPDATA%\Programs\Orvandel, the shortcut in the user's Start menu and the HKCU uninstall entry, that
#    nothing went to Program Files, the all users' Start menu or HKLM, runs the installed orvandel-sheets.exe, then
#    uninstalls silently and checks that the folder, the shortcut's folder and the HKCU entry are gone.
# 7. Installs both forms side by side with /D=FOLDER, checks each is where /D= says, then removes the per-user one
#    first and checks that the all-users one is untouched, then that one.
# Prints each check; exits 1 when one fails (all are run that can be), 2 on wrong arguments.
#
# Environment: ORVANDEL_WINE (default /usr/lib/wine/wine64), ORVANDEL_WINESERVER.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: tests/windows/installer-test.sh BUILD_DIR" >&2; exit 2; }
build_dir=$(realpath -m "$1")

failures=0
passes=0
pass() { echo "ok:   $*"; passes=$((passes + 1)); }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; echo "installer-test: stopped, $((failures + 1)) failure(s)"; exit 1; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; return 1; fi
}

wine=${ORVANDEL_WINE:-/usr/lib/wine/wine64}
wineserver=${ORVANDEL_WINESERVER:-$(dirname "$wine")/wineserver}
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || die "$wine not found (install wine64)"
command -v unzip >/dev/null || die "unzip not found"

version=$(sed -n 's/^project(Orvandel VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt" | head -n 1)
setup=$build_dir/package/Orvandel-$version-setup.exe
zip_file=$build_dir/package/Orvandel-$version-windows-x64.zip
[ -f "$setup" ] || die "$setup is missing: run scripts/package-windows.sh $1 first"
[ -f "$zip_file" ] || die "$zip_file is missing: run scripts/package-windows.sh $1 first"
echo "installer-test: $setup"

tmp=$(mktemp -d)
xvfb_pid=
cleanup() {
  WINEPREFIX=$tmp/wine "$wineserver" -k >/dev/null 2>&1
  WINEPREFIX=$tmp/wine "$wineserver" -w >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/wine" "$tmp/books"

export WINEPREFIX=$tmp/wine
export WINEDEBUG=-all
# No Mono or Gecko installers, and no menu entries or file associations on the Linux desktop from the shortcut.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPATH=
unset DISPLAY WAYLAND_DISPLAY
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }  # a Linux path as Wine's drive Z: sees it
wait_wine() { "$wineserver" -w >/dev/null 2>&1; }    # until every program of the prefix has ended
win_env() { "$wine" cmd /c echo "%$1%" </dev/null 2>/dev/null | tr -d '\r'; }         # a variable as Windows has it
unix_path() { "$wine" winepath -u "$1" </dev/null 2>/dev/null | tr -d '\r'; }       # a Windows path in Linux
ere() { sed 's/[][\.*^$(){}+?|]/\\&/g' <<<"$1"; }                                # a string as a literal regex

instdir=$WINEPREFIX/drive_c/Program\ Files/Orvandel
instdir_win='C:\Program Files\Orvandel'
menu_dir=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Orvandel
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvandel'
user_uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvandel'
expected_files=(orvandel.exe orvandel-sheets.exe uninstall.exe HAND-M.CUR Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
  libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll platforms/qwindows.dll platforms/qoffscreen.dll
  styles/qwindowsvistastyle.dll imageformats/qico.dll Samples/sample1.xls Samples/sample2.xls Samples/sample1.xlsx Samples/sample2.xlsx)
start=$SECONDS

check_installed() {  # check_installed FOLDER WINDOWS_NAME: every file of the package is there and not empty
  local missing=() file
  for file in "${expected_files[@]}"; do [ -s "$1/$file" ] || missing+=("$file"); done
  check "installed in $2: ${expected_files[*]}" test ${#missing[@]} -eq 0
  [ ${#missing[@]} -eq 0 ] || echo "      missing: ${missing[*]}"
}
check_folder_gone() {  # check_folder_gone FOLDER WINDOWS_NAME
  if [ -e "$1" ]; then
    fail "the install folder $2 is left after the uninstall, with:"; (cd "$1" && find . -mindepth 1 | sed 's/^/      /')
  else
    pass "the install folder $2 is gone"
  fi
}
read_key() { "$wine" reg query "$1" </dev/null 2>&1 | tr -d '\r' >"$tmp/reg-lf.txt"; }
reg_has() { grep -Eq "^[[:space:]]*$1[[:space:]]+$2[[:space:]]+$3\$" "$tmp/reg-lf.txt"; }
check_uninstall_entry() {  # check_uninstall_entry KEY INSTALL_FOLDER (as Windows names it)
  local hive=${1%%\\*} dir=$2
  read_key "$1"
  check "$hive uninstall entry DisplayName = Orvandel" reg_has DisplayName REG_SZ 'Orvandel'
  check "$hive uninstall entry DisplayVersion = $version" reg_has DisplayVersion REG_SZ "$(ere "$version")"
  check "$hive uninstall entry Publisher = Orvandel" reg_has Publisher REG_SZ 'Orvandel'
  check "$hive uninstall entry InstallLocation = $dir" reg_has InstallLocation REG_SZ "$(ere "$dir")"
  check "$hive uninstall entry DisplayIcon" reg_has DisplayIcon REG_SZ "$(ere "$dir\\orvandel.exe")"
  check "$hive uninstall entry UninstallString" reg_has UninstallString REG_SZ "$(ere "\"$dir\\uninstall.exe\"")"
  check "$hive uninstall entry QuietUninstallString (/S)" \
    reg_has QuietUninstallString REG_SZ "$(ere "\"$dir\\uninstall.exe\" /S")"
  check "$hive uninstall entry NoModify = 1" reg_has NoModify REG_DWORD '0x0*1'
  check "$hive uninstall entry NoRepair = 1" reg_has NoRepair REG_DWORD '0x0*1'
}
# The key cannot be read while CurrentVersion above it can, so that a failing reg does not pass for a missing key
# (Uninstall itself may not exist: a fresh prefix has none in HKCU).
key_gone() {
  "$wine" reg query "${1%%\\Uninstall\\*}" </dev/null >/dev/null 2>&1 || return 1
  ! "$wine" reg query "$1" </dev/null >/dev/null 2>&1
}
links_to() { grep -qaiF "$2" "$1"; }  # the shortcut names that target (its path is stored as plain text too)

# --- The Wine prefix ---------------------------------------------------------------------------------------

"$wine" wineboot -i </dev/null >/dev/null 2>&1
wait_wine
[ -f "$WINEPREFIX/system.reg" ] || die "wineboot did not create the Wine prefix"
pass "fresh Wine prefix created ($((SECONDS - start)) s)"

# The per-user folders as Wine names them for the user of the prefix.
local_appdata_win=$(win_env LOCALAPPDATA)
appdata_win=$(win_env APPDATA)
[[ $local_appdata_win == [A-Za-z]:\\* && $appdata_win == [A-Za-z]:\\* ]] ||
  die "Wine does not name the user's folders (LOCALAPPDATA=$local_appdata_win, APPDATA=$appdata_win)"
user_instdir_win="$local_appdata_win\\Programs\\Orvandel"
user_menu_win="$appdata_win\\Microsoft\\Windows\\Start Menu\\Programs\\Orvandel"
user_instdir=$(unix_path "$user_instdir_win")
user_menu_dir=$(unix_path "$user_menu_win")
[ -n "$user_instdir" ] && [ -n "$user_menu_dir" ] || die "winepath does not map $user_instdir_win and $user_menu_win"

# --- 1. Silent install ---------------------------------------------------------------------------------------

"$wine" "$(windows_path "$setup")" /S </dev/null >"$tmp/install.log" 2>&1
status=$?
wait_wine
check "setup.exe /S exits with 0 (got $status)" test "$status" -eq 0
[ -d "$instdir" ] || die "the install folder $instdir_win does not exist after the install"

check_installed "$instdir" "$instdir_win"
check "Start-menu shortcut Orvandel\\Orvandel.lnk" test -s "$menu_dir/Orvandel.lnk"
check "nothing went to the user's own Start menu or programs folder" test ! -e "$user_menu_dir" -a ! -e "$user_instdir"
check_uninstall_entry "$uninstall_key" "$instdir_win"
check "no HKCU uninstall entry" key_gone "$user_uninstall_key"

# --- 2. The portable zip holds the installed files -----------------------------------------------------------

mkdir -p "$tmp/zip"
if unzip -q "$zip_file" -d "$tmp/zip" && [ -d "$tmp/zip/Orvandel" ]; then
  (cd "$tmp/zip/Orvandel" && find . -type f | sed 's|^\./||' | sort) >"$tmp/zip-files.txt"
  (cd "$instdir" && find . -type f ! -path ./uninstall.exe | sed 's|^\./||' | sort) >"$tmp/installed-files.txt"
  if diff -u "$tmp/zip-files.txt" "$tmp/installed-files.txt" >"$tmp/files.diff"; then
    pass "the zip holds the installed files ($(wc -l <"$tmp/zip-files.txt") files, all but uninstall.exe)"
  else
    fail "the zip and the install folder hold different files (- zip, + installed):"; sed 's/^/      /' "$tmp/files.diff"
  fi
  differing=()
  while read -r file; do
    [ -f "$instdir/$file" ] && ! cmp -s "$tmp/zip/Orvandel/$file" "$instdir/$file" && differing+=("$file")
  done <"$tmp/zip-files.txt"
  check "the zip's files are byte for byte the installed ones${differing:+ (differ: ${differing[*]})}" \
    test ${#differing[@]} -eq 0
else
  fail "the zip could not be unpacked, or has no top folder Orvandel/"
fi

# --- 3. The installed command-line tool ----------------------------------------------------------------------

sheets="$instdir_win\\orvandel-sheets.exe"
sheets_run() { "$wine" "$sheets" "$@" </dev/null 2>"$tmp/sheets.err" | tr -d '\r'; }
line_format=$'^[0-9]+\t(worksheet|chartsheet|dialogsheet|macrosheet)\t(visible|hidden|veryHidden)\t.+$'
lists_sheets() { [ -n "$1" ] && ! grep -Evq "$line_format" <<<"$1"; }  # not empty, every line in that format
differs() { ! cmp -s "$1" "$2"; }
lacks() { ! grep -qF "$1" "$2"; }

cp "$root/samples/sample1.xlsx" "$tmp/books/copy.xlsx"
copy_win=$(windows_path "$tmp/books/copy.xlsx")
before=$(sheets_run list "$copy_win"); status=$?
echo "      list copy.xlsx:"; printf '%s\n' "$before" | sed 's/^/        /'
check "orvandel-sheets list copy.xlsx exits with 0 (got $status)" test "$status" -eq 0
check "it prints one line per sheet: position, kind, state, name" lists_sheets "$before"
first_name=$(printf '%s\n' "$before" | head -n 1 | cut -f 4)
check "the first sheet is not already named Renamed (it is \"$first_name\")" test "$first_name" != Renamed

sheets_run rename "$copy_win" "#1" Renamed >"$tmp/rename.out"; status=$?
check "orvandel-sheets rename copy.xlsx \"#1\" Renamed exits with 0 (got $status: $(cat "$tmp/sheets.err"))" \
  test "$status" -eq 0
check "the copy was changed on disk" differs "$root/samples/sample1.xlsx" "$tmp/books/copy.xlsx"
after=$(sheets_run list "$copy_win"); status=$?
echo "      list copy.xlsx after the rename:"; printf '%s\n' "$after" | sed 's/^/        /'
check "list after the rename exits with 0 (got $status)" test "$status" -eq 0
expected=$(printf '%s\n' "$before" | sed '1s/[^\t]*$/Renamed/')
check "list shows the first sheet as Renamed, the others unchanged" test "$after" = "$expected"

installed_xls=$(sheets_run list "$instdir_win\\Samples\\sample1.xls"); status=$?
echo "      list Samples\\sample1.xls (installed):"; printf '%s\n' "$installed_xls" | sed 's/^/        /'
check "orvandel-sheets list on the installed Samples\\sample1.xls exits with 0 (got $status: $(cat "$tmp/sheets.err"))" \
  test "$status" -eq 0
check "it lists its sheets" lists_sheets "$installed_xls"
check "the installed sample is unchanged" cmp -s "$instdir/Samples/sample1.xls" "$tmp/zip/Orvandel/Samples/sample1.xls"

# --- 4. The installed program starts ------------------------------------------------------------------------

program="$instdir_win\\orvandel.exe"
"$wine" "$program" -platform offscreen </dev/null >"$tmp/offscreen.log" 2>&1 &
pid=$!
sleep 5
if kill -0 "$pid" 2>/dev/null; then
  pass "orvandel.exe -platform offscreen is still running after 5 s"
  # Wine runs the Windows program in the process it was started as (Wine 8's tasklist lists nothing).
  args=$(ps -o args= -p "$pid" 2>/dev/null)
  check "that process is the installed orvandel.exe ($args)" grep -qiF 'Program Files\Orvandel\orvandel.exe' <<<"$args"
else
  wait "$pid"
  fail "orvandel.exe -platform offscreen ended within 5 s (status $?):"; sed 's/^/      /' "$tmp/offscreen.log"
fi
"$wineserver" -k >/dev/null 2>&1
wait "$pid" 2>/dev/null
wait_wine

if command -v Xvfb >/dev/null && command -v xwininfo >/dev/null; then
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  display=
  read -r -t 10 -u "$fd" display
  exec {fd}>&-
  if [ -z "$display" ]; then
    fail "Xvfb did not start (for the check of the main window)"
  else
    DISPLAY=:$display "$wine" "$program" </dev/null >"$tmp/x11.log" 2>&1 &
    pid=$!
    window=
    for _ in $(seq 1 60); do
      # The main window is titled Orvandel once its start-up went through, and its client area is 616x523, Form1's
      # fixed size (a message box titled Orvandel is far smaller).
      window=$(DISPLAY=:$display xwininfo -root -tree 2>/dev/null |
        awk '/^ +0x[0-9a-f]+ "Orvandel":/ && match($0, / [0-9]+x[0-9]+[+-]/) {
               split(substr($0, RSTART + 1, RLENGTH - 2), size, "x"); if (size[1] == 616 && size[2] == 523) { print; exit } }')
      [ -n "$window" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.5
    done
    sleep 2  # the start-up shows its error boxes, if any, before the window
    DISPLAY=:$display xwininfo -root -tree 2>/dev/null >"$tmp/windows.txt"
    check "on a display, orvandel.exe shows its main window \"Orvandel\"${window:+ (${window#"${window%%0x*}"})}" \
      test -n "$window"
    check "no error box (\"Application Error\") is shown" lacks '"Application Error"' "$tmp/windows.txt"
    check "orvandel.exe is still running on the display" kill -0 "$pid"
    "$wineserver" -k >/dev/null 2>&1
    wait "$pid" 2>/dev/null
    wait_wine
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=
  fi
else
  echo "skip: the main window on a display (Xvfb or xwininfo not installed)"
fi

# --- 5. Silent uninstall -------------------------------------------------------------------------------------

# The uninstaller copies itself to the temporary folder, starts that copy and returns: wait for every program.
"$wine" "$instdir_win\\uninstall.exe" /S </dev/null >"$tmp/uninstall.log" 2>&1
status=$?
wait_wine
check "uninstall.exe /S exits with 0 (got $status)" test "$status" -eq 0
check_folder_gone "$instdir" "$instdir_win"
check "the Start-menu folder Orvandel is gone" test ! -e "$menu_dir"
check "the uninstall entry is gone from the registry (CurrentVersion above it is still read)" key_gone "$uninstall_key"

# --- 6. Silent install for the current user only -------------------------------------------------------------

# Under Wine every user is in effect an administrator, so an install by a user without administrator rights cannot
# be shown here. What is checked instead is that this install writes nothing that needs those rights: no HKLM key,
# nothing in Program Files, ProgramData (the all users' Start menu) or Windows.
echo "installer-test: for the current user only, into $user_instdir_win"
machine_dirs=("$WINEPREFIX/drive_c/Program Files" "$WINEPREFIX/drive_c/Program Files (x86)"
  "$WINEPREFIX/drive_c/ProgramData" "$WINEPREFIX/drive_c/windows")
snapshot() { find "${machine_dirs[@]}" -printf '%y %s %T@ %p\n' 2>/dev/null | sort; }
snapshot >"$tmp/machine-before.txt"
"$wine" "$(windows_path "$setup")" /S /CurrentUser </dev/null >"$tmp/install-user.log" 2>&1
status=$?
wait_wine
check "setup.exe /S /CurrentUser exits with 0 (got $status)" test "$status" -eq 0
[ -d "$user_instdir" ] || die "the install folder $user_instdir_win does not exist after the per-user install"

check_installed "$user_instdir" "$user_instdir_win"
check "the user's Start-menu shortcut Orvandel\\Orvandel.lnk" test -s "$user_menu_dir/Orvandel.lnk"
check "the shortcut starts $user_instdir_win\\orvandel.exe" \
  links_to "$user_menu_dir/Orvandel.lnk" "$user_instdir_win\\orvandel.exe"
check_uninstall_entry "$user_uninstall_key" "$user_instdir_win"
check "no HKLM uninstall entry" key_gone "$uninstall_key"
check "no HKLM uninstall entry in the 32-bit view either" \
  key_gone 'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Orvandel'
check "no Program Files\\Orvandel, no all users' Start-menu folder" test ! -e "$instdir" -a ! -e "$menu_dir"
snapshot >"$tmp/machine-after.txt"
if diff -u "$tmp/machine-before.txt" "$tmp/machine-after.txt" >"$tmp/machine.diff"; then
  pass "nothing was added or changed in Program Files, ProgramData or Windows ($(wc -l <"$tmp/machine-after.txt") entries)"
else
  fail "the per-user install changed folders of the machine (- before, + after):"
  grep '^[-+][^-+]' "$tmp/machine.diff" | head -n 20 | sed 's/^/      /'
fi

sheets="$user_instdir_win\\orvandel-sheets.exe"
user_xlsx=$(sheets_run list "$user_instdir_win\\Samples\\sample1.xlsx"); status=$?
echo "      list Samples\\sample1.xlsx (installed for the user):"; printf '%s\n' "$user_xlsx" | sed 's/^/        /'
check "the per-user orvandel-sheets list on its Samples\\sample1.xlsx exits with 0 (got $status: $(cat "$tmp/sheets.err"))" \
  test "$status" -eq 0
check "it lists its sheets" lists_sheets "$user_xlsx"
wait_wine

"$wine" "$user_instdir_win\\uninstall.exe" /S </dev/null >"$tmp/uninstall-user.log" 2>&1
status=$?
wait_wine
check "the per-user uninstall.exe /S exits with 0 (got $status)" test "$status" -eq 0
check_folder_gone "$user_instdir" "$user_instdir_win"
check "the user's Start-menu folder Orvandel is gone" test ! -e "$user_menu_dir"
check "the HKCU uninstall entry is gone (CurrentVersion above it is still read)" key_gone "$user_uninstall_key"

# --- 7. /D= in both forms, side by side --------------------------------------------------------------------------

# Removing the per-user install while an all-users one exists shows that the uninstaller takes its form from the
# uninstall key naming its folder: the default of an administrator would be all users.
machine_dir_win='C:\Apps\Orvandel'
machine_dir=$WINEPREFIX/drive_c/Apps/Orvandel
mine_dir_win="$local_appdata_win\\Tools\\Orvandel"
mine_dir=$(unix_path "$mine_dir_win")
echo "installer-test: /D=$machine_dir_win for all users, /D=$mine_dir_win for the current user"
"$wine" "$(windows_path "$setup")" /S "/D=$machine_dir_win" </dev/null >"$tmp/install-d.log" 2>&1
status=$?
wait_wine
check "setup.exe /S /D=$machine_dir_win exits with 0 (got $status)" test "$status" -eq 0
"$wine" "$(windows_path "$setup")" /S /CurrentUser "/D=$mine_dir_win" </dev/null >"$tmp/install-user-d.log" 2>&1
status=$?
wait_wine
check "setup.exe /S /CurrentUser /D=$mine_dir_win exits with 0 (got $status)" test "$status" -eq 0
check_installed "$machine_dir" "$machine_dir_win"
check_installed "$mine_dir" "$mine_dir_win"
check "neither went to its default folder" test ! -e "$instdir" -a ! -e "$user_instdir"
read_key "$uninstall_key"
check "HKLM InstallLocation = $machine_dir_win" reg_has InstallLocation REG_SZ "$(ere "$machine_dir_win")"
read_key "$user_uninstall_key"
check "HKCU InstallLocation = $mine_dir_win" reg_has InstallLocation REG_SZ "$(ere "$mine_dir_win")"
check "the all users' shortcut starts $machine_dir_win\\orvandel.exe" \
  links_to "$menu_dir/Orvandel.lnk" "$machine_dir_win\\orvandel.exe"
check "the user's shortcut starts $mine_dir_win\\orvandel.exe" \
  links_to "$user_menu_dir/Orvandel.lnk" "$mine_dir_win\\orvandel.exe"

"$wine" "$mine_dir_win\\uninstall.exe" /S </dev/null >"$tmp/uninstall-user-d.log" 2>&1
status=$?
wait_wine
check "$mine_dir_win\\uninstall.exe /S exits with 0 (got $status)" test "$status" -eq 0
check_folder_gone "$mine_dir" "$mine_dir_win"
check "the user's Start-menu folder Orvandel is gone" test ! -e "$user_menu_dir"
check "the HKCU uninstall entry is gone" key_gone "$user_uninstall_key"
check_installed "$machine_dir" "$machine_dir_win (the all-users install is untouched)"
check "the all users' shortcut is still there" test -s "$menu_dir/Orvandel.lnk"
read_key "$uninstall_key"
check "the HKLM uninstall entry is still there" reg_has InstallLocation REG_SZ "$(ere "$machine_dir_win")"

"$wine" "$machine_dir_win\\uninstall.exe" /S </dev/null >"$tmp/uninstall-d.log" 2>&1
status=$?
wait_wine
check "$machine_dir_win\\uninstall.exe /S exits with 0 (got $status)" test "$status" -eq 0
check_folder_gone "$machine_dir" "$machine_dir_win"
check "the all users' Start-menu folder Orvandel is gone" test ! -e "$menu_dir"
check "the HKLM uninstall entry is gone" key_gone "$uninstall_key"

echo "installer-test: $((SECONDS - start)) s"
if [ $failures -gt 0 ]; then
  echo "installer-test: $failures failure(s), $passes check(s) passed"
  exit 1
fi
echo "installer-test: all $passes checks passed"
