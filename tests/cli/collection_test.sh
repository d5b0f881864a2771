#!/usr/bin/env bash
# korvat-cli over a whole collection: a generated tree walked with -r, the
# info table, cut-free refused and forced, the summary's numbers, progress
# on a terminal only. Usage: collection_test.sh WORK_FOLDER CLI
set -u -o pipefail
work=$1
cli=$2
here=$(cd "$(dirname "$0")" && pwd)
corpus=${KORVAT_CORPUS_DIR:-$here/../../../shared/corpus/trd}

source "$here/../lib/expect.sh"
source "$here/../lib/as_user.sh"
length() { stat -c %s "$1"; }

rm -rf "$work"
mkdir -p "$work/tree"
chmod 755 "$work"
bash "$here/../../tools/make_demo_images.sh" "$work/demo" >/dev/null
tree=$work/tree
mkdir -p "$tree/a/b/c" "$tree/диски" "$tree/ディスク" "$tree/closed"
cp "$work/demo/zero_tail.trd" "$tree/top.trd"
cp "$work/demo/zero_tail.trd" "$tree/a/b/c/deep.trd"
cp "$work/demo/zero_tail.trd" "$tree/a/UPPER.TRD"
cp "$work/demo/notes.trd" "$tree/a/b/not-an-image.trd"
cp "$work/demo/zero_tail.trd" "$tree/a/image-named.img" # not .trd: left alone
cp "$work/demo/zero_tail.trd" "$tree/диски/диск.trd"
cp "$work/demo/zero_tail.trd" "$tree/ディスク/ディスク.trd"
cp "$work/demo/zero_tail.trd" "$tree/closed/hidden.trd"
ln -s .. "$tree/a/b/loop" # a link back up: never followed
ln -s ../top.trd "$tree/a/link-to-file.trd"
chmod -R a+rwX "$tree"
chmod 000 "$tree/closed"

# The walk: every image at any depth in path order, once each, and the
# closed folder reported with the system's text.
listing=$(as_user "$cli" info -r --table "$tree" 2>"$work/walk.err")
status=$?
expect "walk, files in path order" "$(printf '%s\n' "$listing" | cut -f1 | sed "s|^$tree/||")" "path
a/UPPER.TRD
a/b/c/deep.trd
a/b/not-an-image.trd
a/link-to-file.trd
top.trd
диски/диск.trd
ディスク/ディスク.trd"
expect "walk, exit status with an unreadable folder" "$status" 1
expect "walk, the unreadable folder named with the system's text" \
    "$(grep -c "^korvat-cli: $tree/closed: Permission denied$" "$work/walk.err")" 1
expect "walk, the non-image reported" "$(grep -c 'not-an-image.trd: File is not TRD image !$' "$work/walk.err")" 1
expect "walk, the non-image's row" "$(printf '%s\n' "$listing" | grep not-an-image | cut -f3-)" \
    "$(printf 'not-trd\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\tthe file holds 38 bytes, wanted at least 2280')"
expect "walk, summary on standard error under a table" "$(tail -n 1 "$work/walk.err")" \
    "7 files, 0 changed, 5 unchanged, 2 failed; 3276838 -> 3276838 bytes"

# A folder without -r is a usage error, found before any file is touched.
"$cli" cut-zeros "$tree/a" "$tree/top.trd" >"$work/no-r.out" 2>"$work/no-r.err"
expect "folder without -r, exit status" "$?" 2
expect "folder without -r, reported" "$(head -n 1 "$work/no-r.err")" "korvat-cli: $tree/a: is a folder (-r walks folders)"
expect "folder without -r, nothing done" "$(cat "$work/no-r.out"; length "$tree/top.trd")" 655360

# The real run over the tree: only .trd files change, quietly; the link is
# refused, and top.trd cut once, by its own name.
chmod 755 "$tree/closed"
"$cli" cut-zeros -r -q "$tree" >"$work/cut.out" 2>"$work/cut.err"
expect "quiet run, standard output is the summary alone" "$(cat "$work/cut.out")" \
    "8 files, 6 changed, 0 unchanged, 2 failed; 3932198 -> 129062 bytes"
expect "quiet run, the failures on standard error" "$(cat "$work/cut.err")" \
    "korvat-cli: $tree/a/b/not-an-image.trd: File is not TRD image !
korvat-cli: $tree/a/link-to-file.trd: Not a regular file"
expect "a file not named .trd is left alone" "$(length "$tree/a/image-named.img")" 655360
expect "names in Cyrillic and Japanese cut" "$(length "$tree/диски/диск.trd") $(length "$tree/ディスク/ディスク.trd")" \
    "21504 21504"
expect "a file named explicitly is taken whatever its name" \
    "$("$cli" cut-zeros -q "$tree/a/image-named.img"; length "$tree/a/image-named.img")" \
    "1 file, 1 changed, 0 unchanged, 0 failed; 655360 -> 21504 bytes
21504"
expect "-- ends the options" "$(cd "$work/demo" && cp blank.trd ./-r && "$cli" info --table -- -r 2>/dev/null | cut -f1,3 | tail -n 1)" \
    "$(printf -- '-r\ttrd')"

# The table on real disks, against values measured independently.
if [ -d "$corpus" ]; then
    expect "table on corpus disks" "$(cd "$corpus" && "$cli" info --table mescaline.trd oxygene7.trd advent7_ff0.trd zxmak_test.trd 2>/dev/null | tail -n +2 | cut -f1-11,13-15)" \
        "$(printf '%s\n' "mescaline.trd	655360	trd	0x16	12	134656	150016	134656	655360	5545	-	12	0	0" \
            "oxygene7.trd	655360	trd	0x16	8	74752	76288	74752	655360	1518	-	8	0	0" \
            "advent7_ff0.trd	655360	trd	0x16	42	0	654080	-	655360	-	-	42	0	4" \
            "zxmak_test.trd	655360	trd	0x16	19	250880	648704	250880	655360	349943	-	19	0	0")"

    # cut-free keeps data unless forced.
    cp "$corpus/mescaline.trd" "$work/mescaline.trd"
    chmod u+w "$work/mescaline.trd"
    "$cli" cut-free "$work/mescaline.trd" >"$work/free.out" 2>"$work/free.err"
    expect "cut-free refused, exit status" "$?" 1
    expect "cut-free refused, file untouched" "$(cmp -s "$corpus/mescaline.trd" "$work/mescaline.trd"; echo $?)" 0
    expect "cut-free refused, the reason on standard error" "$(cat "$work/free.err")" \
        "korvat-cli: $work/mescaline.trd: Not cut: 5545 non-zero bytes lie past the first free sector, outside every entry (--force cuts anyway)"
    expect "cut-free dry run shows the count" "$("$cli" cut-free --dry-run "$work/mescaline.trd" 2>/dev/null | sed -n 2p)" \
        "Dry run: Not cut: 5545 non-zero bytes lie past the first free sector, outside every entry (--force cuts anyway)"
    "$cli" cut-free --force "$work/mescaline.trd" >"$work/free.out" 2>"$work/free.err"
    expect "cut-free forced, exit status" "$?" 0
    expect "cut-free forced, length" "$(length "$work/mescaline.trd")" 134656
    expect "cut-free forced, the warning" "$(cat "$work/free.err")" \
        "korvat-cli: $work/mescaline.trd: warning: 5545 non-zero bytes past the first free sector are cut away (--force)"
    expect "cut-free forced, summary" "$(tail -n 1 "$work/free.out")" \
        "1 file, 1 changed, 0 unchanged, 0 failed; 655360 -> 134656 bytes"
else
    echo "corpus: skipped, $corpus not found"
fi

# Progress: never into a pipe or a file, redrawn in place on a terminal.
"$cli" info -r "$tree" >/dev/null 2>"$work/progress.err"
expect "no progress when standard error is not a terminal" "$(grep -c $'\r' "$work/progress.err")" 0
if command -v script >/dev/null; then
    script -qec "'$cli' info -r '$tree' >/dev/null" /dev/null >"$work/terminal.log" 2>&1
    expect "progress on a terminal, then cleared" \
        "$(grep -q $'\r\e\\[K0/8 files, ' "$work/terminal.log" && tail -c 4 "$work/terminal.log" | od -An -c | tr -d ' ')" '\r033[K' 
fi

echo "collection: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
