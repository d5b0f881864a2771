#!/usr/bin/env bash
# Extracts every text the programs show into po/korvat.pot with GNU
# gettext's xgettext, and merges it into each po/*.po with msgmerge, so that
# translators (Poedit, Weblate) see what is new or changed. A new language
# is one new file: msginit -i po/korvat.pot -l LANG -o po/LANG.po.
# Usage: update_po.sh [POT_FILE]   (po/korvat.pot by default; another file
# leaves the .po files alone)
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
pot=${1:-$root/po/korvat.pot}
version=$(sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
cd "$root"
# The sources in a fixed order, so that the template is the same wherever
# it is made; the keywords are the program's own marks.
find src \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort >"$pot.sources"
xgettext --language=C++ --from-code=UTF-8 --keyword=tr --keyword=trn:1,2 \
    --keyword=text_to_translate --keyword=counted:2,3 --add-comments=TRANSLATORS: \
    --package-name=KORVAT --package-version="$version" --copyright-holder="The KORVAT developers" \
    --add-location=file --sort-by-file --omit-header --files-from="$pot.sources" --output="$pot.body"
rm -f "$pot.sources"
# A header of our own, with no date: the same sources give the same template.
{
    printf '# The texts KORVAT shows, for translators.\n'
    printf '# Copyright (C) 2026 The KORVAT developers. MIT License.\n'
    printf 'msgid ""\nmsgstr ""\n'
    printf '"Project-Id-Version: KORVAT %s\\n"\n' "$version"
    printf '"MIME-Version: 1.0\\n"\n"Content-Type: text/plain; charset=UTF-8\\n"\n'
    printf '"Content-Transfer-Encoding: 8bit\\n"\n'
    printf '"Plural-Forms: nplurals=INTEGER; plural=EXPRESSION;\\n"\n\n'
    cat "$pot.body"
} >"$pot"
rm -f "$pot.body"
if [ -z "${1:-}" ]; then
    for po in "$root"/po/*.po; do
        [ -f "$po" ] && msgmerge --quiet --update --backup=none --no-fuzzy-matching "$po" "$pot"
    done
fi
