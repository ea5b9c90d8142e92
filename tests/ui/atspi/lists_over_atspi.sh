#!/usr/bin/env bash
# The window's lists as a screen reader hears them: the shipped program from
# an installation folder on a private X server, with a private session bus
# and accessibility bus, read from outside by read_lists.py.
#
#   lists_over_atspi.sh PROGRAM SOURCE_DIR
#
# FLINTMERE_ATSPI_SCREENSHOT=FILE keeps a picture of the screen (xwd format)
# taken once the window is up.
# Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed).
set -euo pipefail

program=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() {
    echo "SKIP: $*"
    exit 77
}

for tool in Xvfb dbus-daemon dbus-send; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps)"
done
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || skip "$launcher is missing (at-spi2-core)"
# The system's Python, for which the Debian client library is built.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3) || skip "python3 is not installed"
"$python" -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    skip "the AT-SPI client library is missing (python3-gi, gir1.2-atspi-2.0)"

work=$(mktemp -d)
pids=()
# shellcheck disable=SC2317  # run by the trap
cleanup() {
    # Newest first: the program before the buses it talks to.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/run" "$work/tmp"
chmod 700 "$work/run"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp GSETTINGS_BACKEND=memory
unset WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS

status=0
FLINTMERE_BIN=$program bash "$src/scripts/make-install-folder" "$work/inst" \
    >"$work/make.log" 2>&1 || status=$?
if [ "$status" != 0 ]; then
    [ "$status" = 3 ] && skip "$(tail -1 "$work/make.log")"
    cat "$work/make.log"
    exit 1
fi

# The X server picks a free display and tells its number.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.1
done
[ -s "$work/display" ] || skip "the X server did not start: $(tail -1 "$work/xvfb.log")"
DISPLAY=:$(head -1 "$work/display")
export DISPLAY

dbus-daemon --session --nofork --nopidfile --print-address=4 4>"$work/bus" \
    >"$work/dbus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/bus" ] && break
    sleep 0.1
done
[ -s "$work/bus" ] || skip "no session bus could be started: $(tail -1 "$work/dbus.log")"
DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS

# The accessibility bus; its registry is started on it on demand.
"$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1 && break
    sleep 0.1
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null 2>&1 || skip "the accessibility bus did not start: $(tail -1 "$work/launcher.log")"

# As a desktop starts it: from its folder, with assistive technology on.
QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$work/inst/flintmere" \
    >"$work/flintmere.out" 2>&1 &
pids+=($!)

status=0
timeout 50 "$python" "$here/read_lists.py" "$src/samples/node.cfg" "$src/samples/config.xml" ||
    status=$?
if [ -n "${FLINTMERE_ATSPI_SCREENSHOT:-}" ]; then
    xwd -root -silent >"$FLINTMERE_ATSPI_SCREENSHOT" || echo "no screenshot taken"
fi
if [ "$status" != 0 ]; then
    echo "--- program output"
    cat "$work/flintmere.out"
    [ "$status" = 77 ] || status=1
fi
exit "$status"
