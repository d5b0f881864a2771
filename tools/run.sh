#!/usr/bin/env bash
# Shows KORVAT at work on a folder of sample images made afresh (build/demo).
# With a display: builds korvat.exe alone and starts it there under Wine.
# Without one: builds korvat-cli and runs it on the samples (info, cut-zeros,
# restore), then takes a picture of the window after the same cut on a
# virtual display, to build/demo/korvat.png.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

announce "preparing this machine (packages, library sources, locales; a few minutes the first time)" \
    prepare_machine || exit 1
demo=$KORVAT_BUILD/demo
wine_run=$KORVAT_ROOT/cmake/wine-run.sh
# A prefix of its own: the tests' dialogs leave their last folder in theirs.
export KORVAT_WINE_ROOT=$KORVAT_BUILD/wine

# make_demo [FOLDER]: the samples, made afresh.
make_demo() {
    local folder=${1:-$demo}
    rm -rf "$folder"
    bash "$KORVAT_ROOT/tools/make_demo_images.sh" "$folder"
}

build_program() {
    local targets="$*"
    announce "building $targets for Windows (a few minutes the first time)" eval \
        'configure_windows && cmake --build "$KORVAT_BUILD/windows" -j "$(nproc)" --target '"$targets"' >/dev/null'
}

if [ -n "${DISPLAY:-}" ]; then
    build_program korvat || { echo "Windows build failed" >&2; exit 1; }
    exe=$KORVAT_BUILD/windows/korvat.exe
    echo "Built $exe"
    make_demo
    echo "Sample images in $demo: blank.trd (blank disk, full size), shortened.trd (cut short),"
    echo "zero_tail.trd (full size, zeros at the end), notes.trd (not a disk image)."
    echo "They are listed at once. Tick rows (E ticks all) and press Cut zeros (Z),"
    echo "Cut free sectors (S) or Restore size (R); F picks other files. Escape asks to quit."
    "$wine_run" --init || { echo "could not prepare the Wine prefix" >&2; exit 1; }
    # The folder given on the command line, as "Send to" gives it: listed
    # with no dialog.
    (cd "$demo" && "$wine_run" "$exe" "$(printf 'Z:%s' "$demo" | tr / '\\')")
    status=$?
    "$wine_run" --stop
    exit $status
fi

# No display: the same work from the command line.
announce "building korvat-cli" eval 'configure_optimised &&
    cmake --build "$KORVAT_BUILD/optimised" -j "$(nproc)" --target korvat-cli >/dev/null' ||
    { echo "korvat-cli build failed" >&2; exit 1; }
cli=$KORVAT_BUILD/optimised/korvat-cli
make_demo
cd "$demo"
samples=(blank.trd notes.trd shortened.trd zero_tail.trd)
sizes() { for name in "${samples[@]}"; do printf '  %-14s %7s bytes\n' "$name" "$(stat -c %s "$name")"; done; }
echo "There is no display here, so this is KORVAT's work from the command line,"
echo "with korvat-cli, on the samples in $demo."
echo
echo "Sizes before:"
sizes
for command in info cut-zeros restore; do
    echo
    echo "\$ korvat-cli $command *.trd"
    "$cli" "$command" "${samples[@]}" 2>/dev/null
    if [ "$command" != info ]; then
        echo "Sizes after $command:"
        sizes
    fi
done

# A picture of the window after the same cut, on a virtual display, made
# on copies of the samples of its own: the ones above stay as shown.
echo
echo "Taking a picture of the window after the same cut, on a virtual display..."
picture=$demo/korvat.png
shot() {
    build_program korvat probe || return 1
    local copies=$demo/window
    make_demo "$copies" >/dev/null
    start_xvfb || return 1
    "$wine_run" --init 2>/dev/null || return 1
    local folder
    folder=$(printf 'Z:%s' "$copies" | tr / '\\')
    (cd "$copies" && exec timeout 120 "$wine_run" "$KORVAT_BUILD/windows/korvat.exe" 2>/dev/null) &
    local korvat=$!
    local probe=$KORVAT_BUILD/windows/tests/probe.exe
    timeout 60 "$wine_run" "$probe" pick "$folder" "${samples[@]}" >/dev/null 2>&1 || return 1
    local window=""
    for _ in $(seq 100); do
        window=$(xdotool search --name '^KORVAT for Windows( - .*)?$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || return 1
    xdotool windowfocus --sync "$window" key e
    xdotool windowfocus --sync "$window" key z
    for _ in $(seq 60); do
        timeout 60 "$wine_run" "$probe" status 2>/dev/null | tr -d '\r' | grep -q ' failed; ' && break
        sleep 0.5
    done
    sleep 1
    import -window "$window" "$picture" 2>/dev/null
    local status=$?
    timeout 60 "$wine_run" "$probe" close >/dev/null 2>&1
    wait "$korvat"
    return $status
}
if announce "taking the picture" shot; then
    echo "The picture is $picture."
else
    echo "No picture could be taken here (see above); the command-line run stands."
fi
"$wine_run" --stop >/dev/null 2>&1
stop_xvfb
echo "To see the window itself, run this again from a graphical session (DISPLAY set),"
echo "or copy build/windows/korvat.exe to a Windows machine and start it there."
exit 0
