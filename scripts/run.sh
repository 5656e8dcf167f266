#!/usr/bin/env bash
# Sets up, builds and starts Orvandel.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build -DORVANDEL_TESTS=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display found; starting Orvandel on a virtual screen (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" build/bin/orvandel
fi
exec build/bin/orvandel
