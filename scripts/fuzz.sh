#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang 14, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer in build-fuzz/, then runs each target for the
# given number of seconds (default 60), one after the other.
#   scripts/fuzz.sh [seconds] [target ...]     (default: every target)
# A target's corpus is fuzz/corpus/<target>/: its seeds are where it starts,
# and every new input it finds interesting is kept there as a new file (the
# normal build replays that folder as the CTest fuzz_replay_<target>). A crash,
# leak, sanitizer report or hang is kept in build-fuzz/findings/<target>/; the
# summary at the end gives each target's executions and findings.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

FUZZ_SECONDS="${1:-60}"
shift || true
ALL_TARGETS=(frames params requests xml_service xml_player notify playlog journal status weather power)
TARGETS=("$@")
[ "${#TARGETS[@]}" -gt 0 ] || TARGETS=("${ALL_TARGETS[@]}")
FUZZ_DIR="${LUMA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"

install_package_list "${PACKAGES[@]}" clang-14 libclang-rt-14-dev

cmake -S "$ROOT" -B "$FUZZ_DIR" -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMA_FUZZ=ON -DLUMA_BUILD_TESTS=OFF -DLUMA_WERROR=ON
nice -n 15 cmake --build "$FUZZ_DIR" -j "$JOBS" --target "${TARGETS[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:suppressions=$ROOT/scripts/asan.supp"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

summary=()
failed=0
for target in "${TARGETS[@]}"; do
  corpus="$ROOT/fuzz/corpus/$target"
  findings="$FUZZ_DIR/findings/$target"
  log="$FUZZ_DIR/findings/$target.log"
  mkdir -p "$corpus" "$findings"
  before=$(find "$corpus" -type f | wc -l)
  found_before=$(find "$findings" -type f | wc -l)
  echo "== fuzz_$target for ${FUZZ_SECONDS}s (log: $log)"
  status=0
  nice -n 15 "$FUZZ_DIR/fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -max_len=65536 \
    -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" > "$log" 2>&1 || status=$?
  execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  new=$(($(find "$corpus" -type f | wc -l) - before))
  found=$(($(find "$findings" -type f | wc -l) - found_before))
  line="$target: ${execs:-?} executions, $new new corpus files, $found findings"
  if [ "$status" -ne 0 ] || [ "$found" -gt 0 ]; then
    line="$line (exit $status)"
    failed=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|.*check failed)' "$log" | head -5 || true
  fi
  echo "   $line"
  summary+=("$line")
done

echo "== summary"
printf '   %s\n' "${summary[@]}"
exit "$failed"
