#!/usr/bin/env bash
# Runs the headless Ardour smoke test against a built QUORVANE.vst3 bundle, in
# a HOME of its own so that no user setting or plug-in cache takes part.
set -euo pipefail
bundle="$1"
here="$(cd "$(dirname "$0")" && pwd)"

source "$here/headless_env.sh"
qvn_ardour_setup "$bundle"
echo "$scan"
echo "$scan" | grep -q 'vendor="BROLLTANE" category="Fx" version="1.0.1"' || { echo "unexpected class info"; exit 1; }

out="$(timeout 240 ardour7-lua "$here/smoke.lua" 2>&1)" || { echo "$out"; exit 1; }
echo "$out"
echo "$out" | grep -q '^PASS$'
