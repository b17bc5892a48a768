#!/usr/bin/env bash
# Runs the connection service against the simulator's hostile modes, one
# mode at a time, each for the given seconds (default 60), and prints for
# each: whether the service is still running, whether it answers a request
# once the server behaves again, whether its player still runs, its peak
# memory (RSS), its CPU seconds and the bytes it wrote to disk during the mode
# (and how much the data folder of both programs grew). A trial, not a test: it asserts
# nothing, but ends non-zero when the service died in a mode.
#   scripts/hostile-trial.sh [seconds] [mode ...]
# Modes: deep huge giant flood nan md5 drip (default: all). Each mode runs in
# its own home with the stand-ins for privileged commands first in PATH; the
# player the service's watchdog starts runs offscreen. Uses the build in
# build/ (LUMA_BUILD_DIR), building it when it is missing. LUMA_TRIAL_KEEP=1
# keeps the homes (logs, data) for a look afterwards.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SECONDS_PER_MODE="${1:-60}"
shift || true
ALL_MODES=(deep huge giant flood nan md5 drip)
MODES=("$@")
[ "${#MODES[@]}" -gt 0 ] || MODES=("${ALL_MODES[@]}")
SIM_PORT="${LUMA_SIM_PORT:-9320}"
HTTP_PORT=$((SIM_PORT + 1))
CONTROL_PORT=$((SIM_PORT + 2))

if [ ! -x "$BUILD_DIR/lumalink/lumalink" ] || [ ! -x "$BUILD_DIR/tools/sim/lumasim" ]; then
  install_packages
  configure_and_build "$BUILD_DIR"
fi

export PATH="$(shim_path):$PATH"
export QT_QPA_PLATFORM=offscreen
# The service's fixed local ports: never beside a test that uses them.
exec 9>/tmp/luma-ports.lock
flock 9

TRIAL_ROOT=$(mktemp -d /tmp/luma-trial.XXXXXX)
SIM_PID="" SERVICE_PID=""
cleanup() {
  stop_pid "$SERVICE_PID"
  stop_pid "$SIM_PID"
  for home in "$TRIAL_ROOT"/*/; do
    for pid in $(players_of "${home%/}"); do stop_pid "$pid"; done
  done
  if [ "${LUMA_TRIAL_KEEP:-0}" = 1 ]; then
    echo "== homes kept in $TRIAL_ROOT"
  else
    rm -rf "$TRIAL_ROOT"
  fi
}
trap cleanup EXIT

reports() { control status | sed -n 's/^reports=//p'; }
# The session works: an environment request is answered within a minute.
answers() {
  local before
  before=$(reports)
  for _ in $(seq 1 12); do
    control "push 278 9 trial" >/dev/null
    for _ in $(seq 1 5); do
      [ "$(reports)" -gt "${before:-0}" ] && return 0
      sleep 1
    done
  done
  return 1
}
io_written() { awk '/^write_bytes:/ {print $2}' "/proc/$1/io" 2>/dev/null || echo 0; }
cpu_seconds() { # utime + stime of a process, in seconds
  awk -v hz="$(getconf CLK_TCK)" '{printf "%.1f", ($14 + $15) / hz}' "/proc/$1/stat" 2>/dev/null || echo "?"
}
peak_rss_mb() { awk '/^VmHWM:/ {printf "%d", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo "?"; }

# How often each mode does its harm again while it runs (seconds; 0: once).
declare -A REPEAT=([deep]=10 [huge]=10 [giant]=10 [flood]=5 [nan]=5 [md5]=10 [drip]=0)

results=()
died=0
for mode in "${MODES[@]}"; do
  if [ -z "${REPEAT[$mode]+set}" ]; then
    echo "!! unknown mode $mode (modes: ${ALL_MODES[*]})" >&2
    exit 2
  fi
  home="$TRIAL_ROOT/$mode"
  data="$home/.local/share/lumaview"
  mkdir -p "$data/data" "$home/app"
  cp "$BUILD_DIR/lumalink/lumalink" "$BUILD_DIR/lumaview/lumaview" "$home/app/"
  printf '{ "connHost": "127.0.0.1:%s", "password": "trial" }\n' "$SIM_PORT" >"$data/data/status.json"

  "$BUILD_DIR/tools/sim/lumasim" --port "$SIM_PORT" --http-port "$HTTP_PORT" \
    --control-port "$CONTROL_PORT" --no-stdin --content "$ROOT/tools/sample-content" \
    --log "$home/simulator.log" 2>"$home/simulator.err" &
  SIM_PID=$!
  wait_for_simulator
  # Downloads that never match are wrong from the first one on.
  [ "$mode" = md5 ] && control "hostile md5" >/dev/null

  (cd "$home/app" && HOME="$home" LUMA_SHIM_LOG="$home/privileged-calls.log" exec ./lumalink >"$home/lumalink.out" 2>&1) &
  SERVICE_PID=$!
  answers || echo "   (the service did not answer before the trial began)"
  echo "== $mode for $SECONDS_PER_MODE s (service pid $SERVICE_PID, home $home)"

  written_before=$(io_written "$SERVICE_PID")
  home_before=$(du -sb "$data" | cut -f1)
  start=$SECONDS
  next=$start
  while [ $((SECONDS - start)) -lt "$SECONDS_PER_MODE" ]; do
    if [ "$SECONDS" -ge "$next" ]; then
      reply=$(control "hostile $mode" | tail -n 1)
      echo "   [$((SECONDS - start)) s] hostile $mode: $reply"
      if [ "${REPEAT[$mode]}" -gt 0 ]; then next=$((SECONDS + REPEAT[$mode])); else next=$((start + 1000000)); fi
    fi
    kill -0 "$SERVICE_PID" 2>/dev/null || break
    sleep 1
  done

  alive=no again=no
  if kill -0 "$SERVICE_PID" 2>/dev/null; then
    alive=yes
    rss=$(peak_rss_mb "$SERVICE_PID")
    cpu=$(cpu_seconds "$SERVICE_PID")
    written=$(($(io_written "$SERVICE_PID") - written_before))
  else
    rss="?" cpu="?" written="?"
    died=1
  fi
  control "hostile off" >/dev/null
  answers && again=yes
  grown=$(($(du -sb "$data" | cut -f1) - home_before))
  player=no
  [ -n "$(players_of "$home")" ] && player=yes
  line=$(printf '%-6s running: %-3s  answers after: %-3s  player running: %-3s  peak RSS: %4s MB  CPU: %5s s  written: %s bytes (data folder grew %s bytes)' \
    "$mode" "$alive" "$again" "$player" "$rss" "$cpu" "$written" "$grown")
  echo "   $line"
  results+=("$line")

  stop_pid "$SERVICE_PID"
  SERVICE_PID=""
  for pid in $(players_of "$home"); do stop_pid "$pid"; done
  stop_pid "$SIM_PID"
  SIM_PID=""
done

echo "== summary (${SECONDS_PER_MODE} s per mode)"
printf '   %s\n' "${results[@]}"
exit "$died"
