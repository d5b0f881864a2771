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
echo "po: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
