#!/usr/bin/env bash
# Runs the headless Ardour smoke test against a built QUORVANE.vst3 bundle, in
# a HOME of its own so that no user setting or plug-in cache takes part.
set -euo pipefail
bundle="$1"
script="$(cd "$(dirname "$0")" && pwd)/smoke.lua"

if ! command -v ardour7-lua > /dev/null; then
    echo "ardour7-lua is not installed (scripts/setup installs it)"
    exit 77
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME/.vst3"
cp -r "$bundle" "$HOME/.vst3/"
# Ardour only trusts a scan cache that is newer than the plug-in files, at
# one-second resolution: date the fresh copy back.
find "$HOME/.vst3" -exec touch -d "@$(( $(date +%s) - 120 ))" {} +

export LD_LIBRARY_PATH=/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
scan="$(timeout 120 /usr/lib/ardour7/ardour-vst3-scanner -f -v "$HOME/.vst3/$(basename "$bundle")")"
echo "$scan"
uid="$(echo "$scan" | sed -n 's/.*<VST3Info uid="\([0-9A-F]*\)" name="QUORVANE".*/\1/p' | head -n1)"
if [ -z "$uid" ]; then
    echo "the scanner lists no QUORVANE class"
    exit 1
fi
echo "$scan" | grep -q 'vendor="BROLLTANE" category="Fx" version="1.0.1"' || { echo "unexpected class info"; exit 1; }

export QVN_PLUGIN_UID="$uid" QVN_SESSION_DIR="$work/session"
out="$(timeout 240 ardour7-lua "$script" 2>&1)" || { echo "$out"; exit 1; }
echo "$out"
echo "$out" | grep -q '^PASS$'
