#!/usr/bin/env bash
# End-to-end tests of korvat.exe under Wine on an X server: keys are typed
# with xdotool into the focused window; the dialog, the quit question, the
# status pane and the list are driven and read with probe.exe. Every wait is
# bounded, so a hang fails the test instead of blocking the run.
# Usage: e2e.sh SCENARIO   (cancel, batch, window, ..., longnames, folders, target)
# Environment: WINE_RUN, KORVAT_EXE, PROBE_EXE, E2E_DIR (a folder of the build tree);
# E2E_OWN_DISPLAY=1: on an X server of the scenario's own, so that scenarios
# in other Wine prefixes run beside it.
set -u -o pipefail
scenario=$1
: "${WINE_RUN:?}" "${KORVAT_EXE:?}" "${PROBE_EXE:?}" "${E2E_DIR:?}"
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${E2E_OWN_DISPLAY:-}" ]; then
    source "$here/../../tools/common.sh"
    start_xvfb || exit 1
fi
[ -n "${DISPLAY:-}" ] || { echo "no X display: the end-to-end tests need one" >&2; exit 1; }
work=$E2E_DIR/$scenario
rm -rf "$work"
mkdir -p "$work/images"
failures=0
checks=0
korvat_pid=""

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect WHAT ACTUAL EXPECTED
expect() {
    checks=$((checks + 1))
    if [ "$2" != "$3" ]; then
        fail "$1"
        printf '  expected: %s\n  actual:   %s\n' "$3" "$2" >&2
    fi
}

probe() { timeout 60 "$WINE_RUN" "$PROBE_EXE" "$@" | tr -d '\r'; }

start_korvat() {
    (cd "$images" && exec timeout 300 "$WINE_RUN" "$KORVAT_EXE" "$@") &
    korvat_pid=$!
}

# Waits at most 60 s for korvat.exe to end and checks its exit code.
expect_exit() {
    local waited=0
    while kill -0 "$korvat_pid" 2>/dev/null; do
        if [ "$waited" -ge 600 ]; then
            fail "korvat.exe did not end: $1"
            kill "$korvat_pid"
            return
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    wait "$korvat_pid"
    expect "exit code: $1" "$?" 0
    korvat_pid=""
}

# The X window of the main window, focused, for xdotool to type into.
focus_main() {
    local window=""
    for _ in $(seq 100); do
        # The title shows a batch's progress after a " - ".
        window=$(xdotool search --name '^KORVAT (for|для) Windows( - .*)?$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { fail "no X window for the main window"; return 1; }
    xdotool windowfocus --sync "$window"
    echo "$window"
}

key() {
    focus_main >/dev/null || return 1
    xdotool key "$@"
}

# A number with its thousands grouped, as the window's lines give it.
grouped() { printf '%s' "$1" | sed -e ':a' -e 's/\([0-9]\)\([0-9]\{3\}\)\($\|,\)/\1,\2\3/' -e 'ta'; }

# The lines written to the status log so far; the pane shows the last nine.
logged=()
log() { logged+=("$@"); }
pane() {
    local first=$((${#logged[@]} > 9 ? ${#logged[@]} - 9 : 0))
    printf '%s\\n' "${logged[@]:first}"
}

# The rows with every check box set to STATE (1 unticked, 2 ticked).
with_state() { printf '%s' "$2" | sed "s/^[12]|/$1|/"; }

# expect_eventually WHAT EXPECTED PROBE-COMMAND: polls the probe until it
# prints EXPECTED, at most 30 s.
expect_eventually() {
    local what=$1 expected=$2 actual=""
    shift 2
    for _ in $(seq 60); do
        actual=$(probe "$@")
        [ "$actual" = "$expected" ] && break
        sleep 0.5
    done
    expect "$what" "$actual" "$expected"
}
expect_status() { expect_eventually "$1" "$2" status; }
# The status pane's lines, one per line, as they are: a path that holds
# "\n" (a folder named "n...") is never split.
status_lines() { probe status-lines; }
expect_rows() { expect_eventually "$1" "$2" rows; }

length() { stat -c %s "$1"; }

# Windows path of a Unix path, through Wine's Z: drive.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# The list's time text for a file: ctime's form, day padded with a blank.
time_text() { LC_ALL=C date -d "@$(stat -c %Y "$1")" '+%a %b %e %H:%M:%S %Y\n'; }

# A picture of the main window, kept in the build tree.
screenshot() {
    local window
    window=$(focus_main) || return
    import -window "$window" "$E2E_DIR/$1.png" 2>/dev/null || fail "no screenshot"
}

# expect_stopped_prefix PREFIX COUNT BEFORE AFTER: a batch over PREFIX001...
# was stopped (by a close) after some files: those before the stop have
# the length AFTER, every one after it still BEFORE.
expect_stopped_prefix() {
    local prefix=$1 count=$2 before=$3 after=$4 cut=0 wrong=0 i expected
    for i in $(seq -w 1 "$count"); do [ "$(length "$images/$prefix$i.trd")" = "$after" ] && cut=$((cut + 1)); done
    expect "the close stopped the batch" "$([ "$cut" -gt 0 ] && [ "$cut" -lt "$count" ] && echo yes)" yes
    for i in $(seq -w 1 "$count"); do
        expected=$before
        [ "$((10#$i))" -le "$cut" ] && expected=$after
        [ "$(length "$images/$prefix$i.trd")" = "$expected" ] || wrong=$((wrong + 1))
    done
    expect "the files before the stop changed, every one after it untouched" "$wrong" 0
}

# The display scale of the prefix (its LogPixels), for the next program started.
set_dpi() {
    "$WINE_RUN" --stop
    "$WINE_RUN" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

finish() {
    # A program left running (after a failure) must not meet the next scenario.
    [ -n "$korvat_pid" ] && "$WINE_RUN" --stop
    [ -n "${KORVAT_XVFB_PID:-}" ] && kill "$KORVAT_XVFB_PID" 2>/dev/null
    echo "$scenario: $checks checks, $failures failed"
    [ "$failures" -eq 0 ]
    exit $?
}
trap 'finish' EXIT

"$WINE_RUN" --init || { echo "could not prepare the scenarios' Wine prefix" >&2; exit 1; }
"$WINE_RUN" --stop # no program of an earlier scenario is left
bash "$here/../../tools/make_demo_images.sh" "$work/images" >/dev/null
images=$work/images
folder=$(windows_path "$images")

case $scenario in
cancel)
    # Start and cancel the dialog: no main window is shown, exit code 0.
    start_korvat
    probe wait-open-dialog 30000 || fail "no file-open dialog at start"
    expect "main window while the first dialog is open" "$(probe main-window)" hidden
    probe cancel || fail "could not cancel the dialog"
    expect_exit "cancelled first dialog"
    ;;

batch)
    touch -d '2001-09-09 01:46:40' "$images/blank.trd"
    start_korvat
    probe pick "$folder" zero_tail.trd blank.trd notes.trd || fail "could not pick three files"
    # Listed by name, whatever the dialog's order.
    listed() {
        printf '1|blank.trd|%s|%s  \n' "$(time_text "$images/blank.trd")" "$2"
        printf '1|notes.trd|%s|38  \n' "$(time_text "$images/notes.trd")"
        printf '1|zero_tail.trd|%s|%s  ' "$(time_text "$images/zero_tail.trd")" "$1"
    }
    rows=$(listed 655360 655360)
    expect "blank.trd's time text" "$(time_text "$images/blank.trd")" 'Sun Sep  9 01:46:40 2001\n'
    expect_rows "three rows in the order of their names, with times and sizes" "$rows"

    # E ticks every row, Z cuts zeros; the list is rebuilt, unticked but for
    # the file that failed.
    key e
    expect_rows "E ticks every row" "$(with_state 2 "$rows")"
    key z
    log "Cutting zeros from blank.trd" Done "Cutting zeros from notes.trd" "File is not TRD image !" \
        Done "Cutting zeros from zero_tail.trd" Done \
        "3 files, 2 changed, 0 unchanged, 1 failed; 1,310,758 -> 25,638 bytes"
    expect_status "status after Z" "$(pane)"
    expect "Z cut zero_tail.trd" "$(length "$images/zero_tail.trd")" 21504
    expect "Z cut blank.trd" "$(length "$images/blank.trd")" 4096
    expect "Z left notes.trd alone" "$(length "$images/notes.trd")" 38
    rows=$(listed 21504 4096)
    expect_rows "rows refreshed after Z, the failed one ticked" "$(printf '%s' "$rows" | sed '2s/^1|/2|/')"

    # F3 restores the size of the ticked files, F4 cuts them at their first free sector.
    key e
    key F3
    log "Restoring size for blank.trd" Done "Restoring size for notes.trd" \
        "File is not TRD image !" Done "Restoring size for zero_tail.trd" Done \
        "3 files, 2 changed, 0 unchanged, 1 failed; 25,638 -> 1,310,758 bytes"
    expect_status "status after F3" "$(pane)"
    expect "F3 restored zero_tail.trd" "$(length "$images/zero_tail.trd")" 655360
    expect "F3 restored blank.trd" "$(length "$images/blank.trd")" 655360
    key e
    key F4
    log "Cutting free sectors from blank.trd" Done "Cutting free sectors from notes.trd" "File is not TRD image !" \
        Done "Cutting free sectors from zero_tail.trd" Done \
        "3 files, 2 changed, 0 unchanged, 1 failed; 1,310,758 -> 25,638 bytes"
    expect_status "status after F4" "$(pane)"
    expect "F4 cut zero_tail.trd" "$(length "$images/zero_tail.trd")" 21504
    expect "F4 cut blank.trd" "$(length "$images/blank.trd")" 4096
    rows=$(listed 21504 4096)
    expect_rows "rows refreshed after F4" "$(printf '%s' "$rows" | sed '2s/^1|/2|/')"

    # Keypad 5 ticks all, keypad decimal point unticks, Ctrl+E ticks all.
    xdotool key Num_Lock
    key KP_5
    expect_rows "keypad 5 ticks every row" "$(with_state 2 "$rows")"
    key KP_Decimal
    expect_rows "keypad decimal point unticks every row" "$rows"
    key ctrl+e
    expect_rows "Ctrl+E ticks every row" "$(with_state 2 "$rows")"

    # N unticks; F11, R and S run the same batches as Z, F3 and F4.
    key n
    expect_rows "N unticks every row" "$rows"
    key e
    key F11
    log "Cutting zeros from blank.trd" Done "Cutting zeros from notes.trd" "File is not TRD image !" \
        Done "Cutting zeros from zero_tail.trd" Done \
        "3 files, 0 changed, 2 unchanged, 1 failed; 25,638 -> 25,638 bytes"
    expect_status "status after F11" "$(pane)"
    key e
    key r
    log "Restoring size for blank.trd" Done "Restoring size for notes.trd" \
        "File is not TRD image !" Done "Restoring size for zero_tail.trd" Done \
        "3 files, 2 changed, 0 unchanged, 1 failed; 25,638 -> 1,310,758 bytes"
    expect_status "status after R" "$(pane)"
    expect "R restored blank.trd" "$(length "$images/blank.trd")" 655360
    key e
    key s
    log "Cutting free sectors from blank.trd" Done "Cutting free sectors from notes.trd" "File is not TRD image !" \
        Done "Cutting free sectors from zero_tail.trd" Done \
        "3 files, 2 changed, 0 unchanged, 1 failed; 1,310,758 -> 25,638 bytes"
    expect_status "status after S" "$(pane)"
    expect "S cut blank.trd" "$(length "$images/blank.trd")" 4096
    # Z with no ticked row writes nothing and refills the list.
    key n
    key z
    sleep 1
    expect_status "status after Z with nothing ticked" "$(pane)"
    rows=$(listed 21504 4096)
    expect_rows "rows after the last batches" "$rows"

    # F, then cancel: "Error 0h", the previous files still listed, unticked.
    key f
    probe cancel || fail "no dialog after F"
    log "Error 0h"
    expect_status "status after F and cancel" "$(pane)"
    expect_rows "previous files still listed after the cancel" "$rows"
    # Keypad 6 opens the dialog too.
    key KP_6
    probe cancel || fail "no dialog after keypad 6"
    log "Error 0h"
    expect_status "status after keypad 6 and cancel" "$(pane)"
    screenshot korvat-main-window

    # Escape with the list focused asks, No preselected; No changes nothing.
    window=$(focus_main)
    xdotool mousemove --window "$window" 300 200 click 1
    sleep 0.5
    key Escape
    expect "quit question" "$(probe question)" "Are you sure to quit ?|7|7|no owner"
    probe answer no || fail "could not answer No"
    if probe wait-dialog Notify 1500; then
        fail "one Escape asked twice"
        probe answer no
    fi
    expect "main window after No" "$(probe main-window)" visible
    expect "rows after No" "$(probe rows)" "$rows"
    expect_status "status after No" "$(pane)"
    key Escape
    probe answer yes || fail "could not answer Yes"
    expect_exit "Escape and Yes"
    ;;

window)
    start_korvat
    probe pick "$folder" blank.trd || fail "could not pick one file"
    read -r left top width height style exstyle screen_width screen_height < <(probe window | head -n 1)
    expect "title" "$(probe window | sed -n 2p)" "KORVAT for Windows"
    expect "the window class loads no icon" "$(probe window | sed -n 3p)" "class icon none"
    expect "size" "$width x $height" "640 x 480"
    expect "centred" "$left $top" "$(((screen_width - 640) / 2)) $(((screen_height - 480) / 2))"
    # Windows adds WS_CLIPSIBLINGS to every top-level window.
    expect "style" "$(printf '0x%08X' $((style & ~0x04000000)))" 0x10CA0000
    expect "no sizing border" "$((style & 0x40000))" 0
    expect "no maximize box" "$((style & 0x10000))" 0
    # WS_EX_WINDOWEDGE, and WS_EX_ACCEPTFILES: files may be dropped on it.
    expect "extended style" "$exstyle" 0x00000110
    # Escape with the main window itself focused asks once, too.
    key Escape
    expect "quit question from the main window" "$(probe question)" "Are you sure to quit ?|7|7|no owner"
    probe answer no || fail "could not answer No"
    if probe wait-dialog Notify 1500; then
        fail "one Escape on the main window asked twice"
        probe answer no
    fi
    # Closing through the title bar asks nothing.
    probe close || fail "could not close"
    if probe wait-dialog Notify 2000; then
        fail "closing through the title bar asked a question"
        probe answer yes
    fi
    expect_exit "closed through the title bar"
    ;;

cyrillic)
    # A file named in Cyrillic, under a Russian locale (ANSI code page 1251),
    # the program speaking English as asked.
    export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 KORVAT_LANG=en
    expect "ANSI code page" "$(probe acp)" 1251
    cp "$images/blank.trd" "$images/диск.trd"
    start_korvat
    probe pick "$folder" диск.trd || fail "could not pick the Cyrillic name"
    expect_rows "Cyrillic row" "$(printf '1|диск.trd|%s|655360  ' "$(time_text "$images/диск.trd")")"
    key e
    key z
    expect_status "Cyrillic status" \
        "Cutting zeros from диск.trd\\nDone\\n1 file, 1 changed, 0 unchanged, 0 failed; 655,360 -> 4,096 bytes\\n"
    expect "Cyrillic file cut" "$(length "$images/диск.trd")" 4096
    probe close
    expect_exit "Cyrillic run"
    ;;

soak)
    # One batch over 2,000 images in the real program: every file right, and
    # the program's memory after the batch within a small bound of before.
    count=2000
    bound=$((2 * 1024 * 1024))
    cp "$images/shortened.trd" "$work/template.trd"
    truncate -s 16384 "$work/template.trd" # data in tracks 1 and 2, then zeros
    names=()
    for i in $(seq -w 1 "$count"); do
        cp "$work/template.trd" "$images/s$i.trd"
        names+=("s$i.trd")
    done
    start_korvat
    probe pick "$folder" "${names[@]}" || fail "could not pick $count files"
    listed=""
    for _ in $(seq 60); do
        listed=$(probe rows | wc -l)
        [ "$listed" = "$count" ] && break
        sleep 1
    done
    expect "rows listed" "$listed" "$count"
    read -r committed_before working_before < <(probe memory)
    key e
    key z
    last="Cutting zeros from s$count.trd\\nDone\\n"
    deadline=$((SECONDS + 300))
    until probe status | grep -qF "$last" || [ "$SECONDS" -ge "$deadline" ]; do
        sleep 2
    done
    expect "the batch ran to its last file" "$(probe status | grep -cF "$last")" 1
    wrong=0
    for name in "${names[@]}"; do
        [ "$(length "$images/$name")" = 12288 ] || wrong=$((wrong + 1))
    done
    expect "files cut right" "$wrong" 0
    read -r committed_after working_after < <(probe memory)
    echo "soak: $count images; committed bytes $committed_before before, $committed_after after;" \
        "working set $working_before before, $working_after after"
    expect "committed bytes grew by at most $bound" \
        "$((committed_after - committed_before <= bound))" 1
    expect "working set grew by at most $bound" "$((working_after - working_before <= bound))" 1
    probe close
    expect_exit "soak"
    ;;

dpi)
    # At 96, 144 and 192 DPI (the prefix's LogPixels): the window and every
    # control in proportion, centred, and a batch of five files whose nine
    # status lines the pane holds. The fonts, and that nine lines of them fit
    # the pane, are checked in process (main_window_test): Wine refuses
    # WM_GETFONT from another process.
    trap 'set_dpi 96; finish' EXIT
    # id x y width height at 96 DPI, in the order probe prints them.
    layout="1 10 10 610 230
2 10 290 610 150
3 10 250 80 24
4 100 250 100 24
5 290 250 80 24
6 380 250 120 24
7 510 250 110 24
8 210 250 70 24"
    names=(blank.trd shortened.trd zero_tail.trd a.trd b.trd)
    listed=(a.trd b.trd blank.trd shortened.trd zero_tail.trd) # by name
    for dpi in 96 144 192; do
        set_dpi "$dpi"
        for name in a.trd b.trd; do cp "$images/zero_tail.trd" "$images/$name"; done
        start_korvat
        probe pick "$folder" "${names[@]}" || fail "could not pick five files at $dpi DPI"
        read -r left top width height _ _ screen_width screen_height < <(probe window | head -n 1)
        expect "window size at $dpi DPI" "$width x $height" "$((640 * dpi / 96)) x $((480 * dpi / 96))"
        expect "centred at $dpi DPI" "$left $top" "$(((screen_width - width) / 2)) $(((screen_height - height) / 2))"
        scaled=$(printf '%s\n' "$layout" | awk -v dpi="$dpi" '{
            printf "%d %d %d %d %d\n", $1, int($2 * dpi / 96 + 0.5), int($3 * dpi / 96 + 0.5),
                int($4 * dpi / 96 + 0.5), int($5 * dpi / 96 + 0.5) }')
        expect "every control's place and size at $dpi DPI" "$(probe controls)" "$scaled"
        key e
        key z
        logged=()
        for name in "${listed[@]}"; do log "Cutting zeros from $name" Done; done
        # The first round finds shortened.trd at its cut length already.
        if [ "$dpi" = 96 ]; then
            log "5 files, 4 changed, 1 unchanged, 0 failed; 2,633,728 -> 80,896 bytes"
        else
            log "5 files, 5 changed, 0 unchanged, 0 failed; 3,276,800 -> 80,896 bytes"
        fi
        expect_status "the last nine status lines at $dpi DPI" "$(pane)"
        [ "$dpi" = 144 ] && screenshot korvat-main-window-144dpi
        probe close
        expect_exit "$dpi DPI"
        # The next round starts from full images again.
        for name in "${names[@]}"; do truncate -s 655360 "$images/$name"; done
    done
    ;;

names)
    # Names in six scripts under a Western code page, picked at once in the
    # real dialog: every one listed, cut and named in the status pane.
    export LANG=en_US.UTF-8 LC_ALL=C.UTF-8
    expect "ANSI code page of a program without the UTF-8 manifest" "$(probe acp)" 1252
    names=(ディスク.trd диск.trd δίσκος.trd ünïcödé.trd emoji😀.trd plain.trd)
    for name in "${names[@]}"; do cp "$images/zero_tail.trd" "$images/$name"; done
    start_korvat
    probe pick "$folder" "${names[@]}" || fail "could not pick the six names"
    for _ in $(seq 60); do [ "$(probe rows | wc -l)" = 6 ] && break; sleep 0.5; done
    # Listed in the order of their names, as the system orders them: the
    # batch and its lines follow that order.
    mapfile -t listed < <(probe rows | cut -d'|' -f2)
    expect "every name listed whole" "$(printf '%s\n' "${listed[@]}" | sort)" \
        "$(printf '%s\n' "${names[@]}" | sort)"
    rows=""
    for name in "${listed[@]}"; do
        rows+=$(printf '1|%s|%s|655360  \n' "$name" "$(time_text "$images/$name")")$'\n'
    done
    expect_rows "six rows, every name whole" "${rows%$'\n'}"
    key e
    key z
    for name in "${listed[@]}"; do log "Cutting zeros from $name" Done; done
    log "6 files, 6 changed, 0 unchanged, 0 failed; 3,932,160 -> 129,024 bytes"
    expect_status "the names in the status pane (its last nine lines)" "$(pane)"
    cut=0
    for name in "${names[@]}"; do [ "$(length "$images/$name")" = 21504 ] && cut=$((cut + 1)); done
    expect "every file cut" "$cut" 6
    # The pane shows the last nine lines; the first names are shown again
    # by restoring their files, picked anew.
    key f
    probe pick "$folder" "${names[@]:0:3}" || fail "could not pick the first three names"
    for _ in $(seq 60); do [ "$(probe rows | wc -l)" = 3 ] && break; sleep 0.5; done
    mapfile -t listed < <(probe rows | cut -d'|' -f2)
    key e
    key r
    for name in "${listed[@]}"; do log "Restoring size for $name" Done; done
    log "3 files, 3 changed, 0 unchanged, 0 failed; 64,512 -> 1,966,080 bytes"
    expect_status "the first names in the status pane" "$(pane)"
    for name in "${names[@]:0:3}"; do
        expect "$name restored" "$(length "$images/$name")" 655360
    done
    probe close
    expect_exit "names run"
    ;;

locked)
    # An emulator holds one ticked image open, sharing nothing: the batch
    # reports the runtime's own text for it, goes on, and leaves it whole.
    cp "$images/zero_tail.trd" "$images/held.trd"
    cp "$images/zero_tail.trd" "$images/free.trd"
    cp "$images/held.trd" "$work/held.orig"
    start_korvat
    probe pick "$folder" held.trd free.trd || fail "could not pick two files"
    coproc holder { timeout 120 "$WINE_RUN" "$PROBE_EXE" hold "$folder\\held.trd" 8000; }
    read -r -t 60 held <&"${holder[0]}"
    expect "the other program holds the file" "$(printf '%s' "$held" | tr -d '\r')" held
    key e
    key z
    expect_status "the first file, then the system's own words for the held one (as Wine gives them)" \
        "Cutting zeros from free.trd\\nDone\\nCutting zeros from held.trd\\nSharing violation\\nDone\\n2 files, 1 changed, 0 unchanged, 1 failed; 1,310,720 -> 676,864 bytes\\n"
    expect "the held file is byte-identical" "$(cmp -s "$work/held.orig" "$images/held.trd"; echo $?)" 0
    expect "the other file is cut" "$(length "$images/free.trd")" 21504
    kill "$holder_PID" 2>/dev/null
    probe close
    expect_exit "locked run"
    ;;

longbatch)
    # A batch of 3,000 images: the window answers and its status pane
    # changes while the batch runs, and a close sent meanwhile stops it
    # after the file in hand and ends the program: the files before that
    # are cut, every one after it is untouched.
    count=3000
    cp "$images/shortened.trd" "$work/template.trd"
    truncate -s 16384 "$work/template.trd"
    : >"$work/names.txt"
    for i in $(seq -w 1 "$count"); do
        cp "$work/template.trd" "$images/l$i.trd"
        echo "l$i.trd" >>"$work/names.txt"
    done
    start_korvat
    probe timed-pick "$folder" "$(windows_path "$work/names.txt")" >/dev/null || fail "could not pick $count files"
    last="Cutting zeros from l$count.trd\\nDone\\n"
    probe during-batch >"$work/during.txt" &
    reader=$!
    key e
    key z
    wait "$reader" || fail "the pane could not be read during the batch"
    expect "the pane's text changes during the batch" "$(sed -n 1p "$work/during.txt")" "texts differ"
    expect "the pane's picture changes during the batch" "$(sed -n 2p "$work/during.txt")" "pictures differ"
    expect "the batch had not ended when the close came" "$(sed -n 4p "$work/during.txt" | grep -cF "$last")" 0
    expect_exit "a close during the batch"
    expect_stopped_prefix l "$count" 16384 12288
    ;;

collection)
    # A collection of 1,200 images and two files that are not images: the
    # title shows the batch's progress, the batch ends with korvat-cli's
    # summary, and only the two failed rows come back ticked. A second batch,
    # stopped with Escape, leaves every file after the one in hand untouched.
    # Then one row ticked from the keyboard alone.
    count=1200
    cp "$images/shortened.trd" "$work/template.trd"
    truncate -s 16384 "$work/template.trd"
    : >"$work/names.txt"
    for i in $(seq -w 1 "$count"); do
        cp "$work/template.trd" "$images/c$i.trd"
        echo "c$i.trd" >>"$work/names.txt"
        # The two that are not images, among the others.
        [ "$i" = 0400 ] && cp "$images/notes.trd" "$images/c0400x.trd" && echo c0400x.trd >>"$work/names.txt"
        [ "$i" = 0900 ] && cp "$images/notes.trd" "$images/c0900x.trd" && echo c0900x.trd >>"$work/names.txt"
    done
    start_korvat
    probe timed-pick "$folder" "$(windows_path "$work/names.txt")" >/dev/null || fail "could not pick 1,202 files"
    key e
    key z
    title=$(probe title-during-batch 60000)
    expect "the title shows the batch's progress" \
        "$(printf '%s' "$title" | grep -cE '^KORVAT for Windows - [0-9,]+ of 1,202$')" 1
    summary="1,202 files, 1,200 changed, 0 unchanged, 2 failed; 19,660,876 -> 14,745,676 bytes"
    for _ in $(seq 120); do status_lines | grep -qF "$summary" && break; sleep 1; done
    expect "the batch ends with the summary" "$(status_lines | tail -n 3)" \
        "$(printf 'Cutting zeros from c%s.trd\nDone\n%s' "$count" "$summary")"
    expect "the title is plain again" "$(probe window | sed -n 2p)" "KORVAT for Windows"
    expect "only the two failed rows stay ticked" "$(probe rows | grep '^2|' | cut -d'|' -f2)" \
        "$(printf 'c0400x.trd\nc0900x.trd')"
    cut=0
    for i in $(seq -w 1 "$count"); do [ "$(length "$images/c$i.trd")" = 12288 ] && cut=$((cut + 1)); done
    expect "every image cut" "$cut" "$count"
    screenshot korvat-collection

    # Restore them all, and stop after a few files with Escape.
    key e
    key r
    probe title-during-batch 60000 >/dev/null || fail "the restore did not start"
    key Escape
    probe question Stop | head -n 1 >"$work/stop.txt"
    probe answer yes Stop || fail "could not answer the stop question"
    expect "Escape asks whether to stop" "$(cat "$work/stop.txt")" "Stop after the current file?"
    for _ in $(seq 60); do status_lines | grep -q '^Stopped: ' && break; sleep 1; done
    stopped=$(status_lines | sed -n 's/^Stopped: \([0-9,]*\) of 1,202 files done$/\1/p' | tr -d ,)
    restored=0
    for i in $(seq -w 1 "$count"); do [ "$(length "$images/c$i.trd")" = 655360 ] && restored=$((restored + 1)); done
    expect "the stop line counts the files done" "$([ -n "$stopped" ] && [ "$stopped" -lt 1202 ] && echo yes)" yes
    # The two that are not images are the 401st and 902nd files.
    expect "every file after the stop is untouched" "$restored" \
        "$(awk -v s="${stopped:-0}" 'BEGIN { print s - (s > 400) - (s > 901) }')"
    expect "the stopped batch ends with its summary" \
        "$(status_lines | tail -n 1 | grep -cE "^$stopped files?, ")" 1
    # The two that are not images failed; every file not reached stays ticked.
    expect "the rows not reached stay ticked, with the failed ones" "$(probe rows | grep -c '^2|')" \
        "$((1202 - ${stopped:-0} + (${stopped:-0} > 400) + (${stopped:-0} > 901)))"

    # The keyboard alone: N unticks every row, Down moves to the second
    # row, Space ticks it, and nothing else.
    key n
    expect "the focus is in the list" "$(probe focus)" 1
    key Home
    key Down
    key space
    expect "Space ticks the focused row alone" "$(probe rows | grep -n '^2|' | cut -d'|' -f1-2)" "2:2|c0002.trd"
    probe close
    expect_exit "collection"
    ;;

question)
    # Before cutting at the first free sector, the window asks once when a
    # ticked image would lose data: a demo whose loader reads its sectors
    # directly (cc99i512 from the corpus, when it is there) and a made disk
    # with data past its first free sector; zero_tail.trd loses nothing.
    corpus=${KORVAT_CORPUS_DIR:-$here/../../../shared/corpus/trd}
    lossy=(hidden.trd)
    cp "$images/zero_tail.trd" "$images/hidden.trd"
    printf 'loader data' | dd of="$images/hidden.trd" bs=1 seek=300000 conv=notrunc status=none
    if [ -f "$corpus/cc99i512.trd" ]; then
        cp "$corpus/cc99i512.trd" "$images/cc99i512.trd"
        chmod u+w "$images/cc99i512.trd"
        lossy=(cc99i512.trd hidden.trd)
    fi
    for name in "${lossy[@]}"; do cp "$images/$name" "$work/$name.orig"; done
    start_korvat
    probe pick "$folder" "${lossy[@]}" zero_tail.trd || fail "could not pick the files"
    ticked=$((${#lossy[@]} + 1))
    lost=11
    where="its first free sector"
    [ "${#lossy[@]}" = 2 ] && lost=623,371 where="their first free sectors"
    first_line="${#lossy[@]} of the $ticked ticked images would lose data: $lost non-zero bytes in all lie past $where."

    # No, the default: only zero_tail.trd is cut; each other one is named.
    key e
    key s
    expect "the question, No the default" "$(probe question 'Cut free sectors' | head -n 1)" "$first_line"
    expect "No is the default button" "$(probe question 'Cut free sectors' | tail -n 1 | cut -d'|' -f2)" 7
    probe answer no 'Cut free sectors' || fail "could not answer No"
    for _ in $(seq 30); do [ "$(length "$images/zero_tail.trd")" = 21504 ] && break; sleep 0.5; done
    expect "No cut the image that loses nothing" "$(length "$images/zero_tail.trd")" 21504
    for name in "${lossy[@]}"; do
        expect "No left $name, saying why" \
            "$(status_lines | grep -c "^Not cut, [0-9]* non-zero bytes past its first free sector: $name\$")" 1
        expect "$name untouched after No" "$(cmp -s "$work/$name.orig" "$images/$name"; echo $?)" 0
    done
    expect "the summary after No" "$(status_lines | tail -n 1)" \
        "$ticked files, 1 changed, 0 unchanged, 0 failed, ${#lossy[@]} left; $(grouped $((655360 * ticked))) -> $(grouped $((655360 * ${#lossy[@]} + 21504))) bytes"
    expect "the images left stay ticked" "$(probe rows | grep -c '^2|')" "${#lossy[@]}"

    # Cancel: nothing at all, and the ticks as they were.
    truncate -s 655360 "$images/zero_tail.trd"
    key e
    key F4
    probe answer cancel 'Cut free sectors' || fail "could not answer Cancel"
    sleep 1
    expect "Cancel cut nothing" "$(length "$images/zero_tail.trd")" 655360
    expect "Cancel kept every tick" "$(probe rows | grep -c '^2|')" "$ticked"
    for name in "${lossy[@]}"; do
        expect "$name untouched after Cancel" "$(cmp -s "$work/$name.orig" "$images/$name"; echo $?)" 0
    done

    # Yes: every ticked image is cut, as before.
    key e
    key s
    probe answer yes 'Cut free sectors' || fail "could not answer Yes"
    for _ in $(seq 30); do [ "$(length "$images/hidden.trd")" = 21504 ] && break; sleep 0.5; done
    expect "Yes cut the made disk" "$(length "$images/hidden.trd")" 21504
    [ "${#lossy[@]}" = 2 ] && expect "Yes cut cc99i512.trd" "$(length "$images/cc99i512.trd")" 32000
    expect "Yes cut zero_tail.trd" "$(length "$images/zero_tail.trd")" 21504
    probe close
    expect_exit "question"
    ;;

promises)
    # The window keeps its promises while the disk changes under it: a
    # cut at the first free sector answered No while another program writes
    # into an image that lost nothing when surveyed; then a restore stopped
    # with Escape, and a cut closed mid-batch.
    count=600
    # Listed by name: the c files first, then hidden.trd and safe.trd.
    cp "$images/zero_tail.trd" "$work/template.trd"
    truncate -s 32768 "$work/template.trd" # cut-free gives 21,504 bytes
    : >"$work/names.txt"
    for i in $(seq -w 1 "$count"); do
        cp "$work/template.trd" "$images/c$i.trd"
        echo "c$i.trd" >>"$work/names.txt"
    done
    cp "$images/zero_tail.trd" "$images/hidden.trd"
    printf 'loader data' | dd of="$images/hidden.trd" bs=1 seek=300000 conv=notrunc status=none
    cp "$images/zero_tail.trd" "$images/safe.trd"
    printf 'hidden.trd\nsafe.trd\n' >>"$work/names.txt"
    total=$((count + 2))
    start_korvat
    probe timed-pick "$folder" "$(windows_path "$work/names.txt")" >/dev/null || fail "could not pick $total files"

    # No, and 15 bytes written into safe.trd while the question is open.
    key e
    key s
    expect "the question names the one image that would lose data" \
        "$(probe question 'Cut free sectors' | head -n 1)" \
        "1 of the 602 ticked images would lose data: 11 non-zero bytes in all lie past its first free sector."
    printf 'written meanwhile' | head -c 15 | dd of="$images/safe.trd" bs=1 seek=300000 conv=notrunc status=none
    cp "$images/safe.trd" "$work/safe.orig"
    cp "$images/hidden.trd" "$work/hidden.orig"
    probe answer no 'Cut free sectors' || fail "could not answer No"
    summary="602 files, 600 changed, 0 unchanged, 0 failed, 2 left; $(grouped $((count * 32768 + 2 * 655360))) -> $(grouped $((count * 21504 + 2 * 655360))) bytes"
    for _ in $(seq 120); do status_lines | grep -qF "$summary" && break; sleep 1; done
    expect "the images left are named, and the summary counts them apart" "$(status_lines | tail -n 7)" \
        "$(printf '%s\n' "Cutting free sectors from hidden.trd" \
            "Not cut, 11 non-zero bytes past its first free sector: hidden.trd" Done \
            "Cutting free sectors from safe.trd" \
            "Not cut, changed since the question: 15 non-zero bytes past its first free sector: safe.trd" \
            Done "$summary")"
    expect "safe.trd keeps the bytes written after the question" "$(cmp -s "$work/safe.orig" "$images/safe.trd"; echo $?)" 0
    expect "hidden.trd untouched" "$(cmp -s "$work/hidden.orig" "$images/hidden.trd"; echo $?)" 0
    expect "the two left stay ticked, and only they" "$(probe rows | grep '^2|' | cut -d'|' -f2)" \
        "$(printf 'hidden.trd\nsafe.trd')"
    cut=0
    for i in $(seq -w 1 "$count"); do [ "$(length "$images/c$i.trd")" = 21504 ] && cut=$((cut + 1)); done
    expect "every other image cut" "$cut" "$count"

    # A restore stopped with Escape: the stop counts the files handled, and
    # every row not reached stays ticked.
    key e
    key r
    probe title-during-batch 60000 >/dev/null || fail "the restore did not start"
    key Escape
    probe answer yes Stop || fail "could not answer the stop question"
    for _ in $(seq 60); do status_lines | grep -q '^Stopped: ' && break; sleep 1; done
    stopped=$(status_lines | sed -n 's/^Stopped: \([0-9,]*\) of 602 files done$/\1/p' | tr -d ,)
    restored=0
    for i in $(seq -w 1 "$count"); do [ "$(length "$images/c$i.trd")" = 655360 ] && restored=$((restored + 1)); done
    expect "the stop counts the files handled" "$restored" "${stopped:-none}"
    expect "every row not reached stays ticked" "$(probe rows | grep -c '^2|')" "$((total - ${stopped:-0}))"
    expect "the stopped restore sums up what it did" "$(status_lines | tail -n 1)" \
        "$(grouped "$stopped") file$([ "$stopped" = 1 ] || echo s), $(grouped "$stopped") changed, 0 unchanged, 0 failed; $(grouped $((stopped * 21504))) -> $(grouped $((stopped * 655360))) bytes"

    # Cut zeros, closed mid-batch: the program ends after the file in hand;
    # the images before it are cut, the ones after it untouched.
    truncate -s 32768 "$images"/c*.trd
    key e
    probe close-during-batch 5a 60000 >/dev/null || fail "the cut did not start, or could not be closed"
    expect_exit "closed mid-batch"
    expect_stopped_prefix c "$count" 32768 21504
    ;;

longnames)
    # Long names from two folders: each status line on one line, shortened
    # in its middle to the file's own name, the summary the pane's last
    # line, and Ctrl+C copying the lines whole; each row showing its file's
    # own name; names sorted as Explorer sorts them; and a file that became
    # a folder said so and counted as failed.
    first="$images/Игры и демо с очень длинным названием папки номер один"
    second="$images/Second folder with a rather long name for the whole collection"
    mkdir -p "$first" "$second"
    given=("$first/Еда.trd" "$first/ёж.trd" "$first/жук.trd" "$second/disk10.trd"
        "$second/Disk2.trd" "$second/apple.trd" "$second/became a folder.trd")
    for name in "${given[@]}"; do cp "$images/zero_tail.trd" "$name"; done
    start_korvat "${given[@]}"
    for _ in $(seq 60); do [ "$(probe rows | wc -l)" = 7 ] && break; sleep 0.5; done
    rm "$second/became a folder.trd"
    mkdir "$second/became a folder.trd"
    key e
    key z
    summary="7 files, 6 changed, 0 unchanged, 1 failed; 3,932,160 -> 129,024 bytes"
    for _ in $(seq 60); do status_lines | grep -qF "$summary" && break; sleep 0.5; done
    expect "the summary is the pane's last line" "$(status_lines | tail -n 1)" "$summary"
    expect "nine lines" "$(status_lines | wc -l)" 9
    expect "long lines shortened in the middle, the file's own name whole" \
        "$(status_lines | grep '^Cutting zeros from ' | grep -c '…\\[^\\]*\.trd$')" 4
    # Listed by folder, then by name: the batch goes in that order.
    listed=("$second/apple.trd" "$second/became a folder.trd" "$second/Disk2.trd"
        "$second/disk10.trd" "$first/Еда.trd" "$first/ёж.trd" "$first/жук.trd")
    whole=""
    for name in "${listed[@]}"; do
        whole+="Cutting zeros from $(windows_path "$name")"$'\n'
        [ "$name" = "${listed[1]}" ] && whole+="Not a regular file"$'\n'
        whole+="Done"$'\n'
    done
    key ctrl+c
    expect "Ctrl+C copies the batch's lines whole" "$(probe clipboard | tr -d '\r')" "$whole$summary"

    expect "each Name cell is the file's own name" "$(probe rows | cut -d'|' -f2 | grep -c '\\')" 0
    expect "each Folder cell its folder, shortened in the middle" \
        "$(probe folders | cut -d'|' -f2 | grep -c '\.\.\.')" 6
    key 2
    expect "names sorted as Explorer sorts them" "$(probe rows | cut -d'|' -f2 | sed 's/.*\\//')" \
        "$(printf '%s\n' apple.trd Disk2.trd disk10.trd Еда.trd ёж.trd жук.trd)"
    probe close
    expect_exit "long names"
    ;;

folders)
    # The same file name in three folders: three different Folder cells, and
    # the Name cells the name alone. With the system's message font set
    # larger (-18 against -11), the status pane is as tall as nine lines of
    # it: after a batch the summary is the last line on the screen, read
    # back from a picture of the pane.
    trap 'probe message-font -11; finish' EXIT
    probe message-font -18 || fail "could not set the message font"
    given=()
    for place in "Игры" "Demos/Collection one" "Demos/Collection two"; do
        mkdir -p "$images/$place"
        cp "$images/zero_tail.trd" "$images/$place/Диск 1.trd"
        given+=("$images/$place/Диск 1.trd")
    done
    cp "$images/zero_tail.trd" "$images/Demos/Collection one/Диск 2.trd"
    given+=("$images/Demos/Collection one/Диск 2.trd")
    start_korvat "${given[@]}"
    for _ in $(seq 60); do [ "$(probe rows | wc -l)" = 4 ] && break; sleep 0.5; done
    cells=$(paste -d'|' <(probe rows | cut -d'|' -f2) <(probe folders | cut -d'|' -f2))
    expect "each Name cell is the file's own name" "$(printf '%s\n' "$cells" | cut -d'|' -f1)" \
        "$(printf '%s\n' "Диск 1.trd" "Диск 2.trd" "Диск 1.trd" "Диск 1.trd")"
    expect "three different Folder cells for the one name" \
        "$(printf '%s\n' "$cells" | grep '^Диск 1.trd|' | cut -d'|' -f2 | sort -u | wc -l)" 3
    expect "listed by folder, then by name" "$(printf '%s\n' "$cells" | sed 's/|.*\\/|/')" \
        "$(printf '%s\n' "Диск 1.trd|Collection one" "Диск 2.trd|Collection one" \
            "Диск 1.trd|Collection two" "Диск 1.trd|Игры")"
    key e
    key z
    summary="4 files, 4 changed, 0 unchanged, 0 failed; 2,621,440 -> 86,016 bytes"
    for _ in $(seq 60); do status_lines | grep -qF "$summary" && break; sleep 0.5; done
    expect "nine lines, the summary the pane's last" "$(status_lines | wc -l) $(status_lines | tail -n 1)" \
        "9 $summary"
    sleep 0.5
    import -window root -crop "$(probe pane-rect)" -resize 200% "$work/pane.png" 2>/dev/null ||
        fail "no picture of the pane"
    seen=$(tesseract "$work/pane.png" - 2>/dev/null | sed '/^[[:space:]]*$/d')
    expect "the summary is the last line seen in the pane" \
        "$(printf '%s\n' "$seen" | tail -n 1 | grep -c 'files, 4 changed, 0 unchanged, 0 failed; 2,621,440')" 1
    probe close
    expect_exit "folders"
    ;;

target)
    # A target chosen in the system menu: each row's verdict in a last
    # column, T ticking the rows it refuses, a restore making one load; the
    # choice remembered after a restart, and None taking the column away.
    "$WINE_RUN" reg delete 'HKCU\Software\KORVAT' /v Target /f >/dev/null 2>&1
    start_korvat zero_tail.trd shortened.trd notes.trd
    for _ in $(seq 60); do [ "$(probe rows | wc -l)" = 3 ] && break; sleep 0.5; done
    expect "no verdict column without a target" "$(probe verdicts | cut -d'|' -f2 | tr -d '\n')" ""
    probe syscommand 210 || fail "could not choose MAME" # the first target
    verdicts() { probe verdicts | cut -d'|' -f2 | tr '\n' ' '; }
    for _ in $(seq 20); do [ -n "$(verdicts | tr -d ' ')" ] && break; sleep 0.5; done
    expect "each row's verdict on MAME" "$(verdicts)" "refused refused loads "
    # The second row's tooltip: its path, why MAME refuses it, what mends it.
    window=$(focus_main)
    xdotool mousemove --window "$window" 120 67
    sleep 0.3
    xdotool mousemove --window "$window" 121 68
    tip=$(probe tooltip | tr -d '\r')
    expect "the tooltip says why, and what mends it" \
        "$(printf '%s' "$tip" | grep -c "^MAME: refused: takes only 163,840, 327,680 or 655,360 bytes; this image has 12,288$")
$(printf '%s' "$tip" | grep -c '^korvat-cli restore .*shortened\.trd$')" "1
1"
    key t
    expect_rows "T ticks the rows MAME refuses" "$(probe rows | sed '1,2s/^1|/2|/')"
    key r
    for _ in $(seq 60); do status_lines | grep -q '^2 files, ' && break; sleep 0.5; done
    expect "the restore makes shortened.trd load" "$(verdicts)" "refused loads loads "
    probe close
    expect_exit "target chosen"
    start_korvat zero_tail.trd
    for _ in $(seq 60); do [ "$(probe rows | wc -l)" = 1 ] && break; sleep 0.5; done
    for _ in $(seq 20); do [ -n "$(verdicts | tr -d ' ')" ] && break; sleep 0.5; done
    expect "the target is remembered after a restart" "$(verdicts)" "loads "
    probe syscommand 200 || fail "could not choose None"
    sleep 1
    expect "None takes the column away" "$(probe verdicts | cut -d'|' -f2 | tr -d '\n')" ""
    probe close
    expect_exit "target none"
    ;;

russian)
    # Under a Russian locale the window speaks Russian, at 144 DPI with
    # nothing cut short: its buttons, a batch's status lines and summary,
    # the question before a cut that would lose data. Files and a folder
    # given on the command line are listed with no dialog.
    export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
    trap 'set_dpi 96; finish' EXIT
    set_dpi 144
    mkdir -p "$images/папка"
    cp "$images/zero_tail.trd" "$images/папка/внутри.trd"
    cp "$images/zero_tail.trd" "$images/hidden.trd"
    printf 'loader data' | dd of="$images/hidden.trd" bs=1 seek=300000 conv=notrunc status=none
    start_korvat zero_tail.trd папка hidden.trd
    listed=""
    for _ in $(seq 60); do
        listed=$(probe rows | cut -d'|' -f2 | sed 's/.*\\//')
        [ "$listed" = "$(printf 'hidden.trd\nzero_tail.trd\nвнутри.trd')" ] && break
        sleep 0.5
    done
    expect "the files and the folder given are listed by folder and name, with no dialog" \
        "$listed" "$(printf 'hidden.trd\nzero_tail.trd\nвнутри.trd')"
    expect "the buttons in Russian, each with its key" "$(probe buttons)" \
        "$(printf '%s\n' 'Отметить все (&E)' 'Снять все (&N)' 'Обрезать нули (&Z)' \
            'Обрезать свободные (&S)' 'Восстановить (&R)' 'Файлы (&F)')"
    expect "the title in Russian" "$(probe window | sed -n 2p)" "KORVAT для Windows"

    # A batch: its status lines and its summary.
    key e
    key z
    for _ in $(seq 60); do status_lines | grep -q '^3 файла, ' && break; sleep 0.5; done
    expect "a batch's status lines and its summary in Russian" \
        "$(status_lines | sed 's/: .*\\/: /' | tail -n 7)" \
        "$(printf '%s\n' 'Обрезка нулей: hidden.trd' 'Готово' 'Обрезка нулей: zero_tail.trd' \
            'Готово' 'Обрезка нулей: внутри.trd' 'Готово' \
            '3 файла, изменено: 3, без изменений: 0, с ошибкой: 0; 1 966 080 -> 343 040 байтов')"
    # The question, in Russian, answered No after a restore.
    key e
    key r
    for _ in $(seq 60); do status_lines | grep -q 'изменено: 3.*-> 1 966 080' && break; sleep 0.5; done
    key e
    key s
    expect "the question in Russian" "$(probe question 'Обрезка свободных секторов' | head -n 1)" \
        "Данные были бы потеряны в 1 из 3 отмеченных образов: всего 11 ненулевых байтов лежат за первым свободным сектором."
    probe answer no 'Обрезка свободных секторов' || fail "could not answer No"
    for _ in $(seq 60); do status_lines | grep -q 'оставлено: 1' && break; sleep 0.5; done
    screenshot korvat-main-window-ru-144dpi
    expect "the summary counts the image left" "$(status_lines | tail -n 1)" \
        "3 файла, изменено: 2, без изменений: 0, с ошибкой: 0, оставлено: 1; 1 966 080 -> 698 368 байтов"
    probe close
    expect_exit "russian"
    ;;

*)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
