#!/bin/bash
# Runs the README's "Valdrin against the simulator" recipe as written, from a fresh copy of the project after the
# main job, on an X server, and plays the operator: Source > Src Rix FTP, the address and the port the recipe
# printed, Enter on the clip the recipe played out to the simulator; the ingest must end with the "Success" box
# and a complete manifest. Started by ctest inside isolated-net.sh under xvfb-run.
# Arguments: the source tree and the build tree (the copy and its build/main go under the build tree, where the
# compiler cache finds the objects of an earlier run). Exits 77 (skipped) where it cannot run.
set -u
src=$1
build=$2
command -v xdotool >/dev/null || { echo "xdotool not installed (tools/setup installs it)"; exit 77; }

work=$build/valdrin-readme-recipe
rm -rf "$work"
mkdir -p "$work/tmp" "$work/home"
work=$(cd "$work" && pwd)
valdrin_pid=
recipe_pid=
cleanup() {
    [ -n "$valdrin_pid" ] && kill "$valdrin_pid" 2>/dev/null
    # The recipe runs in a process group of its own: what it started and did not stop ends with it.
    [ -n "$recipe_pid" ] && kill -- -"$recipe_pid" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/recipe.log" ] && tail -20 "$work/recipe.log"; exit 1; }

# A fresh clone: the project's files as git tracks them, nothing built.
clone=$work/clone
mkdir -p "$clone"
(cd "$src" && git ls-files -z | tar --null -T - -cf -) | tar -C "$clone" -xf - || fail "cannot copy the project"
[ -f "$clone/tools/main-job" ] || fail "the copy lacks tools/main-job"
export TMPDIR=$work/tmp HOME=$work/home
unset XDG_STATE_HOME KORVO_REGISTRY_ROOT KORVO_DRIVE_ROOT KORVO_RUNTIME_DIR AMBREL_OUT AMBREL_HOSTS

# The main job, only the road whose ingest the recipe plays out (the sources are always made).
(cd "$clone" && KORVO_MAIN_ROADS="IMX 50 file via libAmbrel" bash tools/main-job) >"$work/main-job.log" 2>&1 ||
    { tail -30 "$work/main-job.log"; fail "the main job failed"; }

# The recipe, taken from the README as it stands.
awk '/^## Valdrin against the simulator/{s=1} s&&/^```sh/{b=1; next} b&&/^```/{exit} b{print}' \
    "$clone/README.md" >"$work/recipe.sh"
grep -q 'browser/ui/Valdrin' "$work/recipe.sh" || fail "no recipe found in README.md"
(cd "$clone" && exec setsid bash "$work/recipe.sh") >"$work/recipe.log" 2>&1 &
recipe_pid=$!

# The operator: the port the recipe printed, then the window.
port=
for _ in $(seq 3000); do
    port=$(sed -n 's/.*Server Port: \([0-9]*\).*/\1/p' "$work/recipe.log")
    [ -n "$port" ] && break
    kill -0 "$recipe_pid" 2>/dev/null || fail "the recipe ended before it printed the port"
    sleep 0.2
done
[ -n "$port" ] || fail "the recipe printed no port"
window=
for _ in $(seq 3000); do
    window=$(xdotool search --onlyvisible --name 'Valdrin$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    kill -0 "$recipe_pid" 2>/dev/null || fail "the recipe ended before the window showed"
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
xdotool key ctrl+a && xdotool type '127.0.0.1' && xdotool key Tab ctrl+a && xdotool type "$port" && xdotool key Return
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
manifest=$(find "$TMPDIR" -path '*/ingests/ingest-1/manifest.xml' | head -1)
[ -n "$manifest" ] || fail "no ingests/ingest-1/manifest.xml under $TMPDIR"
grep -q 'complete="1" frames="25"' "$manifest" || fail "$(tail -3 "$manifest")"
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 "$(dirname "$manifest")/video.m2v")
[ "$frames" = 25 ] || fail "the ingest holds $frames pictures, not the 25 of the main job's IMX 50 clip"
xdotool key --window "$box" Return
kill "$valdrin_pid"
valdrin_pid=
wait "$recipe_pid" || fail "the recipe ended with status $?"
recipe_pid=
echo "the README recipe ingested the clip: $(grep -o '<result [^>]*>' "$manifest")"
rm -rf "$clone"
exit 0
