#!/usr/bin/env bash
# Shared set-up for the entry scripts: Debian packages, configure, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${LUMA_BUILD_DIR:-$ROOT/build}"
JOBS="${LUMA_JOBS:-2}"

PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite
  qtmultimedia5-dev libqt5multimedia5-plugins libqt5multimediawidgets5
  libqt5webkit5-dev libpoppler-qt5-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  xvfb xauth wget zip unzip clang-format fonts-wqy-zenhei
  gstreamer1.0-tools faketime sqlite3 # demo video, next-day statistics, play counts
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local missing=()
  for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    echo "== all Debian packages present"
    return
  fi
  echo "== installing: ${missing[*]}"
  as_root apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# configure_and_build <build dir> [extra cmake args...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="${LUMA_BUILD_TYPE:-RelWithDebInfo}" \
    -DLUMA_WERROR=ON "$@"
  cmake --build "$dir" -j "$JOBS"
}

# Folder of stand-ins for the privileged commands; put first in PATH.
shim_path() {
  echo "$ROOT/scripts/shims"
}
