#!/bin/bash
# Runs the README's "Valdrin against the simulator" recipe as written, on an X server, and plays the operator:
# Source > Src Rix FTP, the simulator's address, a double-click (Enter) on the clip; the ingest must end with the
# "Success" box and a complete manifest. Started by ctest inside isolated-net.sh (port 2121 and the loopback are
# the test's own) under xvfb-run; /var/tmp is a private tmpfs so nothing outside the test is written.
# Arguments: the source tree and the build tree (the recipe's build/test). Exits 77 (skipped) where it cannot run.
set -u
src=$1
build=$2
command -v xdotool >/dev/null || { echo "xdotool not installed (tools/setup installs it)"; exit 77; }
if [ "${VALDRIN_RECIPE_INSIDE:-}" != 1 ]; then
    export VALDRIN_RECIPE_INSIDE=1
    unshare -m true 2>/dev/null || { echo "no mount namespace (unshare -m)"; [ "$(id -u)" = 0 ] && exit 1; exit 77; }
    exec unshare -m bash "$0" "$@"
fi
# Without a private /var/tmp the recipe would write the machine's own: skipped for an ordinary user, failed as root.
mount -t tmpfs tmpfs /var/tmp || { echo "cannot mount a private /var/tmp"; [ "$(id -u)" = 0 ] && exit 1; exit 77; }

work=$(mktemp -d)
valdrin_pid=
cleanup() {
    [ -n "$valdrin_pid" ] && kill "$valdrin_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/recipe.log" ] && tail -20 "$work/recipe.log"; exit 1; }

cd "$work" || exit 1
mkdir -p build tmp registry drives run
ln -s "$build" build/test
export TMPDIR=$work/tmp KORVO_REGISTRY_ROOT=$work/registry KORVO_DRIVE_ROOT=$work/drives KORVO_RUNTIME_DIR=$work/run

# The clip and its clip table, as the sender's server writer put them on a server.
VALDRIN_KEEP_SERVER_CLIP=$work QT_QPA_PLATFORM=offscreen "$build/tests/browser/ui/test_browser_ui" \
    --gtest_filter='ValdrinIngest.AServerClip*' >"$work/clip.log" 2>&1 || { cat "$work/clip.log"; fail "no clip"; }
[ -s my-clip.CLP ] && [ -s my-clip.XML ] || fail "the clip test left no my-clip.CLP and my-clip.XML"

# The recipe, taken from the README as it stands; the background simulator is ended after the browser.
awk '/^## Valdrin against the simulator/{s=1} s&&/^```sh/{b=1; next} b&&/^```/{exit} b{print}' \
    "$src/README.md" >recipe.sh
grep -q 'browser/ui/Valdrin' recipe.sh || fail "no recipe found in README.md"
echo 'kill $! 2>/dev/null' >>recipe.sh
bash recipe.sh >"$work/recipe.log" 2>&1 &

# The operator.
window=
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name 'Valdrin$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || fail "the Valdrin window did not show"
valdrin_pid=$(xdotool getwindowpid "$window")
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.5
xdotool key --clearmodifiers alt+s
sleep 0.3
xdotool key Down Return
dialog=
for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name '^Select FTP Server$' 2>/dev/null | head -1)
    [ -n "$dialog" ] && break
    sleep 0.2
done
[ -n "$dialog" ] || fail "Src Rix FTP showed no server dialog"
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool key ctrl+a && xdotool type '127.0.0.1' && xdotool key Tab ctrl+a && xdotool type '2121' && xdotool key Return
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key Home Return
box=
for _ in $(seq 300); do
    box=$(xdotool search --onlyvisible --name '^(Success|ERROR|Interrupted)$' 2>/dev/null | head -1)
    [ -n "$box" ] && break
    sleep 0.2
done
[ -n "$box" ] || fail "no closing box within 60 s"
title=$(xdotool getwindowname "$box")
[ "$title" = Success ] || fail "the closing box is \"$title\""
manifest=$(find "$TMPDIR" -name manifest.xml | head -1)
[ -n "$manifest" ] || fail "no manifest.xml under $TMPDIR"
grep -q 'complete="1"' "$manifest" || fail "$(cat "$manifest" | tail -3)"
xdotool key --window "$box" Return
kill "$valdrin_pid"
valdrin_pid=
wait
echo "the README recipe ingested the clip: $(grep -o '<result [^>]*>' "$manifest")"
exit 0
