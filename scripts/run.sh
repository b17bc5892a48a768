#!/usr/bin/env bash
# The demo: installs what is missing, builds, and runs the whole terminal
# against the project's signage-server simulator with content made at build
# time (two templates in rotation, an insert programme shortly after the
# start, pictures with transitions, weather, clocks, a scrolling caption, a
# video, a PDF and a local web page).
#
# It runs in a demo home (build/demo-home) with stand-ins for every privileged
# command first in PATH, so nothing is shut down, rebooted or re-timed. On a
# desktop the player plays full screen until Ctrl-C; without a display it runs
# on a virtual screen (Xvfb), saves a screenshot of every template it shows and
# ends by itself. Ctrl-C stops everything it started.
#   LUMA_DEMO_SECONDS   keep playing this long after the tour, then stop (without
#                       a display the default is 0; on a desktop the demo plays
#                       until Ctrl-C unless it is set)
#   LUMA_DEMO_INSERT_AFTER  seconds from the demo's start to the insert programme (100)
#   LUMA_DEMO_STEP_LIMIT    seconds the demo waits for each next step of the tour
#                           before it gives up and names the step (180)
#   LUMA_DEMO_HOME          the demo home (build/demo-home)
#   LUMA_DEMO_SKIP_BUILD=1  use the build as it is (the tests run the demo so)
#   LUMA_DEMO_STARTED_AGO   seconds the script pretends it was started earlier,
#                           as if installing and building had taken that long
# Every time the demo names or waits on counts from the moment the demo itself
# starts, after installing and building. Run under a time shift (libfaketime's
# LD_PRELOAD and a relative FAKETIME such as "+3600"), the demo and every
# program it starts share the shifted clock.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SIM_PORT="${LUMA_SIM_PORT:-9300}"
HTTP_PORT="${LUMA_SIM_HTTP_PORT:-9301}"
CONTROL_PORT="${LUMA_SIM_CONTROL_PORT:-9310}"
INSERT_AFTER="${LUMA_DEMO_INSERT_AFTER:-100}"
INSERT_LENGTH=60
STEP_LIMIT="${LUMA_DEMO_STEP_LIMIT:-180}"
DEMO_HOME="${LUMA_DEMO_HOME:-$BUILD_DIR/demo-home}"
DATA="$DEMO_HOME/.local/share/lumaview"
SHOTS="$DEMO_HOME/screenshots"
# Time is read with bash's own clock: `date` is one of the stand-ins in PATH.
SCRIPT_START=$((EPOCHSECONDS - ${LUMA_DEMO_STARTED_AGO:-0}))

install_packages
if [ "${LUMA_DEMO_SKIP_BUILD:-0}" != "1" ]; then
  mkdir -p "$BUILD_DIR"
  echo "== building (log: $BUILD_DIR/build.log)"
  if ! configure_and_build "$BUILD_DIR" >"$BUILD_DIR/build.log" 2>&1; then
    tail -n 40 "$BUILD_DIR/build.log"
    echo "== the build failed"
    exit 1
  fi
fi
echo "== ready after $((EPOCHSECONDS - SCRIPT_START)) s of installing and building; the demo starts"

# The demo's own clock starts here: stamps, step limits and the insert window
# count from now, however long the packages and the build took.
START=$EPOCHSECONDS
say() { printf '[%4ds] %s\n' "$((EPOCHSECONDS - START))" "$*"; }

# bash's clock is never shifted by libfaketime; the programs' clock is. The
# difference is read once from a program that is (perl is always there).
CLOCK_OFFSET=0
if [[ "${LD_PRELOAD:-}" == *faketime* ]] && [ -n "${FAKETIME:-}" ]; then
  CLOCK_OFFSET=$(($(perl -e 'print time') - EPOCHSECONDS))
fi
if [ ! -f "$BUILD_DIR/demo-content/day-play.xml" ]; then
  echo "== no demo content in $BUILD_DIR/demo-content (target demo_content)"
  exit 1
fi

port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for port in 12222 12223 "$SIM_PORT" "$HTTP_PORT" "$CONTROL_PORT"; do
  if port_taken "$port"; then
    echo "== port $port is in use (a terminal or another demo runs on this machine); stop it first"
    exit 1
  fi
done

# --- a fresh demo home -------------------------------------------------------
# A home named by LUMA_DEMO_HOME is emptied only when this demo made it (it
# carries a mark).
if [ -n "${LUMA_DEMO_HOME:-}" ] && [ -d "$DEMO_HOME" ] && [ -n "$(ls -A "$DEMO_HOME")" ] && [ ! -e "$DEMO_HOME/.luma-demo-home" ]; then
  echo "== $DEMO_HOME holds files the demo did not make; choose another LUMA_DEMO_HOME"
  exit 1
fi
rm -rf "$DEMO_HOME"
mkdir -p "$DATA/data" "$SHOTS" "$DEMO_HOME/app"
touch "$DEMO_HOME/.luma-demo-home"
export HOME="$DEMO_HOME"
export PATH="$(shim_path):$PATH"
export LUMA_SHIM_LOG="$DEMO_HOME/privileged-calls.log"

# The installed layout: the two programs in one folder, where the service's
# watchdog finds the player next to its own program (copies: a link would
# lead it back to the build folder).
cp "$BUILD_DIR/lumalink/lumalink" "$BUILD_DIR/lumaview/lumaview" "$DEMO_HOME/app/"

# The insert programme's window is set now, a little after the start, in
# seconds since the midnight that starts today's playbill. Near midnight the
# window simply runs on past 86399 into the next day (the player counts on
# from the playbill's date), so a demo started at 23:58 still shows it.
CONTENT="$DEMO_HOME/content"
cp -r "$BUILD_DIR/demo-content" "$CONTENT"
printf -v clock '%(%Y-%m-%d %H %M %S)T' "$((EPOCHSECONDS + CLOCK_OFFSET))"
read -r today hh mm ss <<<"$clock"
now_secs=$((10#$hh * 3600 + 10#$mm * 60 + 10#$ss))
insert_begin=$((now_secs + INSERT_AFTER))
insert_end=$((insert_begin + INSERT_LENGTH))
INSERT_AT=$((START + INSERT_AFTER))
sed -i -e "s/@INSERT_BEGIN@/$insert_begin/" -e "s/@INSERT_END@/$insert_end/" \
  -e "s/@TODAY@/$today/g" "$CONTENT/day-play.xml"
# The web zone names its downloaded page by its place under this home.
data_root=${DATA//\\/\\\\}
data_root=${data_root//&/\\&}
data_root=${data_root//|/\\|}
sed -i -e "s|@DATA_ROOT@|$data_root|g" "$CONTENT"/zone/*

# --- stopping: every process by its pid --------------------------------------
SIM_PID="" SERVICE_PID="" XVFB_PID=""
player_pids() { # players running with this demo's HOME
  local exe pid
  exe=$(readlink -f "$DEMO_HOME/app/lumaview")
  for dir in /proc/[0-9]*; do
    [ "$(readlink "$dir/exe" 2>/dev/null)" = "$exe" ] || continue
    tr '\0' '\n' <"$dir/environ" 2>/dev/null | grep -qxF "HOME=$DEMO_HOME" || continue
    pid=${dir#/proc/}
    echo "$pid"
  done
}
stop_pid() {
  local pid="$1"
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}
STOPPED=0
cleanup() {
  [ "$STOPPED" -eq 1 ] && return
  STOPPED=1
  trap - INT TERM
  local pid
  for pid in $(player_pids); do stop_pid "$pid"; done
  stop_pid "$SERVICE_PID"
  for pid in $(player_pids); do stop_pid "$pid"; done # one the watchdog just started
  stop_pid "$SIM_PID"
  stop_pid "$XVFB_PID"
  wait 2>/dev/null || true
  say "stopped the simulator, the service, the player${XVFB_PID:+ and the virtual screen}"
}
trap cleanup EXIT
trap 'echo; cleanup; exit 130' INT TERM

# --- a screen ------------------------------------------------------------------
HEADLESS=0
# give_up <what did not happen>: ends the demo with a message naming it.
give_up() {
  say "$1"
  exit 1
}
if [ -z "${DISPLAY:-}" ]; then
  HEADLESS=1
  command -v Xvfb >/dev/null || give_up "no display and no Xvfb to make one"
  display=""
  for n in $(seq 97 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
  done
  [ -n "$display" ] || give_up "no free display number from :97 to :140 for the virtual screen (each has a lock in /tmp/.X*-lock); remove stale locks or set DISPLAY"
  Xvfb "$display" -screen 0 1280x720x24 -nolisten tcp >"$DEMO_HOME/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 1 200); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X${display#:}" ] && kill -0 "$XVFB_PID" 2>/dev/null ||
    give_up "the virtual screen (Xvfb $display) did not start within 20 s; see $DEMO_HOME/xvfb.log"
  export DISPLAY="$display"
  # The programs draw on that screen, whatever platform the caller chose.
  export QT_QPA_PLATFORM=xcb
  say "no display: playing on the virtual screen $DISPLAY (1280x720)"
fi

# --- simulator and service -----------------------------------------------------
"$BUILD_DIR/tools/sim/lumasim" --port "$SIM_PORT" --http-port "$HTTP_PORT" \
  --control-port "$CONTROL_PORT" --no-stdin --content "$CONTENT" \
  --log "$DEMO_HOME/simulator.log" 2>"$DEMO_HOME/simulator.err" &
SIM_PID=$!
for _ in $(seq 1 200); do
  port_taken "$SIM_PORT" && break
  kill -0 "$SIM_PID" 2>/dev/null || break
  sleep 0.1
done
port_taken "$SIM_PORT" && kill -0 "$SIM_PID" 2>/dev/null ||
  give_up "the simulator did not start listening on 127.0.0.1:$SIM_PORT within 20 s; see $DEMO_HOME/simulator.err"
say "simulator on 127.0.0.1:$SIM_PORT (HTTP $HTTP_PORT, control $CONTROL_PORT), content $CONTENT"

# What an installer types into the configuration window on first start.
cat >"$DATA/data/status.json" <<JSON
{ "connHost": "127.0.0.1:$SIM_PORT", "password": "demo-password" }
JSON

start_service() { # [faketime offset in seconds from the real clock]
  (
    cd "$DEMO_HOME/app"
    if [ -n "${1:-}" ]; then
      export LD_PRELOAD="$FAKETIME_LIB" FAKETIME="+$1" FAKETIME_DONT_FAKE_MONOTONIC=1
    fi
    exec ./lumalink >>"$DEMO_HOME/lumalink.out" 2>&1
  ) &
  SERVICE_PID=$!
}
start_service
say "lumalink started (pid $SERVICE_PID) in $DEMO_HOME/app, home $DEMO_HOME"

# --- following what happens ----------------------------------------------------
service_log() { cat "$DATA"/logs/lumalink.*.log 2>/dev/null || true; }
player_log() { cat "$DATA"/logs/lumaview.*.log 2>/dev/null || true; }
plays() {
  command -v sqlite3 >/dev/null && [ -f "$DATA/data/playdata.db" ] || { echo "?"; return; }
  sqlite3 -readonly -cmd ".timeout 3000" "$DATA/data/playdata.db" \
    "SELECT COALESCE(SUM(times), 0) FROM play_detail" 2>/dev/null || echo "?"
}
template_title() {
  local title
  title=$(awk -F'\t' -v n="$1" '$1 == n {print $2}' "$CONTENT/templates.txt")
  echo "${title:-$1}"
}
screenshot() { # file
  if "$BUILD_DIR/tools/demo/lumademo" grab "$1" 2>/dev/null; then return 0; fi
  # No X11 screen to read (Wayland): the terminal's own screenshot report.
  control "push 278 13 demo-shot" >/dev/null
  sleep 3
  control "screenshot $1" | grep -q '^ok'
}
control() {
  { exec 3<>"/dev/tcp/127.0.0.1/$CONTROL_PORT" && printf '%s\n' "$1" >&3 && timeout 2 cat <&3; } 2>/dev/null || true
  exec 3>&- 2>/dev/null || true
}

# The time shift of the host's own architecture: an arm64 build installs
# arm64's libfaketime beside it (scripts/build-arm64.sh).
FAKETIME_LIB="/usr/lib/$(gcc -print-multiarch 2>/dev/null || true)/faketime/libfaketimeMT.so.1"
[ -e "$FAKETIME_LIB" ] || FAKETIME_LIB=""
connected=0 switched=0 player=0 shown=0 restarted=0 uploaded=0 insert_seen=0
seen_templates=0 tour_done_at=0 RESULT=0
declare -A shot_of
# The tour goes by events: each next step gets STEP_LIMIT seconds from the
# step before it (the insert programme from its own start time).
last_step=$START
step() { # a step of the tour happened: say it, and the next one gets its time
  last_step=$EPOCHSECONDS
  say "$@"
}
waiting_for() { # the next step of the tour, and when it is due at the latest
  local from=$last_step
  if [ "$connected" -eq 0 ]; then
    echo "the service to log in to the simulator"
  elif [ "$switched" -eq 0 ]; then
    echo "the downloads and the new playbill"
  elif [ "$player" -eq 0 ]; then
    echo "the service's watchdog to start the player"
  elif [ "$shown" -eq 0 ]; then
    echo "the player to show its first template"
  elif [ "$insert_seen" -eq 0 ]; then
    [ "$INSERT_AT" -gt "$from" ] && from=$INSERT_AT
    echo "the insert programme, due at [$((INSERT_AT - START))s]"
  elif [ "$uploaded" -eq 0 ]; then
    echo "the statistics upload of the restarted service"
  else
    echo "the screenshots"
  fi
  echo "$((from + STEP_LIMIT))"
}

while :; do
  sleep 1
  now=$EPOCHSECONDS
  log=$(service_log)

  if [ "$connected" -eq 0 ] && grep -q '"status": *4' "$DATA/data/status.json" 2>/dev/null; then
    connected=1
    terminal=$(grep -o '"terminalId": *"[^"]*"' "$DATA/data/status.json" | cut -d'"' -f4)
    step "connected to the simulator and authorized as terminal $terminal"
  fi
  if [ "$switched" -eq 0 ] && [ -f "$DATA/data/day-play.xml" ]; then
    switched=1
    files=$(grep -c 'Downloaded file:' <<<"$log" || true)
    step "$files files downloaded and verified (MD5), new playbill switched in, player told to reload"
  fi
  if [ "$player" -eq 0 ] && [ -n "$(player_pids)" ]; then
    player=1
    step "the service's watchdog started the player (pid $(player_pids | head -n1))"
  fi

  # Each template change the player logs: name it and photograph it once.
  mapfile -t changes < <(player_log | grep -o 'Show template [^,]*' | sed 's/Show template //')
  while [ "$shown" -lt "${#changes[@]}" ]; do
    name=${changes[$shown]}
    shown=$((shown + 1))
    title=$(template_title "$name")
    if [ "$tour_done_at" -gt 0 ]; then
      : # after the tour the rotation goes on quietly
    elif [ "$restarted" -eq 0 ]; then
      step "playing template $title · plays recorded by the service so far: $(plays)"
    else
      step "playing template $title"
    fi
    [[ "$title" == Insert* ]] && insert_seen=1
    if [ -z "${shot_of[$name]:-}" ]; then
      shot_of[$name]="pending:$((now + 5))"
    fi
  done
  for name in "${!shot_of[@]}"; do
    state=${shot_of[$name]}
    [[ "$state" == pending:* ]] || continue
    [ "$now" -ge "${state#pending:}" ] || continue
    seen_templates=$((seen_templates + 1))
    file="$SHOTS/$(printf '%02d' "$seen_templates")-$(template_title "$name" | cut -d' ' -f1 | tr 'A-Z' 'a-z').png"
    if screenshot "$file"; then
      shot_of[$name]="$file"
      step "  screenshot: $file"
    else
      shot_of[$name]="failed"
      say "  (no screenshot could be taken)"
    fi
  done

  # Once the insert programme is on, the service is restarted as on the next
  # day: it adds up the plays per hour (only past days are added up) and
  # uploads them. The player keeps playing and keeps its plays meanwhile.
  if [ "$insert_seen" -eq 1 ] && [ "$restarted" -eq 0 ]; then
    restarted=1
    if [ -n "$FAKETIME_LIB" ]; then
      say "plays recorded by the service: $(plays); restarting the service as on the next day (faketime +1 day)"
      stop_pid "$SERVICE_PID"
      start_service "$((CLOCK_OFFSET + 86400))"
      step "lumalink started again (pid $SERVICE_PID); it adds up and uploads the plays a minute after its start"
    else
      say "(faketime is not installed: the plays are uploaded on the next day, not in this demo)"
      uploaded=1
    fi
  fi
  if [ "$uploaded" -eq 0 ] && grep -q 'HTTP statistics:' "$DEMO_HOME/simulator.log" 2>/dev/null; then
    uploaded=1
    step "statistics uploaded: $(grep 'HTTP statistics:' "$DEMO_HOME/simulator.log" | tail -n1 | sed 's/.*HTTP statistics: //')"
  fi

  pending=0
  for name in "${!shot_of[@]}"; do [[ "${shot_of[$name]}" == pending:* ]] && pending=1; done
  if [ "$tour_done_at" -eq 0 ] && [ "$uploaded" -eq 1 ] && [ "$pending" -eq 0 ] && [ "$insert_seen" -eq 1 ]; then
    tour_done_at=$now
    if [ "$HEADLESS" -eq 1 ]; then
      say "tour complete${LUMA_DEMO_SECONDS:+; playing on for $LUMA_DEMO_SECONDS s}"
    else
      if [ -n "${LUMA_DEMO_SECONDS:-}" ]; then
        say "tour complete; playing on for $LUMA_DEMO_SECONDS s (Ctrl-C ends it sooner)"
      else
        say "tour complete; the player plays on until Ctrl-C"
      fi
    fi
  fi
  if [ "$tour_done_at" -gt 0 ] && { [ "$HEADLESS" -eq 1 ] || [ -n "${LUMA_DEMO_SECONDS:-}" ]; } &&
    [ "$now" -ge $((tour_done_at + ${LUMA_DEMO_SECONDS:-0})) ]; then
    break
  fi
  if [ "$tour_done_at" -eq 0 ] && { [ "$HEADLESS" -eq 1 ] || [ -n "${LUMA_DEMO_SECONDS:-}" ]; }; then
    { read -r what; read -r due; } < <(waiting_for)
    if [ "$now" -ge "$due" ]; then
      say "the tour did not complete: waited $((now - last_step)) s for $what; see the logs named below"
      RESULT=1
      break
    fi
  fi
  if ! kill -0 "$SERVICE_PID" 2>/dev/null; then
    say "the service stopped unexpectedly; see $DEMO_HOME/lumalink.out"
    RESULT=1
    break
  fi
done

echo "== screenshots: $SHOTS"
ls "$SHOTS" | sed 's/^/   /'
echo "== logs: $DATA/logs (service and player), $DEMO_HOME/simulator.log"
echo "== privileged commands the service ran (stand-ins only): $(wc -l <"$LUMA_SHIM_LOG" 2>/dev/null || echo 0), in $LUMA_SHIM_LOG"
exit "$RESULT"
