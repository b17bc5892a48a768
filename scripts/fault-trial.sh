#!/usr/bin/env bash
# Fault trial: the real service and player against the simulator, killed hard
# again and again during a content rollout, then run out of disk space.
#   scripts/fault-trial.sh [kills]
#
# Kills (default 200): four of five are a kill -9 of the service while the
# simulator switches playbills (new media on a slow server), plays arrive and
# statistics are stored: at a random moment of its first 8 s, or at a random
# moment of its downloads; every thirtieth kill waits for the statistics
# upload and kills the service right after the simulator took it. The fifth
# is a kill -9 of the player while its sender delivers plays.
# The script starts the service again itself; the service's watchdog starts
# the player. Once it runs again, the invariants are checked (see
# scripts/fault-trial.py): every media file under its final name holds the
# content its MD5 name says, the playbill, status and power schedule parse,
# and every play the service accepted is stored exactly once (database or
# uploaded to the simulator). The plays come from a sender of this trial with
# recognisable names (it records which the service accepted) and from lines
# put into the player's own play log.
#
# Disk full: a 32 MB tmpfs as the service's home is filled up; the service
# must keep running, refuse downloads and plays it cannot keep, and recover
# once the filler is removed (downloads finish, the refused plays are taken
# and stored once).
#
# Ends with a summary, non-zero when an invariant broke. Uses the build in
# build/ (LUMA_BUILD_DIR), building it when it is missing; the stand-ins for
# privileged commands come first in PATH; every run has its own home under
# /tmp/luma-fault.*; LUMA_TRIAL_KEEP=1 keeps the homes (logs, data). Holds
# /tmp/luma-ports.lock for the whole run. Runs as root (mount).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

KILLS="${1:-200}"
SIM_PORT="${LUMA_SIM_PORT:-9330}"
HTTP_PORT=$((SIM_PORT + 1))
CONTROL_PORT=$((SIM_PORT + 2))
HELPER="$ROOT/scripts/fault-trial.py"
SAMPLE="$ROOT/tools/sample-content"
DISK_MB=32

if [ ! -x "$BUILD_DIR/lumalink/lumalink" ] || [ ! -x "$BUILD_DIR/tools/sim/lumasim" ]; then
  install_packages
  configure_and_build "$BUILD_DIR"
fi
# The trial's sender and checks are Python (standard library only).
command -v python3 >/dev/null 2>&1 || install_package_list python3

PATH="$(shim_path):$PATH"
export PATH QT_QPA_PLATFORM=offscreen
# The service's fixed local ports: never beside a test that uses them.
exec 9>/tmp/luma-ports.lock
if ! flock -n 9; then
  echo "== waiting for /tmp/luma-ports.lock (tests running)"
  flock 9
fi

TRIAL_ROOT=$(mktemp -d /tmp/luma-fault.XXXXXX)
SIM_PID="" SERVICE_PID="" SENDER_PID="" MOUNTED=""
HOMES=()
cleanup() {
  stop_pid "$SENDER_PID"
  stop_pid "$SERVICE_PID"
  stop_pid "$SIM_PID"
  local home pid
  for home in "${HOMES[@]}"; do
    for pid in $(started_in lumaview "$home") $(started_in wget "$home"); do stop_pid "$pid"; done
  done
  if [ -n "$MOUNTED" ]; then
    [ "${LUMA_TRIAL_KEEP:-0}" = 1 ] && cp -a "$MOUNTED" "$MOUNTED.kept" 2>/dev/null
    umount "$MOUNTED" || umount -l "$MOUNTED"
  fi
  if [ "${LUMA_TRIAL_KEEP:-0}" = 1 ]; then
    echo "== homes kept in $TRIAL_ROOT"
  else
    rm -rf "$TRIAL_ROOT"
  fi
}
trap cleanup EXIT

BROKEN="$TRIAL_ROOT/broken.txt"
: >"$BROKEN"
broken() { # text: one broken invariant
  echo "   !! $1"
  echo "$1" >>"$BROKEN"
}

# --- the programs ----------------------------------------------------------

new_home() { # home app: a home with a status file, the programs in the app folder
  local home="$1" data
  data="$home/.local/share/lumaview"
  mkdir -p "$data/data" "$2"
  cp "$BUILD_DIR/lumalink/lumalink" "$BUILD_DIR/lumaview/lumaview" "$2/"
  printf '{ "connHost": "127.0.0.1:%s", "password": "trial" }\n' "$SIM_PORT" >"$data/data/status.json"
  HOMES+=("$home")
}

start_service() { # home [app folder]: starts the service as the trial does every time
  local home="$1" app="${2:-$1/app}"
  (cd "$app" && HOME="$home" LUMA_SHIM_LOG="$home/privileged-calls.log" exec ./lumalink >>"$home/lumalink.out" 2>&1) &
  SERVICE_PID=$!
}

service_answers() { # the service's local port answers a command with 200
  local line=""
  { exec 4<>/dev/tcp/127.0.0.1/12222; } 2>/dev/null || return 1
  printf 'POST /notify?cmd=STATUS&param=trial HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n' >&4
  IFS= read -r -t 5 line <&4 || true
  exec 4>&-
  [[ "$line" == "HTTP/1.1 200"* ]]
}

wait_service() { # seconds: until the service started last answers
  local end=$((SECONDS + $1))
  while [ "$SECONDS" -lt "$end" ]; do
    kill -0 "$SERVICE_PID" 2>/dev/null || return 1
    service_answers && return 0
    sleep 0.1
  done
  return 1
}

kill_service() { # home: kill -9, and the downloads it had running with it
  local pid
  kill -9 "$SERVICE_PID" 2>/dev/null || true
  wait "$SERVICE_PID" 2>/dev/null || true
  # A power cut or the end of the service's unit takes its wget along; left
  # running, it would write into a file the restarted service no longer has.
  for pid in $(started_in wget "$1"); do kill -9 "$pid" 2>/dev/null || true; done
}

wait_player() { # home old-pid seconds: prints the pid of a player other than old-pid
  local end=$((SECONDS + $3)) pid
  while [ "$SECONDS" -lt "$end" ]; do
    pid=$(players_of "$1" | head -n 1)
    if [ -n "$pid" ] && [ "$pid" != "$2" ]; then
      echo "$pid"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

sim_count() { # key: a counter of the simulator's status
  control status | sed -n "s/^$1=//p"
}
wait_for_sim_count() { # key tries: until that counter moves, 0.2 s a try
  local before
  before=$(sim_count "$1")
  for _ in $(seq 1 "$2"); do
    [ "$(sim_count "$1")" != "$before" ] && return 0
    sleep 0.2
  done
}

random_ms() { # low high: a random time between low and high milliseconds, in seconds
  local ms=$(($1 + (RANDOM * 32768 + RANDOM) % ($2 - $1 + 1)))
  printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

# --- the content -----------------------------------------------------------

FILES="$TRIAL_ROOT/files" CONTENT="$TRIAL_ROOT/content"
mkdir -p "$FILES" "$CONTENT"
cp "$SAMPLE"/files/* "$FILES/"
VARIANT=0
next_playbill() { # a new playbill with new media on the simulator, and "schedule changed"
  VARIANT=$((VARIANT + 1))
  local dir
  dir=$(python3 "$HELPER" content "$FILES" "$CONTENT" "$VARIANT" "$SAMPLE")
  control "content $dir" >/dev/null
  control "push 276 94" >/dev/null
}

# --- checks ----------------------------------------------------------------

CHECKS=0 FILES_CHECKED=0
check_home() { # home send-log lines injected label [--final]: the invariants; figures in LAST_CHECK
  local out
  CHECKS=$((CHECKS + 1))
  out=$(python3 "$HELPER" check "$1/.local/share/lumaview" "$CONTROL_PORT" "$2" "$3" "$4" --wait 30 "${@:5}") || true
  LAST_CHECK=$(tail -n 1 <<<"$out")
  FILES_CHECKED=$((FILES_CHECKED + $(sed -n 's/^files=\([0-9]*\).*/\1/p' <<<"$LAST_CHECK")))
  while IFS= read -r line; do
    [ -n "$line" ] && broken "[$5] ${line#BROKEN }"
  done < <(grep '^BROKEN' <<<"$out" || true)
}
figure() { # key line: one figure of a check's last line
  sed -n "s/.*\b$1=\([0-9]*\).*/\1/p" <<<"$2"
}

# --- the simulator ---------------------------------------------------------

"$BUILD_DIR/tools/sim/lumasim" --port "$SIM_PORT" --http-port "$HTTP_PORT" \
  --control-port "$CONTROL_PORT" --no-stdin --content "$SAMPLE" --files "$FILES" \
  --log "$TRIAL_ROOT/simulator.log" 2>"$TRIAL_ROOT/simulator.err" &
SIM_PID=$!
wait_for_simulator
if ! control statrows | tail -n 1 | grep -q '^ok'; then
  echo "!! the simulator has no statrows command: build lumasim from this tree" >&2
  exit 2
fi

START=$SECONDS
# --- 1. kills during a rollout ---------------------------------------------

HOME1="$TRIAL_ROOT/kills"
new_home "$HOME1" "$HOME1/app"
DATA1="$HOME1/.local/share/lumaview"
SENT1="$TRIAL_ROOT/sent-kills.log"
next_playbill
start_service "$HOME1"
wait_service 30 || { echo "!! the service did not start" >&2; exit 1; }
PLAYER=$(wait_player "$HOME1" none 60) || { echo "!! the watchdog started no player" >&2; exit 1; }
# A slow server: each answer waits, so a kill often lands in a download.
control "delay 250" >/dev/null
python3 "$HELPER" send ftrial-s "$SENT1" &
SENDER_PID=$!
echo "== $KILLS kills (service pid $SERVICE_PID, player pid $PLAYER, home $HOME1)"

SERVICE_KILLS=0 PLAYER_KILLS=0 UPLOAD_KILLS=0 INJECTED=0
for i in $(seq 1 "$KILLS"); do
  if [ $((i % 5)) -eq 0 ]; then
    # The player, while its sender delivers: a batch of plays in its log, the
    # kill once the sender has taken the log over.
    PLAYER=$(wait_player "$HOME1" none 60) || { broken "[kill $i] no player running before the kill"; continue; }
    python3 "$HELPER" inject "$DATA1" ftrial-p $((INJECTED + 1)) 300
    INJECTED=$((INJECTED + 300))
    for _ in $(seq 1 80); do
      [ -e "$DATA1/data/storageMsg.temp" ] && break
      sleep 0.1
    done
    sleep "$(random_ms 0 300)"
    kill -9 "$PLAYER" 2>/dev/null || true
    PLAYER_KILLS=$((PLAYER_KILLS + 1))
    what="player"
    lines=$(wc -l <"$SENT1")
    if ! PLAYER=$(wait_player "$HOME1" "$PLAYER" 60); then
      broken "[kill $i] the watchdog did not start the player again within 60 s"
    fi
  else
    # The service, during a playbill switch with new media.
    next_playbill
    if [ $((i % 30)) -eq 11 ]; then
      # A long life: the first statistics upload comes a minute after the
      # start; kill as soon as the simulator has taken it.
      wait_for_sim_count statistics 450
      UPLOAD_KILLS=$((UPLOAD_KILLS + 1))
      what="service after upload"
    elif [ $((i % 2)) -eq 0 ]; then
      # Downloads running: the simulator serves a request, then a random moment.
      wait_for_sim_count httpRequests 100
      sleep "$(random_ms 0 1500)"
      what="service in a download"
    else
      # Any moment: the session starting, the playbill switching, plays stored.
      sleep "$(random_ms 300 8000)"
      what="service"
    fi
    kill_service "$HOME1"
    SERVICE_KILLS=$((SERVICE_KILLS + 1))
    lines=$(wc -l <"$SENT1")
    start_service "$HOME1"
    wait_service 30 || broken "[kill $i] the service did not answer within 30 s of its start"
  fi
  check_home "$HOME1" "$SENT1" "$lines" "$INJECTED" "kill $i $what"
  echo "   [$((SECONDS - START)) s] kill $i ($what): $LAST_CHECK"
done

# Settle: no more plays; the player's log delivered, everything stored.
stop_pid "$SENDER_PID"
SENDER_PID=""
for _ in $(seq 1 120); do
  [ ! -e "$DATA1/data/storageMsg.txt" ] && [ ! -e "$DATA1/data/storageMsg.temp" ] && break
  sleep 0.5
done
check_home "$HOME1" "$SENT1" "$(wc -l <"$SENT1")" "$INJECTED" "after the kills" --final
FINAL1="$LAST_CHECK"
KILL_TIME=$((SECONDS - START))
echo "   after the kills: $FINAL1"
kill_service "$HOME1"
SERVICE_PID=""
for pid in $(players_of "$HOME1"); do stop_pid "$pid"; done
control "delay 0" >/dev/null

# --- 2. disk full ----------------------------------------------------------

DISK_START=$SECONDS
HOME2="$TRIAL_ROOT/diskfull"
mkdir -p "$HOME2"
mount -t tmpfs -o "size=${DISK_MB}m" luma-fault "$HOME2"
MOUNTED="$HOME2"
# The programs stay outside the small disk.
new_home "$HOME2" "$TRIAL_ROOT/diskfull-app"
DATA2="$HOME2/.local/share/lumaview"
SENT2="$TRIAL_ROOT/sent-diskfull.log"
echo "== disk full ($DISK_MB MB tmpfs at $HOME2)"

next_playbill
FIRST_ZONE="zt$VARIANT.z"
start_service "$HOME2" "$TRIAL_ROOT/diskfull-app"
wait_service 30 || broken "[disk full] the service did not start"
for _ in $(seq 1 120); do
  grep -qF "$FIRST_ZONE" "$DATA2/data/day-play.xml" 2>/dev/null && break
  sleep 0.5
done
grep -qF "$FIRST_ZONE" "$DATA2/data/day-play.xml" 2>/dev/null || broken "[disk full] the first playbill did not arrive"
python3 "$HELPER" send ftrial-d "$SENT2" &
SENDER_PID=$!
sleep 5

# Fill the disk to the last block, then roll out a new playbill.
dd if=/dev/zero of="$HOME2/filler" bs=1M 2>/dev/null || true
dd if=/dev/zero of="$HOME2/filler-small" bs=4k 2>/dev/null || true
FULL_AT=$(wc -l <"$SENT2")
next_playbill
SECOND_ZONE="zt$VARIANT.z"
sleep 25
FULL_LINES=$(($(wc -l <"$SENT2") - FULL_AT))
FULL_TAKEN=$(tail -n "+$((FULL_AT + 1))" "$SENT2" | grep -c '^A' || true)
FULL_REFUSED=$(tail -n "+$((FULL_AT + 1))" "$SENT2" | grep -c '^R' || true)
DOWNLOADS_REFUSED=$(cat "$DATA2"/logs/lumalink.* 2>/dev/null | grep -c 'nearly full' || true)
ALIVE=no
kill -0 "$SERVICE_PID" 2>/dev/null && service_answers && ALIVE=yes
[ "$ALIVE" = yes ] || broken "[disk full] the service is not running on a full disk"
# The playbill in force stays in force: the new one cannot be stored whole.
if ! grep -qF "$FIRST_ZONE" "$DATA2/data/day-play.xml" 2>/dev/null; then
  broken "[disk full] the playbill in force ($FIRST_ZONE) is no longer data/day-play.xml: $(stat -c '%n %s bytes' "$DATA2"/data/day-play.xml* 2>/dev/null | sed "s|$DATA2/||" | paste -sd ';')"
fi
check_home "$HOME2" "$SENT2" "$(wc -l <"$SENT2")" 0 "disk full" --journal
echo "   disk full for 25 s: service running: $ALIVE; plays answered since full: $FULL_TAKEN accepted, $FULL_REFUSED refused of $FULL_LINES attempts; download refusals logged: $DOWNLOADS_REFUSED"
echo "   $LAST_CHECK"

# Space again: the new playbill's media arrive, the refused plays are taken.
rm -f "$HOME2/filler" "$HOME2/filler-small"
FREED=$SECONDS
recovered() { # the new playbill in force and the last play accepted
  grep -qF "$SECOND_ZONE" "$DATA2/data/day-play.xml" 2>/dev/null && [ "$(tail -n 1 "$SENT2" | cut -c1)" = A ]
}
# What could not be stored is asked for again after the request's retry
# period (2 min for the day schedule, up to 80 s more while the link is idle).
RECOVERED=no
for _ in $(seq 1 600); do
  recovered && RECOVERED=yes && break
  sleep 0.5
done
if [ "$RECOVERED" = no ]; then
  broken "[disk full] no recovery within 300 s of freeing the disk (playbill $SECOND_ZONE in force: $(grep -c "$SECOND_ZONE" "$DATA2/data/day-play.xml" 2>/dev/null || echo no); last play answer: $(tail -n 1 "$SENT2"))"
  # Does the server's next "schedule changed" bring it back?
  control "push 276 94" >/dev/null
  for _ in $(seq 1 180); do
    recovered && RECOVERED="only after a new schedule-changed push" && break
    sleep 0.5
  done
fi
RECOVERY_S=$((SECONDS - FREED))
sleep 3
stop_pid "$SENDER_PID"
SENDER_PID=""
check_home "$HOME2" "$SENT2" "$(wc -l <"$SENT2")" 0 "after the disk full"
FINAL2="$LAST_CHECK"
echo "   space again: recovered: $RECOVERED after $RECOVERY_S s; $FINAL2"
DISK_TIME=$((SECONDS - DISK_START))

# --- summary ---------------------------------------------------------------

count() { grep -c "$1" "$2" || true; }
nbroken=$(wc -l <"$BROKEN")
echo "== summary ($((SECONDS - START)) s)"
echo "   kills: $((SERVICE_KILLS + PLAYER_KILLS)) ($SERVICE_KILLS service, $UPLOAD_KILLS of them right after a statistics upload; $PLAYER_KILLS player) in $KILL_TIME s, $VARIANT playbills rolled out"
echo "   invariant checks: $CHECKS, media files hashed: $FILES_CHECKED"
echo "   plays of the sender: $(($(count '^A' "$SENT1") + $(count '^R' "$SENT1") + $(count '^N' "$SENT1"))) attempts, $(count '^A' "$SENT1") answered accepted, $(count '^R' "$SENT1") refused for now, $(count '^N' "$SENT1") unanswered"
echo "   plays put into the player's log: $INJECTED"
echo "   stored after the kills: $(figure stored "$FINAL1") trial plays ($(figure player "$FINAL1") of the player), $(figure uploaded "$FINAL1") uploaded, missing $(figure missing "$FINAL1"), stored twice or more $(figure doubles "$FINAL1"); files $(figure files "$FINAL1") ($(figure named "$FINAL1") named by the playbill)"
echo "   disk full: service running $ALIVE, $FULL_REFUSED plays refused and $FULL_TAKEN accepted while full, $DOWNLOADS_REFUSED download refusals logged; recovered $RECOVERED in $RECOVERY_S s; answered $(figure answered "$FINAL2"), stored $(figure stored "$FINAL2"), missing $(figure missing "$FINAL2"), doubles $(figure doubles "$FINAL2") ($DISK_TIME s)"
echo "   broken invariants: $nbroken"
sed 's/^/     /' "$BROKEN"
[ "$nbroken" -eq 0 ]
