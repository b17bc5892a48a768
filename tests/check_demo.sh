#!/usr/bin/env bash
# Runs the demo as the README does (scripts/run.sh), headless, on a build that
# is already made, and fails when its tour fails.
#   check_demo.sh ROOT BUILD plain      as it is
#   check_demo.sh ROOT BUILD late       as if installing and building had taken 10 minutes
#   check_demo.sh ROOT BUILD midnight   every program's clock two minutes before
#                                       midnight; the insert programme comes after it
# The tour is shortened (insert programme 40 s after the start) except at
# midnight, where it is set to begin just after midnight.
set -uo pipefail
root="$1" build="$2" mode="$3"

work=$(mktemp -d "/tmp/luma demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
log="$work/demo.out"

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM LD_PRELOAD FAKETIME
export LUMA_BUILD_DIR="$build" LUMA_DEMO_HOME="$work/home" LUMA_DEMO_SKIP_BUILD=1
export LUMA_DEMO_INSERT_AFTER=40
case "$mode" in
  plain) ;;
  late) export LUMA_DEMO_STARTED_AGO=600 ;;
  midnight)
    lib="/usr/lib/$(gcc -print-multiarch)/faketime/libfaketimeMT.so.1"
    [ -e "$lib" ] || { echo "no libfaketime at $lib"; exit 1; }
    printf -v clock '%(%H %M %S)T' -1
    read -r hh mm ss <<<"$clock"
    now=$((10#$hh * 3600 + 10#$mm * 60 + 10#$ss))
    offset=$((86400 - 120 - now))
    # 23:58:00 plus the few seconds before the demo sets its insert window:
    # 125 s later is just after midnight.
    export LD_PRELOAD="$lib" FAKETIME="+$offset" FAKETIME_DONT_FAKE_MONOTONIC=1
    export LUMA_DEMO_INSERT_AFTER=125
    ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac

"$root/scripts/run.sh" >"$log" 2>&1
status=$?
cat "$log"

problems=()
[ "$status" -eq 0 ] || problems+=("the demo exited with $status")
grep -q '\] tour complete' "$log" || problems+=("the tour did not complete")
shots=$(find "$work/home/screenshots" -name '*.png' -size +10k 2>/dev/null | wc -l)
[ "$shots" -ge 2 ] || problems+=("$shots screenshots saved, at least 2 expected")
ls "$work/home/screenshots" 2>/dev/null | grep -q 'insert' || problems+=("no screenshot of the insert programme")
stamp=$(grep -o '^\[ *[0-9]*s\] no display' "$log" | grep -o '[0-9]*' | head -n1)
[ "${stamp:-999}" -lt 60 ] || problems+=("the demo's first stamp is ${stamp:-missing}, not counted from its own start")
# The insert programme keeps the screen for its whole minute (also when the
# restarted service makes the player read the playbill again after midnight).
insert_at=$(grep -m1 'playing template Insert' "$log" | grep -o '^\[ *[0-9]*' | grep -o '[0-9]*')
after=$(grep 'playing template' "$log" | grep -A1 -m1 'Insert' | tail -n +2 | grep -o '^\[ *[0-9]*' | grep -o '[0-9]*')
if [ -n "$insert_at" ] && [ -n "$after" ] && [ $((after - insert_at)) -lt 50 ]; then
  problems+=("the insert programme left the screen after $((after - insert_at)) s of its 60")
fi
if [ "$mode" = midnight ]; then
  days=$(ls "$work/home/.local/share/lumaview/logs"/lumaview.*.log 2>/dev/null | wc -l)
  [ "$days" -ge 2 ] || problems+=("the player did not play across midnight ($days daily logs)")
fi

if [ "${#problems[@]}" -gt 0 ]; then
  for p in "${problems[@]}"; do echo "!! $p"; done
  for f in "$work/home/.local/share/lumaview/logs"/*.log "$work/home/simulator.err" "$work/home/lumalink.out"; do
    [ -f "$f" ] || continue
    echo "== tail of $f"
    tail -n 30 "$f"
  done
  exit 1
fi
echo "demo ($mode): tour complete, $shots screenshots"
