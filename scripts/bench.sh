#!/usr/bin/env bash
# Runs every benchmark of a build and prints its figures; nothing is asserted.
#   scripts/bench.sh [build folder]     (default: build)
# The programs of a cross build (build-arm64) run under its qemu-user command:
# those figures are emulated, not a device's, but a step far slower than the
# others under emulation points at code worth a look.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

dir="$(cd "${1:-$BUILD_DIR}" && pwd)"
if [ ! -x "$dir/bench/bench_player" ]; then
  echo "!! no benchmarks in $dir: build it first (scripts/test.sh or scripts/build-arm64.sh)" >&2
  exit 1
fi
prefix=()
if [ -x "$dir/run-emulated" ]; then
  prefix=("$dir/run-emulated")
fi

# A private home and the stand-ins for privileged commands, as in the tests.
home=$(mktemp -d "/tmp/luma bench.XXXXXX")
trap 'rm -rf "$home"' EXIT
export HOME="$home"
export PATH="$(shim_path):$PATH"
export QT_QPA_PLATFORM=offscreen

bench() {
  local name="$1"
  shift
  echo
  echo "== $name $*"
  local start=$SECONDS
  if ! timeout 1800 "${prefix[@]}" "$dir/bench/$name" "$@"; then
    echo "!! $name failed"
  fi
  echo "   ($name took $((SECONDS - start)) s)"
}

# The service's fixed local ports: never beside a test that uses them.
exec 9>/tmp/luma-ports.lock
flock 9
bench bench_download
bench bench_player
bench bench_transitions
bench bench_textzone
bench bench_sender
bench bench_stats
