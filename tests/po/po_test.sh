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
# the window and korvat-cli.exe convert to under a Russian Windows, whole;
# KOI8-R, a Russian terminal's, with what it lacks (a dash, guillemets)
# written as their likeness, as korvat-cli writes them.
expect "ru: every text can be shown in CP1251" \
    "$(msgconv --to-code=CP1251 "$root/po/ru.po" 2>&1 >/dev/null | head -n 3)" ""
expect "ru: every text can be shown in KOI8-R, likenesses and all" \
    "$(msgexec -i "$root/po/ru.po" iconv -f UTF-8 -t KOI8-R//TRANSLIT 2>&1 >/dev/null | head -n 3)" ""
# The usage and help stay within 80 columns, in every language.
for po in "$root"/po/*.po; do
    expect "$(basename "$po" .po): the usage and help within 80 columns" \
        "$(msgexec -i "$po" sh -c 'case "$MSGEXEC_MSGID" in "usage: "* | "Trims "*) cat ;; esac' 2>/dev/null |
            LC_ALL=C.UTF-8 grep -E '^.{81}' | head -n 3)" ""
done
# Every sentence the programs' sources hold is a text to translate: each
# string literal of two words or more that is not in the template, less
# those that are no text for a reader (markup, commands, names).
(cd "$root" && find src \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort |
    xgettext --language=C++ --from-code=UTF-8 --extract-all --omit-header --no-location \
        --files-from=- --output="$work/all.pot" 2>/dev/null)
python3 - "$work/all.pot" "$work/fresh.pot" >"$work/untranslated" <<'PYTHON'
import re, sys
# Literals, whole (a text split over lines is joined by xgettext's output).
def messages(path):
    out, cur, kind = [], None, None
    for line in open(path, encoding="utf-8").read().split("\n") + [""]:
        m = re.match(r'(msgid|msgid_plural|msgstr\S*) "(.*)"$', line)
        if m:
            if cur is not None and kind.startswith("msgid"):
                out.append(cur)
            kind, cur = m.group(1), m.group(2)
        elif line.startswith('"'):
            cur += line[1:-1]
    if cur is not None and kind and kind.startswith("msgid"):
        out.append(cur)
    return set(out)
marked = messages(sys.argv[2])
allowed = re.compile(r'<|korvat-cli |MiSTer|64-bit file offsets')
for text in sorted(messages(sys.argv[1]) - marked):
    if re.search(r"[a-z]{2,}'?[a-z]* [a-z]{2,}", text) and not allowed.search(text):
        print(text)
PYTHON
expect "every sentence in the sources is in the catalogue" "$(head -n 5 "$work/untranslated")" ""

echo "po: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
