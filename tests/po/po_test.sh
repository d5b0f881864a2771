#!/usr/bin/env bash
# The translations: the template holds every text the sources mark (made
# again here with xgettext and compared), each po/*.po translates every one
# of them (msgcmp) and keeps every format directive its text has (msgfmt
# --check), with nothing fuzzy or left untranslated.
# Usage: po_test.sh WORK_FOLDER
set -u -o pipefail
work=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/../lib/expect.sh"
rm -rf "$work"
mkdir -p "$work"

bash "$root/tools/update_po.sh" "$work/fresh.pot"
expect "po/korvat.pot holds every text the sources mark, and no other (run tools/update_po.sh)" \
    "$(diff <(grep -v '^#' "$root/po/korvat.pot") <(grep -v '^#' "$work/fresh.pot") >/dev/null && echo same)" same
shown=$(grep -c '^msgid ' "$work/fresh.pot")
echo "texts shown by the programs: $((shown - 1))"

for po in "$root"/po/*.po; do
    language=$(basename "$po" .po)
    expect "$language: every shown text translated" \
        "$(msgcmp "$po" "$work/fresh.pot" 2>&1 | head -n 5)" ""
    statistics=$(msgfmt --check --statistics --output-file=/dev/null "$po" 2>&1)
    expect "$language: msgfmt --check passes, format directives kept" "$?" 0
    expect "$language: nothing fuzzy or untranslated" \
        "$(printf '%s\n' "$statistics" | grep -cE 'fuzzy|untranslated')" 0
    echo "$language: $statistics"
done

# Every Russian text in the character sets it is shown in: CP1251, which
# the window and korvat-cli.exe convert to under a Russian Windows, and
# KOI8-R, a Russian terminal's. One character either cannot hold would turn
# the whole program English there.
for charset in CP1251 KOI8-R; do
    expect "ru: every text can be shown in $charset" \
        "$(msgconv --to-code="$charset" "$root/po/ru.po" 2>&1 >/dev/null | head -n 3)" ""
done
# The usage and help stay within 80 columns, in every language.
for po in "$root"/po/*.po; do
    expect "$(basename "$po" .po): the usage and help within 80 columns" \
        "$(msgexec -i "$po" sh -c 'case "$MSGEXEC_MSGID" in "usage: "* | "Trims "*) cat ;; esac' 2>/dev/null |
            LC_ALL=C.UTF-8 grep -E '^.{81}' | head -n 3)" ""
done
echo "po: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
