# Sourced by the headless Ardour tests (bash, with set -euo pipefail).
# qvn_ardour_setup BUNDLE: skips the test (exit 77) where Ardour is missing,
# gives the run a HOME of its own, so that no user setting or plug-in cache
# takes part, with a fresh copy of the bundle in it, and lets Ardour's own
# scanner list the bundle. Leaves: $work (removed on exit), $scan (the
# scanner's output), QVN_PLUGIN_UID and QVN_SESSION_DIR exported for the
# Lua script.
qvn_ardour_setup() {
    local bundle="$1"

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
    local uid
    uid="$(echo "$scan" | sed -n 's/.*<VST3Info uid="\([0-9A-F]*\)" name="QUORVANE".*/\1/p' | head -n1)"
    if [ -z "$uid" ]; then
        echo "$scan"
        echo "the scanner lists no QUORVANE class"
        exit 1
    fi

    export QVN_PLUGIN_UID="$uid" QVN_SESSION_DIR="$work/session"
}
