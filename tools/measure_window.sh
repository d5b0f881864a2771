#!/usr/bin/env bash
# Times the window under Wine: from the dialog's OK to the filled list for
# 1,000 and 10,000 images, and from the Z key to the batch's summary for
# 1,000 ticked images, beside the same work in process (the core's time). Needs the Windows build (tools/test.sh makes it) and
# an X display (it starts its own when there is none). Prints the figures.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build=$KORVAT_BUILD/windows
wine_run=$KORVAT_ROOT/cmake/wine-run.sh
export KORVAT_WINE_ROOT=$build/wine
[ -f "$build/korvat.exe" ] || { echo "build korvat.exe first: bash tools/test.sh" >&2; exit 1; }
if [ -z "${DISPLAY:-}" ]; then
    trap stop_xvfb EXIT
    start_xvfb || exit 1
fi
"$wine_run" --init || exit 1
work=$KORVAT_BUILD/measure
probe() { "$wine_run" "$build/tests/probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# fill COUNT: a folder of COUNT images of 8,192 bytes whose last byte holds
# data, so that cutting zeros reads each and leaves it as it is.
fill() {
    rm -rf "$work/$1"
    mkdir -p "$work/$1"
    bash "$KORVAT_ROOT/tools/make_demo_images.sh" "$work/$1/demo" >/dev/null
    truncate -s 8192 "$work/$1/demo/shortened.trd"
    for i in $(seq -w 1 "$1"); do
        cp "$work/$1/demo/shortened.trd" "$work/$1/i$i.trd"
        echo "i$i.trd"
    done >"$work/$1/names.txt"
}

for count in 1000 10000; do
    fill "$count"
    "$wine_run" --stop
    (cd "$work/$count" && exec timeout 900 "$wine_run" "$build/korvat.exe" 2>/dev/null) &
    pid=$!
    folder=$(printf 'Z:%s' "$work/$count" | tr / '\\')
    list=$(printf 'Z:%s' "$work/$count/names.txt" | tr / '\\')
    echo "dialog OK to filled list, $count images: $(probe timed-pick "$folder" "$list")"
    if [ "$count" = 1000 ]; then
        # The whole batch as the user sees it, five times: from Z to its
        # summary, with the title showing progress on the way and plain
        # again at the end. The files stay as they are, so each batch does
        # the same work.
        summary="1,000 files, 0 changed, 1,000 unchanged, 0 failed; 8,192,000 -> 8,192,000 bytes\\n"
        for round in 1 2 3 4 5; do
            probe timed-key 45 >/dev/null # E ticks every row
            echo "Z to the batch's summary, $count ticked images: $(probe timed-batch 5A "$summary")"
        done
    fi
    probe close
    wait "$pid"
    # The same work in process, without the dialog: the program's own share.
    fill "$count"
    for round in 1 2 3; do
        (cd "$work/$count" && "$wine_run" "$build/tests/window_timing.exe" "$count" "${#count}" 2>/dev/null)
    done
done
# 10,000 rows listed with no target and with one chosen (its verdicts
# worked out only for the rows shown), alternately, three times each.
count=10000
fill "$count"
folder=$(printf 'Z:%s' "$work/$count" | tr / '\\')
list=$(printf 'Z:%s' "$work/$count/names.txt" | tr / '\\')
for round in 1 2 3 4 5 6; do
    target=none
    [ $((round % 2)) = 0 ] && target=mame
    "$wine_run" --stop
    if [ "$target" = none ]; then
        "$wine_run" reg delete 'HKCU\Software\KORVAT' /v Target /f >/dev/null 2>&1
    else
        "$wine_run" reg add 'HKCU\Software\KORVAT' /v Target /t REG_SZ /d mame /f >/dev/null 2>&1
    fi
    (cd "$work/$count" && exec timeout 900 "$wine_run" "$build/korvat.exe" 2>/dev/null) &
    pid=$!
    echo "dialog OK to filled list, $count images, target $target: $(probe timed-pick "$folder" "$list")"
    probe close
    wait "$pid"
done
"$wine_run" reg delete 'HKCU\Software\KORVAT' /v Target /f >/dev/null 2>&1
# Closing during a batch of 10,000 ticked images: from the close to the
# program's end (the file in hand finished, the summary written, no list
# built again), three times.
for round in 1 2 3; do
    fill "$count"
    "$wine_run" --stop
    (cd "$work/$count" && exec timeout 900 "$wine_run" "$build/korvat.exe" 2>/dev/null) &
    pid=$!
    probe timed-pick "$folder" "$list" >/dev/null
    probe timed-key 45 >/dev/null # E ticks every row
    probe close-during-batch 5A 60000 >/dev/null
    start=$(date +%s%N)
    wait "$pid"
    echo "a close during a batch of $count ticked images to the program's end: $((($(date +%s%N) - start) / 1000000)) ms"
done
"$wine_run" --stop
