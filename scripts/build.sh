#!/usr/bin/env bash
# Configures and builds Orvandel into a build folder: scripts/build.sh BUILD_DIR [extra cmake arguments].
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: scripts/build.sh BUILD_DIR [cmake arguments]}
shift
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
