#!/usr/bin/env bash
# Shared set-up for the entry scripts: Debian packages, configure, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${LUMA_BUILD_DIR:-$ROOT/build}"
JOBS="${LUMA_JOBS:-2}"

PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libsqlite3-dev
  qtmultimedia5-dev libqt5multimedia5-plugins libqt5multimediawidgets5
  libqt5webkit5-dev libpoppler-qt5-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  xvfb xauth wget zip unzip clang-format fonts-wqy-zenhei
  gstreamer1.0-tools faketime sqlite3 # demo video, next-day statistics, play counts
  systemd # the package test checks the user unit with systemd-analyze
  lintian # ... and the whole package with Debian's checks
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# What the arm64 cross build adds (scripts/build-arm64.sh): the cross
# compiler, the arm64 side of every library the programs link or load, and
# qemu-user to run the arm64 programs here.
ARM64_PACKAGES=(
  crossbuild-essential-arm64 qemu-user-static binfmt-support
  qtbase5-dev:arm64 libqt5sql5-sqlite:arm64 libsqlite3-dev:arm64
  qtmultimedia5-dev:arm64 libqt5multimediawidgets5:arm64 libqt5multimedia5-plugins:arm64
  libqt5webkit5-dev:arm64 libpoppler-qt5-dev:arm64
  gstreamer1.0-plugins-base:arm64 gstreamer1.0-plugins-good:arm64 gstreamer1.0-libav:arm64
  libfaketime:arm64 # the end-to-end test's next-day service
)

install_packages() {
  install_package_list "${PACKAGES[@]}"
}

# The package test checks the sudoers rule with visudo, which comes with sudo.
# Where sudo is not installed, its package is unpacked into build-tools/sudo,
# never installed: the tests run as root and must not reach the real sudo.
fetch_visudo() {
  local dest="$ROOT/build-tools/sudo" tmp
  if command -v visudo >/dev/null 2>&1 || [ -x "$dest/usr/sbin/visudo" ]; then
    return
  fi
  echo "== unpacking visudo from sudo's package into $dest (not installing sudo)"
  tmp=$(mktemp -d)
  if ! (cd "$tmp" && apt-get download sudo); then
    as_root apt-get update
    (cd "$tmp" && apt-get download sudo)
  fi
  dpkg -x "$tmp"/sudo_*.deb "$tmp/root"
  # Only visudo and the library it links: no sudo, no setuid file.
  mkdir -p "$dest/usr/sbin" "$dest/usr/libexec/sudo"
  cp "$tmp/root/usr/sbin/visudo" "$dest/usr/sbin/"
  cp -P "$tmp"/root/usr/libexec/sudo/libsudo_util.so* "$dest/usr/libexec/sudo/"
  chmod -R u-s,g-s "$dest"
  rm -rf "$tmp"
}

install_arm64_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    echo "== adding the arm64 architecture to dpkg"
    as_root dpkg --add-architecture arm64
  fi
  install_package_list "${ARM64_PACKAGES[@]}"
}

# The tests start the arm64 programs (service, player, simulator) themselves:
# the kernel must hand arm64 executables to qemu (binfmt_misc).
enable_qemu_binfmt() {
  local entry=/proc/sys/fs/binfmt_misc/qemu-aarch64
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || true
  fi
  if ! grep -qx enabled "$entry" 2>/dev/null; then
    as_root update-binfmts --enable qemu-aarch64 || true
  fi
  if ! grep -qx enabled "$entry" 2>/dev/null; then
    echo "!! arm64 programs cannot be started here: binfmt_misc has no enabled qemu-aarch64 entry" >&2
    exit 1
  fi
}

# require_aarch64 <file>: fails unless the file is an arm64 executable.
require_aarch64() {
  if ! readelf -h "$1" 2>/dev/null | grep -q 'Machine:.*AArch64'; then
    echo "!! $1 is not an arm64 executable" >&2
    exit 1
  fi
}

# check_package_machine <deb> <machine>: every ELF file the package holds is
# built for the machine readelf names (AArch64, Advanced Micro Devices X86-64).
check_package_machine() {
  local deb="$1" machine="$2" tmp file count=0
  tmp=$(mktemp -d)
  dpkg-deb -x "$deb" "$tmp"
  while IFS= read -r -d '' file; do
    if head -c 4 "$file" | grep -q $'\x7fELF'; then
      if ! readelf -h "$file" | grep -q "Machine:.*$machine"; then
        echo "!! ${file#"$tmp"} in $deb is not built for $machine" >&2
        rm -rf "$tmp"
        exit 1
      fi
      echo "   ${file#"$tmp"}: $machine"
      count=$((count + 1))
    fi
  done < <(find "$tmp" -type f -print0)
  rm -rf "$tmp"
  if [ "$count" -eq 0 ]; then
    echo "!! $deb holds no program" >&2
    exit 1
  fi
}

install_package_list() {
  local missing=()
  for pkg in "$@"; do
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

# --- Helpers of the trials (hostile-trial.sh, fault-trial.sh) ---

stop_pid() { # pid: end a process this script started
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$1" 2>/dev/null || true
}

started_in() { # program home: the processes of that name whose HOME is home
  local pid
  for pid in $(pgrep -x "$1" 2>/dev/null || true); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "HOME=$2"; then
      echo "$pid"
    fi
  done
}

players_of() { # home: the players the service of that home started
  started_in lumaview "$1"
}

control() { # command: the simulator's reply on $CONTROL_PORT, up to its "ok" or "error:" line
  local line
  { exec 3<>"/dev/tcp/127.0.0.1/$CONTROL_PORT"; } 2>/dev/null || return 0
  printf '%s\n' "$1" >&3
  while IFS= read -r -t 10 line <&3; do
    echo "$line"
    case "$line" in ok* | error:*) break ;; esac
  done
  exec 3>&-
}

wait_for_simulator() { # up to 20 s, until the simulator's control socket answers
  for _ in $(seq 1 100); do
    [ -n "$(control status)" ] && return 0
    sleep 0.2
  done
}
