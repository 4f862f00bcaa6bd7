#!/usr/bin/env bash
# A session holding QUORVANE with a rich state is saved by Ardour (headless,
# Dummy backend), opened again twice: the parameters and the plug-in state
# must come back the same each time.
set -euo pipefail
bundle="$1"
tool="$2"
here="$(cd "$(dirname "$0")" && pwd)"

source "$here/../ardour/headless_env.sh"
qvn_ardour_setup "$bundle"
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
