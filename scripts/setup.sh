#!/usr/bin/env bash
# Installs, on a Debian 12 machine, the packages Orvandel needs to build, test and run.
# Idempotent: it asks apt only for what is missing and refreshes the package lists only then.
set -euo pipefail

packages=(
  g++ make cmake pkg-config
  qt6-base-dev libzip-dev libpugixml-dev libisal-dev zlib1g-dev libgtest-dev libxml2-dev
  fonts-liberation2 xvfb xauth x11-utils
  libreoffice-calc-nogui libreoffice-dev libreoffice-dev-common
  zip unzip python3 python3-olefile
  dpkg-dev file
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing: ${missing[*]}" >&2
  echo "setup: run this script as root (or install them with apt-get) and try again." >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
