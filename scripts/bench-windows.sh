#!/usr/bin/env bash
# The Windows build's figures under Wine beside the Linux build's: whole orvandel-sheets commands on the
# benchmark's generated workbooks, median wall time of N runs, and Wine's own cost of starting a program.
#
#   scripts/bench-windows.sh [LINUX_BUILD] [WINDOWS_BUILD] [SIZES] [RUNS]     (build, build-windows, 1,10, 5)
#
# The workbooks come from the Linux benchmark (orvandel-bench --dir), which must be built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(realpath "${1:-$root/build}")
windows=$(realpath "${2:-$root/build-windows}")
sizes=${3:-1,10}
runs=${4:-5}
qt_bin=${ORVANDEL_WINDOWS_CACHE:-$HOME/.cache/orvandel-windows}/qt6-mingw/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state

"$linux/bin/orvandel-bench" --sizes "$sizes" --only rename --reps 1 --no-libreoffice --dir "$work/gen" >/dev/null 2>&1
bash "$root/scripts/wine-run.sh" --init

# Median milliseconds of `runs` runs of a command, each on fresh copies of the workbooks it changes.
median_ms() {
  local times=() i start end
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/run" && cp -r "$work/gen" "$work/run"
    start=$(date +%s%N)
    (cd "$work/run" && "$@" >/dev/null 2>&1) || true
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

linux_tool=("$linux/bin/orvandel-sheets")
windows_tool=(bash "$root/scripts/wine-run.sh" --path "$qt_bin" -- "$windows/bin/orvandel-sheets.exe")
# Wine's first program of a session starts its services: not a figure of the build.
median_ms "${windows_tool[@]}" >/dev/null
echo "| Command | Linux | Windows build under Wine |"
echo "|---|---:|---:|"
echo "| start only (wrong arguments) | $(median_ms "${linux_tool[@]}") ms | $(median_ms "${windows_tool[@]}") ms |"
for book in "$work"/gen/workbook-*mb.xlsx; do
  name=$(basename "$book")
  for command in "list $name" "rename $name Data Facts" "copy $name Notes target-1mb.xlsx after #1"; do
    read -r -a args <<<"$command"
    echo "| \`$command\` | $(median_ms "${linux_tool[@]}" "${args[@]}") ms | $(median_ms "${windows_tool[@]}" "${args[@]}") ms |"
  done
done
