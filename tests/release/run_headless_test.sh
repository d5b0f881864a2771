#!/usr/bin/env bash
# tools/run.sh on a machine without a display: it still shows KORVAT's work
# from the command line, leaves a picture of the window, and exits 0.
# Usage: run_headless_test.sh
set -u -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/lib/expect.sh"
output=$(env -u DISPLAY bash "$root/tools/run.sh" 2>&1)
expect "exit status without a display" "$?" 0
expect "the status lines of cut-zeros" \
    "$(printf '%s\n' "$output" | grep -c -e '^Cutting zeros from zero_tail.trd$' -e '^File is not TRD image !$')" 4
expect "the status lines of restore" "$(printf '%s\n' "$output" | grep -c '^Restoring size for blank.trd$')" 1
expect "the sizes after the cut, the files in name order" \
    "$(printf '%s\n' "$output" | grep -A4 '^Sizes after cut-zeros:' | head -n 5 | tr -s ' ')" \
    "Sizes after cut-zeros:
 blank.trd 4096 bytes
 notes.trd 38 bytes
 shortened.trd 12288 bytes
 zero_tail.trd 21504 bytes"
expect "the files end as the last sizes shown" \
    "$(cd "$root/build/demo" && stat -c '%n %s' blank.trd notes.trd shortened.trd zero_tail.trd)" \
    "blank.trd 655360
notes.trd 38
shortened.trd 655360
zero_tail.trd 655360"
expect "nothing but the run's own output" \
    "$(printf '%s\n' "$output" | grep -c -e 'shell-init' -e '^wine' -e 'Z:')" 0
expect "the summary of a run" "$(printf '%s\n' "$output" | grep -c '^4 files, 2 changed, 1 unchanged, 1 failed; ')" 1
expect "where the picture is" "$(printf '%s\n' "$output" | grep -c "^The picture is $root/build/demo/korvat.png.$")" 1
expect "the picture is a PNG" "$(head -c 4 "$root/build/demo/korvat.png" 2>/dev/null | od -An -c | tr -d ' ')" '211PNG'
echo "run: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
