#!/usr/bin/env bash
# A session holding QUORVANE with a rich state is saved by Ardour (headless,
# Dummy backend), opened again twice: the parameters and the plug-in state
# must come back the same each time.
set -euo pipefail
bundle="$1"
tool="$2"
here="$(cd "$(dirname "$0")" && pwd)"

if ! command -v ardour7-lua > /dev/null; then
    echo "ardour7-lua is not installed (scripts/setup installs it)"
    exit 77
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME/.vst3"
cp -r "$bundle" "$HOME/.vst3/"
# Ardour only trusts a scan cache that is newer than the plug-in files.
find "$HOME/.vst3" -exec touch -d "@$(( $(date +%s) - 120 ))" {} +

export LD_LIBRARY_PATH=/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
scan="$(timeout 120 /usr/lib/ardour7/ardour-vst3-scanner -f -v "$HOME/.vst3/$(basename "$bundle")")"
uid="$(echo "$scan" | sed -n 's/.*<VST3Info uid="\([0-9A-F]*\)" name="QUORVANE".*/\1/p' | head -n1)"
[ -n "$uid" ] || { echo "the scanner lists no QUORVANE class"; exit 1; }

export QVN_PLUGIN_UID="$uid" QVN_SESSION_DIR="$work/session"
session="$work/session/qvn-state.ardour"

run() {
    local out
    out="$(QVN_PHASE="$1" timeout 200 ardour7-lua "$here/ardour_state.lua" 2>&1)" || { echo "$out"; exit 1; }
    echo "$out" | grep -q '^SAVED$' || { echo "$out"; exit 1; }
    echo "$out" | grep '^PARAM ' || true
}

run create > /dev/null
# The check reads the real chunk: the fresh session's default state fails it.
if "$tool" check "$session" 2> /dev/null; then echo "the check cannot tell states apart"; exit 1; fi
"$tool" inject "$session"
"$tool" params > "$work/expected"

for round in 1 2; do
    run reopen > "$work/params$round"
    "$tool" check "$session" || { echo "state differs after reopening ($round)"; exit 1; }
    diff "$work/expected" "$work/params$round" || { echo "parameters differ after reopening ($round)"; exit 1; }
done

echo "parameters and state identical after two reopenings"
echo PASS
