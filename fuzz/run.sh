#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs one (or all) for a given time on seeds made from the
# project's fixtures. Usage:
#   fuzz/run.sh TARGET SECONDS     TARGET: fuzz_package, fuzz_workbook_xml, fuzz_formula, fuzz_legacy_listing,
#                                  fuzz_compound, fuzz_vba_project, fuzz_strict_write
#   fuzz/run.sh all SECONDS        each target in turn for SECONDS (CI: fuzz/run.sh all 30)
# Environment: ORVANDEL_FUZZ_BUILD (build folder, default build-fuzz), ORVANDEL_FUZZ_JOBS (parallel jobs of
# one target, default 1). The corpus a run grows stays in the build folder and is reused by the next run.
# Exit status 0 when no target found anything; 1 when one crashed, leaked, hung or ran out of memory (the
# input is kept under BUILD/artifacts/TARGET/ and named in the output); 2 for wrong arguments.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANDEL_FUZZ_BUILD:-$root/build-fuzz}
jobs=${ORVANDEL_FUZZ_JOBS:-1}
targets=(fuzz_package fuzz_workbook_xml fuzz_formula fuzz_legacy_listing fuzz_compound fuzz_vba_project fuzz_strict_write)

if [[ $# -ne 2 || ! $2 =~ ^[0-9]+$ ]]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi
if [[ $1 == all ]]; then
  selected=("${targets[@]}")
elif [[ " ${targets[*]} " == *" $1 "* ]]; then
  selected=("$1")
else
  echo "Unknown target '$1'; one of: ${targets[*]} or all" >&2
  exit 2
fi
seconds=$2

compiler=$(command -v clang++-14 || command -v clang++ || true)
if [[ -z $compiler ]]; then
  echo "clang is not installed: apt-get install clang-14 libclang-rt-14-dev" >&2
  exit 1
fi
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build "$build" -j2 --target "${selected[@]}" >/dev/null

fixtures=("$root"/tests/fixtures/ooxml "$root"/samples "$root"/tests/automation/libreoffice/fixtures)

# The seeds of each target, from the fixtures (made anew each run, so that new fixtures count).
make_seeds() {
  local target=$1 dir=$build/seeds/$1
  rm -rf "$dir" && mkdir -p "$dir"
  local f n=0
  case $target in
    fuzz_package)
      for f in $(find "${fixtures[@]}" -maxdepth 1 -type f -name '*.xl[st]?' -size -2M); do cp "$f" "$dir/"; done
      ;;
    fuzz_workbook_xml)
      # workbook part NUL relationships NUL content types NUL first worksheet
      for f in $(find "${fixtures[@]}" -maxdepth 1 -type f -name '*.xl[st]?'); do
        unzip -p "$f" xl/workbook.xml >/dev/null 2>&1 || continue
        {
          unzip -p "$f" xl/workbook.xml; printf '\0'
          unzip -p "$f" xl/_rels/workbook.xml.rels 2>/dev/null; printf '\0'
          unzip -p "$f" '\[Content_Types\].xml' 2>/dev/null; printf '\0'
          unzip -p "$f" xl/worksheets/sheet1.xml 2>/dev/null | dd bs=65536 count=1 iflag=fullblock 2>/dev/null
        } >"$dir/$(basename "$f").seed" || true
      done
      ;;
    fuzz_formula)
      # Every distinct formula of the fixtures' worksheets and workbook parts, markup escapes undone.
      for f in $(find "${fixtures[@]}" -maxdepth 1 -type f -name '*.xl[st]?'); do
        unzip -p "$f" 'xl/worksheets/*.xml' xl/workbook.xml 2>/dev/null |
          grep -ao '<\(f\|definedName\)[^>]*>[^<]*</' || true
      done | sed -e 's/^<[^>]*>//' -e 's/<\/$//' -e 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&apos;/'"'"'/g; s/&amp;/\&/g' |
        sort -u | awk 'NR <= 2000' | while IFS= read -r line; do
          n=$((n + 1))
          printf '%s\0Data\0New Sheet' "$line" >"$dir/formula-$n"
        done
      ;;
    fuzz_strict_write)
      # The small fixtures as they are, and again with every entry stored and a first byte choosing other
      # sheets (see the target), so that the fuzzer edits their XML itself: the target mends stored entries'
      # checksums. The producers' fixtures vary how namespaces are bound, which is what this target checks.
      local scratch=$build/seeds/scratch
      for f in $(find "$root"/tests/fixtures/producers "$root"/tests/fixtures/ooxml -maxdepth 1 -type f \
          -name '*.xl[st]?' -size -64k 2>/dev/null); do
        cp "$f" "$dir/"
        rm -rf "$scratch" && mkdir -p "$scratch/parts"
        (cd "$scratch/parts" && unzip -qq "$f" 2>/dev/null && unzip -Z1 "$f" 2>/dev/null | grep -v '/$' |
          zip -qq -0 -X -nw ../stored.zip -@ 2>/dev/null) || continue
        { printf '+'; cat "$scratch/stored.zip"; } >"$dir/stored-$(basename "$f")"
      done
      rm -rf "$scratch"
      ;;
    fuzz_vba_project)
      for f in $(find "${fixtures[@]}" -maxdepth 1 -type f -name '*.xl[st]m'); do
        unzip -p "$f" xl/vbaProject.bin >"$dir/$(basename "$f").bin" 2>/dev/null || rm -f "$dir/$(basename "$f").bin"
      done
      ;;
    fuzz_legacy_listing | fuzz_compound)
      for f in $(find "${fixtures[@]}" -maxdepth 1 -type f \( -name '*.xls' -o -name 'encrypted-*' -o -name '*.ods' \)); do
        cp "$f" "$dir/"
      done
      ;;
  esac
}

status=0
for target in "${selected[@]}"; do
  make_seeds "$target"
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target/
  mkdir -p "$corpus" "$artifacts"
  max_len=65536
  [[ $target == fuzz_package || $target == fuzz_legacy_listing || $target == fuzz_compound ||
     $target == fuzz_vba_project ||
     $target == fuzz_strict_write ]] && max_len=1048576
  echo "== $target: $seconds s, $(ls "$build/seeds/$target" | wc -l) seeds, $(ls "$corpus" | wc -l) in corpus"
  start=$(date +%s)
  parallel=()
  [[ $jobs -gt 1 ]] && parallel=(-jobs="$jobs" -workers="$jobs")
  # From the build folder, where libFuzzer's parallel jobs leave their logs.
  if ! (cd "$build" && /usr/bin/time -f '%U %S' -o "$build/$target.cpu" "$build/bin/$target" \
      -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -max_len="$max_len" "${parallel[@]}" \
      -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$build/seeds/$target" >"$build/$target.log" 2>&1); then
    status=1
    echo "!! $target found a fault; see $build/$target.log and $artifacts"
    # The end of the log without the progress lines: the finding's own words (an abort's message, an uncaught
    # exception, a sanitizer's report) and the first frames of its stack, so that a CI log alone tells what broke.
    grep -v -E '^(#[0-9]+\s|INFO:|MS: |base unit:|0x)' "$build/$target.log" | tail -n 60 || true
    # A small input is printed too, so that the finding can be replayed from the log when the machine is gone.
    for input in "$artifacts"*; do
      [[ -f $input && $(stat -c %s "$input") -le 49152 ]] || continue
      echo "-- $(basename "$input"), base64:"
      base64 -w 0 "$input" && echo
    done
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" | tail -2 || true
  cpu=$(tail -n 1 "$build/$target.cpu" | awk '{ printf "%.1f", ($1 + $2) / 60 }')
  echo "   $(( $(date +%s) - start )) s wall, $cpu CPU-minutes"
done
exit $status
