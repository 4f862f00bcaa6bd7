#!/usr/bin/env bash
# Section changes at cycle ends in a real DAW: Ardour renders a session whose
# section lane switches on a cycle boundary and 72 samples before another,
# once through QUORVANE and once with it deactivated; the check tool compares
# the two renders sample by sample.
set -euo pipefail
bundle="$1"
check="$2"
here="$(cd "$(dirname "$0")" && pwd)"

source "$here/headless_env.sh"
qvn_ardour_setup "$bundle"

# The export processes 1024-sample cycles that start 256 samples into the
# timeline (measured: with a plug-in that cuts its ramps at the cycle's end,
# points at 60582 and 131261 got 90 and 67 samples). One point sits exactly on
# a cycle boundary, where the host sends it as the end-of-cycle point of the
# earlier cycle, the other 72 samples before one.
export QVN_CYCLE=1024 QVN_LENGTH=192000
export QVN_POINT_B=$((96 * QVN_CYCLE + 256)) QVN_POINT_A=$((144 * QVN_CYCLE + 256 - 72))

lua() {
    local out
    out="$(QVN_PHASE="$1" timeout 200 ardour7-lua "$here/sections.lua" 2>&1)" || { echo "$out"; exit 1; }
    echo "$out" | grep -q '^SAVED$' || { echo "$out"; exit 1; }
    echo "$out" | grep '^section point' || true
}

# Ardour's export now and then never starts under load: its main thread waits
# for the butler, which waits inside Ardour's transport work while every
# process thread is idle and no plug-in code runs (seen with gdb in about one
# render of fifty with eight tests at once; a render takes two seconds). Such
# a stall is retried, at most twice; any other failure ends the test.
render() {
    local out rc attempt
    for attempt in 1 2 3; do
        rc=0
        out="$(timeout 60 ardour7-export -b float -o "$2" "$QVN_SESSION_DIR" "$1" 2>&1)" || rc=$?
        [ "$rc" -eq 124 ] || break
        echo "export of $1 stalled (attempt $attempt)"
    done
    [ "$rc" -eq 0 ] || { echo "$out"; exit 1; }
    [ -s "$2" ] || { echo "$out"; echo "no render of $1"; exit 1; }
}

lua create
# The export covers the session range, which a session made from Lua lacks:
# it spans the region (superclock ticks, 5880 per sample at 48 kHz).
session="$QVN_SESSION_DIR/qvn-sections.ardour"
grep -q '<Locations/>' "$session" || { echo "unexpected locations in the session"; exit 1; }
sed -i "s|<Locations/>|<Locations><Location id=\"990001\" name=\"session\" start=\"a0\" end=\"a$((QVN_LENGTH * 5880))\" flags=\"IsSessionRange\" locked=\"0\" timestamp=\"1\" cue=\"0\"/></Locations>|" "$session"
render qvn-sections "$work/out.wav"
lua reference
render reference "$work/ref.wav"

"$check" "$work/out.wav" "$work/ref.wav" -6 6 "$QVN_POINT_B" "$QVN_POINT_A"
