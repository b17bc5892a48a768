#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the connection service
# started in a private demo home with stand-ins for every privileged command.
# LUMA_DEMO_SECONDS sets how long it runs (default 20).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_packages
configure_and_build "$BUILD_DIR"

DEMO_HOME="$BUILD_DIR/demo-home"
mkdir -p "$DEMO_HOME"
export HOME="$DEMO_HOME"
export PATH="$(shim_path):$PATH"
export LUMA_SHIM_LOG="$DEMO_HOME/privileged-calls.log"
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

"$BUILD_DIR/lumalink/lumalink" &
SERVICE_PID=$!
trap 'kill "$SERVICE_PID" 2>/dev/null || true' EXIT
echo "== lumalink running (pid $SERVICE_PID), home $DEMO_HOME"

sleep 2
echo "== answer of the service to a local STATUS request:"
printf 'POST /notify?cmd=STATUS&param=&timestamp=0&signature=x HTTP/1.1\r\nHost: localhost\r\n\r\n' |
  timeout 3 bash -c 'exec 3<>/dev/tcp/127.0.0.1/12222; cat >&3; timeout 1 cat <&3' || true
echo
echo "== status file:"
cat "$DEMO_HOME/.local/share/lumaview/data/status.json"
echo "== log:"
cat "$DEMO_HOME"/.local/share/lumaview/logs/lumalink.*.log
sleep "${LUMA_DEMO_SECONDS:-20}"
echo "== demo finished"
