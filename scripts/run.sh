#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the signage-server
# simulator with the sample content, and the connection service pointed at it,
# in a fresh demo home with stand-ins for every privileged command. The service
# logs in, stores the schedule, lists and zones, downloads every file, switches
# the new playbill in and tells the player to reload; the player shows it and
# hands every play back to the service.
# LUMA_DEMO_SECONDS sets how long the pair keeps running at the end (default 20).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_packages
configure_and_build "$BUILD_DIR"

SIM_PORT="${LUMA_SIM_PORT:-9300}"
HTTP_PORT="${LUMA_SIM_HTTP_PORT:-9301}"
CONTROL_PORT="${LUMA_SIM_CONTROL_PORT:-9310}"
DEMO_HOME="$BUILD_DIR/demo-home"
rm -rf "$DEMO_HOME"
mkdir -p "$DEMO_HOME/.local/share/lumaview/data"
export HOME="$DEMO_HOME"
export PATH="$(shim_path):$PATH"
export LUMA_SHIM_LOG="$DEMO_HOME/privileged-calls.log"
DATA="$DEMO_HOME/.local/share/lumaview"

PIDS=()
cleanup() { for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

# Without a desktop the demo brings its own virtual screen, so the player
# really draws and the screenshot shows what a viewer would see.
if [ -z "${DISPLAY:-}" ]; then
  if command -v Xvfb >/dev/null; then
    Xvfb :97 -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
    PIDS+=($!)
    export DISPLAY=:97
    sleep 1
  else
    export QT_QPA_PLATFORM=offscreen
  fi
fi

"$BUILD_DIR/tools/sim/lumasim" --port "$SIM_PORT" --http-port "$HTTP_PORT" \
  --control-port "$CONTROL_PORT" --no-stdin \
  --content "$ROOT/tools/sample-content" --log "$DEMO_HOME/simulator.log" &
PIDS+=($!)
sleep 1

# What an installer types into the configuration window on first start.
cat > "$DATA/data/status.json" <<JSON
{ "connHost": "127.0.0.1:$SIM_PORT", "password": "demo-password" }
JSON

"$BUILD_DIR/lumalink/lumalink" &
PIDS+=($!)
echo "== simulator on 127.0.0.1:$SIM_PORT (HTTP $HTTP_PORT, control $CONTROL_PORT)"
echo "== lumalink started, home $DEMO_HOME"

echo "== waiting for the service to synchronise and download the sample content"
for _ in $(seq 1 90); do
  if [ -f "$DATA/data/day-play.xml" ]; then break; fi
  sleep 1
done

control() {
  exec 3<>"/dev/tcp/127.0.0.1/$CONTROL_PORT" && printf '%s\n' "$1" >&3 && timeout 1 cat <&3 || true
  exec 3>&- || true
}
echo "== starting the player"
"$BUILD_DIR/lumaview/lumaview" &
PIDS+=($!)
sleep 8

echo "== the server asks for the environment, download and screenshot reports"
control "push 278 9 demo-env"
control "push 278 17 demo-downloads"
control "push 278 13 demo-screen"
sleep 6
control "screenshot $DEMO_HOME/screenshot.png"

echo "== status file:"
cat "$DATA/data/status.json"
echo
echo "== stored content:"
ls -l "$DATA/data" "$DATA/data/tpl" "$DATA/data/zone" "$DATA/data/mtl"
echo "== privileged commands the service ran (stand-ins only):"
cat "$LUMA_SHIM_LOG" 2>/dev/null || echo "(none)"
echo "== service log:"
cat "$DATA"/logs/lumalink.*.log
echo "== player log:"
cat "$DATA"/logs/lumaview.*.log 2>/dev/null || echo "(none)"
echo "== play records waiting for or sent to the service:"
cat "$DATA/data/storageMsg.txt" 2>/dev/null || echo "(all delivered)"
echo "== screenshot of the terminal: $DEMO_HOME/screenshot.png"
echo "== simulator log (last 30 lines):"
tail -n 30 "$DEMO_HOME/simulator.log"
echo "== answer of the service to a local STATUS request:"
printf 'POST /notify?cmd=STATUS&param=&timestamp=0&signature=x HTTP/1.1\r\nHost: localhost\r\n\r\n' |
  timeout 3 bash -c 'exec 3<>/dev/tcp/127.0.0.1/12222; cat >&3; timeout 1 cat <&3' || true
echo
sleep "${LUMA_DEMO_SECONDS:-20}"
echo "== demo finished"
