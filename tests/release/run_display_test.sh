#!/usr/bin/env bash
# tools/run.sh with a display, as on a fresh clone: it builds korvat.exe and
# shows it listing the samples; a picture is taken of the window, which is
# then closed from its title bar, and the command ends with status 0.
# Usage: run_display_test.sh
set -u -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/lib/expect.sh"
source "$root/tools/common.sh"
trap stop_xvfb EXIT
start_xvfb || exit 1
log=$(mktemp)
bash "$root/tools/run.sh" >"$log" 2>&1 &
runner=$!
window=""
for _ in $(seq 600); do
    window=$(xdotool search --name '^KORVAT (for|для) Windows$' 2>/dev/null | head -n 1)
    [ -n "$window" ] || ! kill -0 "$runner" 2>/dev/null || { sleep 1; continue; }
    break
done
expect "the window is shown" "$([ -n "$window" ] && echo yes)" yes
picture=$root/build/demo/korvat-display.png
if [ -n "$window" ]; then
    # The samples listed, with no dialog: read with the tests' probe.
    cmake --build "$root/build/windows" --target probe >/dev/null 2>&1
    rows=""
    for _ in $(seq 30); do
        rows=$(KORVAT_WINE_ROOT=$root/build/wine timeout 60 "$root/cmake/wine-run.sh" \
            "$root/build/windows/tests/probe.exe" rows 2>/dev/null | cut -d'|' -f2 | tr -d '\r' | sort)
        [ -n "$rows" ] && break
        sleep 1
    done
    expect "the samples are listed with no dialog" "$rows" \
        "$(printf '%s\n' blank.trd notes.trd shortened.trd zero_tail.trd)"
    import -window "$window" "$picture" 2>/dev/null
    xdotool windowfocus --sync "$window" key alt+F4
fi
waited=0
while kill -0 "$runner" 2>/dev/null && [ "$waited" -lt 60 ]; do sleep 1; waited=$((waited + 1)); done
kill "$runner" 2>/dev/null
wait "$runner"
expect "exit status with a display" "$?" 0
expect "the picture of the window is a PNG" "$(head -c 4 "$picture" 2>/dev/null | od -An -c | tr -d ' ')" '211PNG'
expect "the samples are named in its output" "$(grep -c '^Sample images in ' "$log")" 1
[ "$failures" -eq 0 ] || cat "$log" >&2
rm -f "$log"
echo "run with a display: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
