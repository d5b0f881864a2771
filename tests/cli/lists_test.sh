#!/usr/bin/env bash
# A collection through a list of its own: the corpus disks at full length
# and cut short, their files as SCL archives, and Hobeta files. dat makes
# the list; identify names every file by it; the files, renamed at random,
# get their names back from rename; have counts what is held of it, at
# other lengths and in other forms, and of the lists beside the project.
# Under Wine, with NATIVE_CLI, every output against the native program's.
# Usage: lists_test.sh WORK_FOLDER CLI [WRAPPER CLI]
#        (KORVAT_CORPUS_DIR, KORVAT_LISTS_DIR)
set -u -o pipefail
work=$1
shift
cli=("$@")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/expect.sh"
corpus=${KORVAT_CORPUS_DIR:-}
lists=${KORVAT_LISTS_DIR:-}
[ -d "$corpus" ] || { echo "no corpus: nothing to test" >&2; exit 0; }
# Windows' walk joins names with "\" (a table escapes it as "\\"): "/" here.
slashes() { tr -d '\r' | sed 's|\\\\|/|g; s|\\|/|g'; }
run() { "${cli[@]}" "$@" 2>>"$work/stderr.log" | slashes; }
status_of() { "${cli[@]}" "$@" >/dev/null 2>&1; echo $?; }
export SOURCE_DATE_EPOCH=1796688000 # the list's date, the same on every run

rm -rf "$work"
mkdir -p "$work/c/full" "$work/c/cut" "$work/c/hob"
cd "$work"
cp "$corpus"/*.trd c/full/ && cp "$corpus"/*.trd c/cut/
# Each Hobeta file named by its type byte, as rename names it.
for hob in "$corpus"/*.hob; do
    cp "$hob" "c/hob/$(basename "$hob" .hob).\$$(dd if="$hob" bs=1 skip=8 count=1 status=none)"
done
chmod -R u+w c
run restore -q -r c/full >/dev/null
run cut-zeros -q -r c/cut >/dev/null
run to-scl -q --force -r c/full >/dev/null
files=$(find c -type f | wc -l)
disks=$(ls c/full/*.trd | wc -l)
cut_shorter=$(for f in c/full/*.trd; do cmp -s "$f" "c/cut/$(basename "$f")" || echo x; done | wc -l)
(cd c && find . -type f | sort) >names.before

expect "dat lists every file" "$(status_of dat -r --content --name Corpus -o corpus.dat c)" 0
expect "a list is never written over without --force" "$(status_of dat -r -o corpus.dat c/hob)" 1
# One entry for each file, and one more for each disk whose content end is
# not its length: the full ones that cut-zeros shortened.
entries=$((files + cut_shorter))
expect "the list is read back whole" \
    "$(run identify -r --dat corpus.dat c | tail -n 1)" \
    "$files files, $files known as they are, 0 known after a size change, 0 unknown, 0 unreadable"
expect "a file identify names is a success, a TR-DOS image or not" \
    "$(status_of identify -r --dat corpus.dat c)" 0

# Every file under a new name, then its own again from the list.
n=0
for f in $(find c -type f | sort); do
    n=$((n + 1))
    mv "$f" "$(dirname "$f")/renamed$n.${f##*.}"
done
expect "rename gives every file its name back" \
    "$(run rename -r -q --dat corpus.dat c | tail -n 1; (cd c && find . -type f | sort) | diff - names.before && echo same)" \
    "$files files, $files renamed, 0 named so already, 0 left, the name taken, 0 in no list, 0 failed
same"

expect "have: every entry held" "$(run have -r --missing --dat corpus.dat c)" \
    "Corpus: $entries of $entries held
$files files, $files in a list, 0 in no list, 0 unreadable"
# One disk at full length, its archive and its short copy gone in turn:
# held at another length, then in another form, then missed.
rm c/full/eyeache.trd
expect "a disk held at another length is held, and says how" \
    "$(run have -r --dat corpus.dat c | grep -c '^  held     eyeache.trd: c/cut/eyeache.trd (trd, 43008 bytes; the entry.s 655360 bytes with zeros added)$')" 1
rm c/cut/eyeache.trd
expect "a disk gone at both lengths is missed (its full, content and cut entries)" \
    "$(run have -r --missing --dat corpus.dat c | head -n 4)" \
    "  missing  eyeache.trd
  missing  eyeache.trd
  missing  eyeache.trd
Corpus: $((entries - 3)) of $entries held"

# Against the lists beside the project: what have holds is what identify
# names, row for row.
if [ -d "$lists" ]; then
    run identify -r --table --dat "$lists" c | awk -F'\t' 'NR > 1 && $8 != "unknown" { print $1 "\t" $6 }' |
        sort >identified
    run have -r --table --dat "$lists" c | awk -F'\t' '$3 == "held" { print $4 "\t" $2 }' | sort >held
    expect "have holds each entry identify names" "$(diff identified held && wc -l <held | tr -d ' ')" \
        "$(wc -l <identified | tr -d ' ')"
fi

# Names no file system refuses, by one rule on every build.
mkdir -p odd && cp c/hob/* odd/
set -- 'CON.$B' 'a&lt;b&gt;:c|d?. .$C' "$(printf 'x%.0s' $(seq 300)).\$B"
{
    echo '<datafile><header><name>Odd</name></header>'
    for f in odd/*; do
        printf '<game name="g"><rom name="%s" size="%s" sha1="%s"/></game>\n' "$1" "$(stat -c %s "$f")" \
            "$(sha1sum <"$f" | cut -c1-40)"
        shift
    done
    echo '</datafile>'
} >odd.dat
expect "a device name, refused characters and a long name made safe" \
    "$(run rename -r --dat odd.dat odd | head -n 3)" \
    "odd/machined.\$B is now odd/CON_.\$B
odd/music_c.\$C is now odd/a_b__c_d_.\$C
odd/twilight.\$B is now odd/$(printf 'x%.0s' $(seq 237)).\$B"

# Both builds alike: the list, a dry run's names and have's table.
if [ -n "${NATIVE_CLI:-}" ] && [ "${#cli[@]}" -gt 1 ]; then
    "$NATIVE_CLI" dat -r --content --name Corpus -o native.dat c >/dev/null 2>&1
    run dat -r --content --name Corpus -o windows.dat c >/dev/null
    expect "dat writes the same list on both builds" "$(cmp native.dat windows.dat && echo same)" same
    for f in c/full/*.scl; do mv "$f" "${f%.scl}-x.scl"; done
    for command in "rename -r --dry-run --dat corpus.dat c" "have -r --table --dat corpus.dat c"; do
        expect "$command: the same on both builds" \
            "$(diff <("$NATIVE_CLI" $command 2>&1) <("${cli[@]}" $command 2>&1 | slashes) && echo same)" same
    done
fi
echo "lists: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
