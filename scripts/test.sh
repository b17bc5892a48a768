#!/usr/bin/env bash
# Installs what is missing, builds and runs every test; then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer.
# LUMA_SKIP_SANITIZERS=1 skips the second pass. Tests run LUMA_TEST_JOBS at a
# time (default 2); those that share a fixed local port carry a CTest resource
# lock, so they never overlap.
# LUMA_ARM64=1 then also cross-builds for arm64, runs the arm64 tests under
# qemu-user and makes the arm64 package (scripts/build-arm64.sh; slow, so not
# part of the default run).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_packages

echo "== clang-format check"
cd "$ROOT"
mapfile -t SOURCES < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find common lumalink lumaview tests tools bench -name '*.cpp' -o -name '*.h')
if [ "${#SOURCES[@]}" -gt 0 ]; then
  clang-format --dry-run --Werror "${SOURCES[@]}"
fi

configure_and_build "$BUILD_DIR"
export QT_QPA_PLATFORM=offscreen
TEST_JOBS="${LUMA_TEST_JOBS:-2}"
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$TEST_JOBS")

if [ "${LUMA_SKIP_SANITIZERS:-0}" != "1" ]; then
  echo "== sanitizer pass (AddressSanitizer + UndefinedBehaviorSanitizer)"
  configure_and_build "$ROOT/build-asan" -DLUMA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:suppressions=$ROOT/scripts/asan.supp"
  export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  (cd "$ROOT/build-asan" && ctest --output-on-failure -j "$TEST_JOBS")
fi

if [ "${LUMA_ARM64:-0}" = "1" ]; then
  echo "== arm64: cross build, tests under qemu-user, package"
  "$ROOT/scripts/build-arm64.sh"
fi
