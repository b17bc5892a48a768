#!/usr/bin/env bash
# Installs what is missing, builds and runs every test; then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer.
# LUMA_SKIP_SANITIZERS=1 skips the second pass. Tests run LUMA_TEST_JOBS at a
# time (default 2); those that share a fixed local port carry a CTest resource
# lock, so they never overlap.
# Then the same tests built with ThreadSanitizer; a report from any program the
# tests start (service and player included) fails the run. Debian's Qt is not
# built for it, so only races inside Qt's own libraries are left out
# (scripts/tsan.supp). LUMA_SKIP_TSAN=1 skips this pass.
# LUMA_ARM64=1 then also cross-builds for arm64, runs the arm64 tests under
# qemu-user and makes the arm64 package (scripts/build-arm64.sh; slow, so not
# part of the default run).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_packages
fetch_visudo

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

if [ "${LUMA_SKIP_TSAN:-0}" != "1" ]; then
  echo "== ThreadSanitizer pass"
  configure_and_build "$ROOT/build-tsan" -DLUMA_TSAN=ON
  TSAN_REPORTS="$ROOT/build-tsan/tsan-reports"
  rm -rf "$TSAN_REPORTS"
  mkdir -p "$TSAN_REPORTS"
  # Accesses made by uninstrumented libraries (Qt's memcpy, malloc, ...) are
  # not checked; each process writes its reports to a file of its own.
  export TSAN_OPTIONS="suppressions=$ROOT/scripts/tsan.supp:ignore_noninstrumented_modules=1:halt_on_error=0:second_deadlock_stack=1:log_path=$TSAN_REPORTS/report"
  tsan_status=0
  (cd "$ROOT/build-tsan" && ctest --output-on-failure -j "$TEST_JOBS") || tsan_status=$?
  if grep -l "WARNING: ThreadSanitizer" "$TSAN_REPORTS"/* > /dev/null 2>&1; then
    for report in $(grep -l "WARNING: ThreadSanitizer" "$TSAN_REPORTS"/*); do
      echo "== $report"
      cat "$report"
    done
    echo "ThreadSanitizer reported races (above)" >&2
    tsan_status=1
  fi
  unset TSAN_OPTIONS
  [ "$tsan_status" = "0" ] || exit "$tsan_status"
fi

if [ "${LUMA_ARM64:-0}" = "1" ]; then
  echo "== arm64: cross build, tests under qemu-user, package"
  "$ROOT/scripts/build-arm64.sh"
fi
