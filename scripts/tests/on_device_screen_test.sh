#!/usr/bin/env bash
# Without a display, scripts/on-device-screen serves the device screen by VNC
# on the loopback address only, says how to reach it, and stops the server
# when the program ends. The program here lists the listening sockets.
set -euo pipefail
cd "$(dirname "$0")/../.."

# scripts/install-deps installs all three; a machine without them cannot run
# this check, which is a failure, not a reason to skip it.
for tool in x11vnc xvfb-run ss; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAILED: $tool is not installed (scripts/install-deps installs it)"
        exit 1
    fi
done

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
# shellcheck disable=SC2016 # the probe expands $DISPLAY itself
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HANDHELD_VNC_PORT=5970 \
    scripts/on-device-screen Probe sh -c 'echo "DISPLAY=$DISPLAY"; ss -ltnpH' >"$out" 2>&1
cat "$out"

fail() {
    echo "FAILED: $*"
    exit 1
}
port="$(sed -n 's/^No display: Probe.s screen is served by VNC on 127\.0\.0\.1:\([0-9]*\) only.*/\1/p' "$out")"
[ -n "$port" ] || fail "no line naming the loopback address and port"
grep -q "^From another machine: ssh -N -L ${port}:127.0.0.1:${port} " "$out" || fail "no SSH tunnel line"
grep -q '^DISPLAY=:[0-9]' "$out" || fail "the program did not run on a virtual display"
listening="$(grep '"x11vnc"' "$out" || true)"
[ -n "$listening" ] || fail "no VNC server listened"
while read -r _ _ _ local _; do
    case "$local" in
    "127.0.0.1:${port}" | "[::1]:${port}") ;;
    *) fail "the VNC server listens on $local" ;;
    esac
done <<<"$listening"
# The server ended with the program.
pid="$(sed -n 's/.*"x11vnc",pid=\([0-9]*\),.*/\1/p' <<<"$listening" | head -1)"
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || exit 0
    sleep 0.1
done
fail "the VNC server (pid $pid) still runs after the program ended"
