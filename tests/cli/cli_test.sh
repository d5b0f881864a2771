#!/usr/bin/env bash
# Tests of korvat-cli, natively or under Wine: each command on generated
# images, --dry-run, exit statuses and a usage error; natively, every
# operation on the real corpus when present; under Wine, what differs on
# Windows, and the corpus's table against the native program's, when
# NATIVE_CLI names it. Usage: cli_test.sh WORK_FOLDER CLI [WRAPPER]
set -u -o pipefail
work=$1
shift
cli=("$@") # the program, or a wrapper and the program
here=$(cd "$(dirname "$0")" && pwd)
corpus=${KORVAT_CORPUS_DIR:-$here/../../../shared/corpus/trd}

source "$here/../lib/expect.sh"
run() { "${cli[@]}" "$@" 2>>"$work/stderr.log" | tr -d '\r'; }
status_of() { "${cli[@]}" "$@" >/dev/null 2>&1; echo $?; }
length() { stat -c %s "$1"; }

rm -rf "$work"
mkdir -p "$work/images"
bash "$here/../../tools/make_demo_images.sh" "$work/images" >/dev/null
cd "$work/images"

# Usage.
expect "no arguments" "$(status_of)" 2
expect "unknown command" "$(status_of trim blank.trd)" 2
expect "unknown option" "$(status_of cut-zeros --force blank.trd)" 2
expect "--table is for info only" "$(status_of restore --table blank.trd)" 2
expect "no file" "$(status_of restore)" 2
expect "usage text on standard error" "$("${cli[@]}" 2>&1 >/dev/null | tr -d '\r' | grep -c '^usage: korvat-cli ')" 1
expect "--help" "$(status_of --help)" 0
expect "--version names the version and the commit" \
    "$(run --version | grep -cE "^korvat-cli ${KORVAT_VERSION:-unknown} \(commit ([0-9a-f]{12}(-dirty)?|unknown)\)$")" 1

# info on an image and on a file that is not one.
expect "info" "$(run info zero_tail.trd notes.trd)" "zero_tail.trd
  length            655360
  disk type         0x16: 80 cylinders, two sides, 160 tracks
  label             \"KORVAT  \"
  files             1 (1 live, 0 deleted)
  first free        track 5, sector 4, offset 21504
  last non-zero     21479
  cut-zeros gives   21504
  cut-free gives    21504
  cut-free loses    0 non-zero bytes
  restore gives     655360
  problems          none
notes.trd
File is not TRD image !
2 files, 0 changed, 1 unchanged, 1 failed; 655398 -> 655398 bytes"
expect "info exit status with a non-image" "$(status_of info blank.trd notes.trd)" 1
expect "an empty name's error on standard error" \
    "$("${cli[@]}" info '' 2>&1 >/dev/null | tr -d '\r' | grep -c '^korvat-cli: : ')" 1
expect "info exit status" "$(status_of info blank.trd)" 0

# On Windows the program expands wildcards itself.
if [ "${#cli[@]}" -gt 1 ]; then
    expect "wildcard expanded by the program" "$(run info '*.trd' | grep -c '^[a-z_]*\.trd$')" 4
    expect "a wildcard that matches nothing" \
        "$("${cli[@]}" info 'nomatch*.trd' 2>&1 | tr -d '\r' | grep -c '^korvat-cli: nomatch\*.trd: no file matches$')" 1
    # A path longer than 260 characters, whole, as Windows 10 and later
    # take it from a program that declares itself long-path aware.
    long=$work/$(printf 'folder-of-fifty-characters-for-a-path-past-260-%03d/' 1 2 3 4 5 6)
    mkdir -p "$long" && cp zero_tail.trd "$long/long.trd"
    long_windows=$(printf 'Z:%s' "$long/long.trd" | tr / '\\')
    expect "the path is past 260 characters" "$([ "${#long_windows}" -gt 260 ] && echo yes)" yes
    expect "a path past 260 characters is cut" \
        "$(run cut-zeros "$long_windows" | tail -n 1)" "1 file, 1 changed, 0 unchanged, 0 failed; 655360 -> 21504 bytes"
    expect "the long path's file cut" "$(length "$long/long.trd")" 21504
    # Names in any script, through the UTF-8 code page: expanded, printed
    # whole as UTF-8, and opened.
    mkdir -p "$work/names"
    for name in ディスク.trd диск.trd δίσκος.trd emoji😀.trd; do cp blank.trd "$work/names/$name"; done
    expect "names in any script, expanded and printed whole" \
        "$(cd "$work/names" && run info --table '*.trd' 2>/dev/null | tail -n +2 | cut -f1 | sort)" \
        "$(printf '%s\n' ディスク.trd диск.trd δίσκος.trd emoji😀.trd | sort)"
    (cd "$work/names" && run cut-zeros -q '*.trd' >/dev/null)
    expect "names in any script, cut" "$(stat -c %s "$work/names"/* | sort -u)" 4096
    # Folders and lists named in any script, taken from the wide command
    # line and walked with the wide calls, by every command that takes them.
    for folder in Диски ディスク "😀 disks"; do
        mkdir -p "$work/names/$folder/below" "$work/names/$folder lists"
        cp zero_tail.trd "$work/names/$folder/below/one.trd"
        printf '<datafile><header><name>Made</name></header><game name="z">\n<rom name="z.trd" size="655360" sha1="%s"/>\n</game></datafile>\n' \
            "$(sha1sum <zero_tail.trd | cut -c1-40)" >"$work/names/$folder lists/l.dat"
        for command in info list verify identify dupes cut-zeros restore cut-free; do
            lists=()
            [ "$command" = identify ] && lists=(--dat "$folder lists")
            expect "$command -r on the folder $folder" \
                "$(cd "$work/names" && run "$command" -r -q "${lists[@]}" "$folder" 2>&1 | tail -n 1 | grep -cE '^1 file')" 1
        done
        expect "conform with the list folder $folder" \
            "$(cd "$work/names" && "${cli[@]}" conform -r -q --dat "$folder lists" "$folder" 2>&1 | tr -d '\r' | grep -c 'korvat-cli')" 0
    done
fi

# The user's language and character set: the system's own error text, as
# ls gives it, and every text in the terminal's set, never a mix.
if [ "${#cli[@]}" -eq 1 ] && locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    expect "the system's Russian error text, as ls gives it" \
        "$(LANG=ru_RU.UTF-8 LC_ALL= "${cli[@]}" info nosuch.trd 2>/dev/null | sed -n 2p)" \
        "$(LANG=ru_RU.UTF-8 LC_ALL= ls nosuch.trd 2>&1 | sed 's/.*: //')"
    russian=$(LANG=ru_RU.UTF-8 LC_ALL= "${cli[@]}" info zero_tail.trd nosuch.trd 2>&1)
    # What a set lacks (guillemets in KOI8-R) as its likeness there.
    russian_in() { printf '%s\n' "$russian" | iconv -f UTF-8 -t "$1//TRANSLIT" | iconv -f "$1" -t UTF-8; }
    for charset in KOI8-R CP1251; do
        expect "output in $charset, converted from the same texts" \
            "$(LANG=ru_RU.$charset LC_ALL= "${cli[@]}" info zero_tail.trd nosuch.trd 2>&1 | iconv -f "$charset" -t UTF-8)" \
            "$(russian_in "$charset")"
    done
    expect "KORVAT_LANG names the set as well as the language" \
        "$(LANG=C LC_ALL= KORVAT_LANG=ru_RU.KOI8-R "${cli[@]}" info zero_tail.trd nosuch.trd 2>&1 | iconv -f KOI8-R -t UTF-8)" \
        "$(russian_in KOI8-R)"
    expect "a set no installed locale has: its characters, not escapes" \
        "$(LANG=ru_RU.ISO-8859-5 LC_ALL= "${cli[@]}" info zero_tail.trd nosuch.trd 2>&1 | iconv -f ISO-8859-5 -t UTF-8)" \
        "$(russian_in ISO-8859-5)"
    expect "the help's dashes and guillemets: as they are in CP1251, their likenesses in KOI8-R" \
        "$(for charset in CP1251 KOI8-R; do
               LANG=ru_RU.$charset LC_ALL= "${cli[@]}" --help | iconv -f "$charset" -t UTF-8 |
                   grep -c -e '— файлы$' -e '-- файлы$' -e '«-», где' -e '<<->>, где'
           done)" "2
2"
    expect "--table stays English and UTF-8 under KOI8-R" \
        "$(LANG=ru_RU.KOI8-R LC_ALL= "${cli[@]}" info --table zero_tail.trd 2>/dev/null | head -n 1 | cut -f1-3)" \
        "$(printf 'path\tlength\tverdict')"
elif [ "${#cli[@]}" -gt 1 ]; then
    expect "Windows' own Russian words for a missing file (as Wine gives them)" \
        "$(KORVAT_LANG=ru "${cli[@]}" info nosuch.trd 2>/dev/null | tr -d '\r' | sed -n 2p)" "Файл не найден"
fi

# --dry-run says what would happen and changes nothing.
sums=$(md5sum ./*.trd)
expect "dry run" "$(run cut-zeros --dry-run blank.trd notes.trd)" "Cutting zeros from blank.trd
Dry run: 655360 bytes would become 4096
Done
Cutting zeros from notes.trd
File is not TRD image !
Done
2 files, 1 would change, 0 unchanged, 1 failed; 655398 -> 4134 bytes (dry run)"
run cut-free --dry-run ./*.trd >/dev/null
run restore --dry-run ./*.trd >/dev/null
expect "dry runs leave every file byte-identical" "$(md5sum ./*.trd)" "$sums"

# The commands, with the window's status lines as they happen.
# The system's own words for a missing file: Windows' (as Wine gives them) or the C library's.
missing="No such file or directory"
[ "${#cli[@]}" -gt 1 ] && missing="File not found"
expect "cut-zeros" "$(run cut-zeros blank.trd zero_tail.trd notes.trd missing.trd)" "Cutting zeros from blank.trd
Done
Cutting zeros from zero_tail.trd
Done
Cutting zeros from notes.trd
File is not TRD image !
Done
Cutting zeros from missing.trd
$missing
Done
4 files, 2 changed, 0 unchanged, 2 failed; 1310758 -> 25638 bytes"
expect "lengths after cut-zeros" "$(length blank.trd) $(length zero_tail.trd) $(length notes.trd)" "4096 21504 38"
expect "restore exit status" "$(status_of restore blank.trd zero_tail.trd shortened.trd)" 0
expect "lengths after restore" "$(length blank.trd) $(length zero_tail.trd) $(length shortened.trd)" \
    "655360 655360 655360"
expect "cut-free" "$(run cut-free zero_tail.trd)" "Cutting free sectors from zero_tail.trd
Done
1 file, 1 changed, 0 unchanged, 0 failed; 655360 -> 21504 bytes"
expect "length after cut-free" "$(length zero_tail.trd)" 21504
expect "exit status with a non-image" "$(status_of cut-zeros blank.trd notes.trd)" 1

# A catalogue name with a byte outside printable ASCII keeps the columns in
# line; one free sector is one.
cp shortened.trd escaped.trd
printf '\x01' | dd of=escaped.trd bs=1 seek=1 conv=notrunc status=none
printf '\x01\x00' | dd of=escaped.trd bs=1 seek=$((0x8E5)) conv=notrunc status=none
expect "list, aligned whatever the escapes" "$(run list escaped.trd)" 'escaped.trd
  label "KORVAT  ", 2 files, 0 deleted
    #  name             start  length  sectors  track  sector
    1  f\x01rst    <C>  32768    4096       16      1       0
    2  second      <C>  32768    4096       16      2       0
  1 free sector
1 file, 0 changed, 1 unchanged, 0 failed; 655360 -> 655360 bytes'
expect "verify, one plain sentence with the numbers" "$(run verify escaped.trd | head -n 1)" \
    "escaped.trd: the disk-info sector counts 1 free sector (bytes 0x8E5 and 0x8E6), but 2512 sectors lie from the first free sector to the end of the disk"
expect "verify's summary, one of each" "$(run verify escaped.trd notes.trd | tail -n 1)" \
    "2 files, 0 whole, 1 with problems, 1 not an image, 0 unreadable"

# A first free sector past the end of the disk is refused, the file untouched.
if [ -f "$corpus/dejavu02.trd" ]; then
    cp "$corpus/dejavu02.trd" dejavu02.trd
    chmod u+w dejavu02.trd
    expect "a cut past the end of the disk is refused" "$(run cut-free dejavu02.trd)" \
        "Cutting free sectors from dejavu02.trd
First free sector lies past the end of the disk, file not cut !
Done
1 file, 0 changed, 0 unchanged, 1 failed; 655360 -> 655360 bytes"
    expect "dejavu02.trd untouched" "$(cmp -s "$corpus/dejavu02.trd" dejavu02.trd; echo $?)" 0
fi

# Under Wine, the corpus as korvat-cli.exe tables it, against the native
# program: both builds give the same results on the same input.
if [ "${#cli[@]}" -gt 1 ] && [ -d "$corpus" ] && [ -x "${NATIVE_CLI:-}" ]; then
    mkdir -p "$work/both"
    cp "$corpus"/* "$work/both/" && chmod u+w "$work/both"/*
    (cd "$work/both" && run info --table '*' 2>/dev/null | LC_ALL=C sort) >"$work/windows.tsv"
    (cd "$work/both" && "$NATIVE_CLI" info --table ./* 2>/dev/null | sed 's|^\./||' | LC_ALL=C sort) \
        >"$work/native.tsv"
    expect "both builds table the corpus alike" "$(diff "$work/native.tsv" "$work/windows.tsv" && echo same)" same
    # And identify it against the real lists alike.
    lists=$corpus/../../lists
    if [ -d "$lists" ]; then
        cp -r "$lists" "$work/lists"
        (cd "$work/both" && run identify --table --dat ../lists '*' 2>/dev/null | LC_ALL=C sort) \
            >"$work/windows-identify.tsv"
        (cd "$work/both" && "$NATIVE_CLI" identify --table --dat ../lists ./* 2>/dev/null |
            sed 's|^\./||' | LC_ALL=C sort) >"$work/native-identify.tsv"
        expect "both builds identify the corpus alike" \
            "$(diff "$work/native-identify.tsv" "$work/windows-identify.tsv" && echo same)" same
        expect "two corpus images are Demos entries as they are" \
            "$(grep -c $'\tas-is\t' "$work/windows-identify.tsv")" 2
        expect "four files inside corpus disks are Demos Hobeta entries" \
            "$(grep -c $'\tfile-as-hobeta:' "$work/windows-identify.tsv")" 4
    fi
    # The conversions give the same bytes on both builds.
    mkdir -p "$work/both/native" "$work/both/windows"
    for form in insult.scl machined.hob; do
        (cd "$work/both" && run to-trd -q -o "windows/$form.trd" "$form" >/dev/null &&
            "$NATIVE_CLI" to-trd -q -o "native/$form.trd" "$form" >/dev/null)
    done
    (cd "$work/both" && run to-scl -q -o windows/eyeache.scl --force eyeache.trd >/dev/null &&
        "$NATIVE_CLI" to-scl -q -o native/eyeache.scl --force eyeache.trd >/dev/null)
    (cd "$work/both" && run to-hobeta -q -o windows rush_oversize.trd >/dev/null &&
        "$NATIVE_CLI" to-hobeta -q -o native rush_oversize.trd >/dev/null)
    expect "both builds convert alike, byte for byte" \
        "$(cd "$work/both/native" && sha1sum ./* | sort)" "$(cd "$work/both/windows" && sha1sum ./* | sort)"
    # Every target's verdict on the corpus, and a repair, alike on both builds.
    (cd "$work/both" && run targets --table ./*.trd ./*.scl ./*.hob 2>/dev/null | tr -d '\r' |
        sed 's|^\./||' | LC_ALL=C sort) >"$work/windows-targets.tsv"
    (cd "$work/both" && "$NATIVE_CLI" targets --table ./*.trd ./*.scl ./*.hob 2>/dev/null |
        sed 's|^\./||' | LC_ALL=C sort) >"$work/native-targets.tsv"
    expect "both builds give the corpus the same verdicts" \
        "$(diff "$work/native-targets.tsv" "$work/windows-targets.tsv" && echo same)" same
    expect "twelve verdicts a file" "$(wc -l <"$work/windows-targets.tsv")" \
        "$((12 * $(cd "$work/both" && ls ./*.trd ./*.scl ./*.hob | wc -l) + 1))"
    cp "$work/both/mem_type0.trd" "$work/both/windows/type0.trd"
    cp "$work/both/mem_type0.trd" "$work/both/native/type0.trd"
    (cd "$work/both/windows" && run repair -q type0.trd >/dev/null 2>&1)
    (cd "$work/both/native" && "$NATIVE_CLI" repair -q type0.trd >/dev/null 2>&1)
    expect "both builds repair alike" "$(sha1sum <"$work/both/windows/type0.trd")" \
        "$(sha1sum <"$work/both/native/type0.trd")"
fi

# Conversions between the three forms: round trips give the same bytes,
# nothing is written over a file unasked, a dry run writes nothing.
mkdir -p "$work/forms/back" "$work/forms/hob"
cd "$work/forms"
bash "$here/../../tools/make_demo_images.sh" . >/dev/null
run to-scl -q zero_tail.trd >/dev/null
expect "a disk with nothing outside its files becomes an archive" "$(test -f zero_tail.scl && echo yes)" yes
run to-trd -q -o back/zero_tail.trd zero_tail.scl >/dev/null
run to-scl -q -o back/zero_tail.scl back/zero_tail.trd >/dev/null
expect "SCL -> TRD -> SCL gives the same bytes" "$(cmp zero_tail.scl back/zero_tail.scl && echo same)" same
run to-hobeta -q -o hob back/zero_tail.trd >/dev/null
run to-trd -q -o back/one.trd hob/* >/dev/null
run to-scl -q -o back/one.scl back/one.trd >/dev/null
expect "TRD -> Hobeta -> TRD -> SCL gives the archive again" "$(cmp zero_tail.scl back/one.scl && echo same)" same
sums=$(sha1sum ./*.trd ./*.scl)
expect "an existing file is not written over" "$(status_of to-scl zero_tail.trd)" 1
expect "a dry run" "$(run to-trd --dry-run -o new.trd zero_tail.scl | tail -n 1)" \
    "1 file, 1 would be written, 0 failed; 655360 bytes written (dry run)"
expect "nothing written by a refusal or a dry run" "$(sha1sum ./*.trd ./*.scl; ls new.trd 2>&1 | grep -c 'No such')" "$sums
1"
# to-hobeta writes each live file, from an archive as from a disk.
cp shortened.trd deleted.trd
printf '\x01' | dd of=deleted.trd bs=1 seek=16 conv=notrunc status=none
run to-scl -q --force -o deleted.scl deleted.trd >/dev/null 2>&1
mkdir -p from-disk from-archive
run to-hobeta -q -o from-disk/ deleted.trd >/dev/null 2>&1
run to-hobeta -q -o from-archive/ deleted.scl >/dev/null 2>&1
expect "to-hobeta skips a deleted file from an archive as from a disk" \
    "$(ls from-disk | wc -l) $(ls from-archive | wc -l)" "1 1"
rm -rf deleted.trd deleted.scl from-disk from-archive
# A reader that has gone (| head, here one that reads nothing) ends the
# run quietly, on both builds.
"${cli[@]}" info ./*.trd ./*.scl 2>"$work/pipe-errors" | true
expect "a closed pipe says nothing of it" "$(grep -ci 'write error\|pipe' "$work/pipe-errors")" 0
# A label TR-DOS cannot hold is refused before anything is done; a source
# that is missing is one failure, not two.
expect "a label in another script is a usage error" "$(status_of to-trd --label "ДИСКИ" -o l.trd zero_tail.scl)" 2
expect "a label of nine characters is a usage error" "$(status_of to-trd --label ABCDEFGHI -o l.trd zero_tail.scl)" 2
expect "-o makes the folders it names" \
    "$(status_of to-hobeta -o made/deeper/ zero_tail.scl; [ "$(ls made/deeper | wc -l)" -gt 0 ] && echo written)" \
    "0
written"
rm -rf made
expect "a missing source counts once" "$(run to-trd -o l.trd missing.scl 2>/dev/null | tail -n 1)" \
    "1 file, 0 written, 1 failed; 0 bytes written"
printf 'x' | dd of=blank.trd bs=1 seek=300000 conv=notrunc status=none
expect "a disk holding bytes outside its files is refused, nothing lost" "$(status_of to-scl -o lost.scl blank.trd; ls lost.scl 2>/dev/null | wc -l)" "1
0"
expect "dupes tells a disk and the archive of its files apart from copies" \
    "$(run dupes back/zero_tail.trd zero_tail.scl | tail -n 1)" \
    "2 files, 0 disks held more than once, 1 set of files held in other forms, 0 bytes in copies beyond the first, 0 unreadable"
expect "the cut and restore commands refuse an archive with the reason" \
    "$(run cut-zeros zero_tail.scl | sed -n 3p)" "An SCL archive: cut and restore work on disk images (to-trd makes one)"

# The forms at their edges, one row each: what is read, what is refused.
# scl NAME COUNT: an archive of COUNT empty files, its sum at the end; with
# DATA given, one file of 16 sectors holding it.
scl() {
    local name=$1 count=$2
    { printf 'SINCLAIR'; printf "\\x$(printf %02x "$count")"
      for i in $(seq "$count"); do printf 'f%07dC\0\0\0\0\0' "$i"; done; } >"$name"
}
add_sum() {
    local sum
    sum=$(od -An -tu1 -v "$1" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { print s }')
    printf "\\x$(printf %02x $((sum & 255)))\\x$(printf %02x $((sum >> 8 & 255)))\\x$(printf %02x $((sum >> 16 & 255)))\\x$(printf %02x $((sum >> 24 & 255)))" >>"$1"
}
scl full.scl 128 && add_sum full.scl
run to-trd -q -o full.trd full.scl >/dev/null
run to-scl -q -o full-again.scl full.trd >/dev/null
expect "128 files: verify, identify and a round trip take the disk; the cut commands leave it" \
    "$(run verify full.trd; status_of identify full.trd; cmp full.scl full-again.scl && echo same
       run cut-zeros full.trd | sed -n 2p)" \
    "full.trd: whole
full.trd: note: 128 files, a full catalogue: the cut commands and restore leave such a disk
1 file, 1 whole, 0 with problems, 0 not images, 0 unreadable
0
same
File is not TRD image !"
# An archive whose one file puts what the TR-DOS check looks for at 0x8E3.
{ printf 'SINCLAIR\x01'; printf 'f0000001C\0\0\0\0\x10'; head -c 4096 /dev/zero; } >both.scl
printf '\x16\x01\0\0\x10' | dd of=both.scl bs=1 seek=$((0x8E3)) conv=notrunc status=none
add_sum both.scl
cp zero_tail.trd password.trd
printf 'PASSWORD!' | dd of=password.trd bs=1 seek=$((0x8E8)) conv=notrunc status=none
cp zero_tail.trd huge.trd
truncate -s 3M huge.trd
printf 'x' | dd of=huge.trd bs=1 seek=$((5 * 1024 * 1024 / 2)) conv=notrunc status=none
run to-hobeta -q -o hob2/ back/zero_tail.trd >/dev/null
hobeta=$(ls hob2/* | head -n 1)
printf '\xff' | dd of="$hobeta" bs=1 seek=15 conv=notrunc status=none
expect "a valid archive that passes the TR-DOS check too is an archive" "$(status_of to-trd -o both.trd both.scl)" 0
expect "to-scl counts a non-blank byte between the disk-info fields" \
    "$(run to-scl -o p.scl password.trd | sed -n 2p)" \
    "Not converted: 9 non-zero bytes lie outside every file and would be lost (--force converts anyway)"
expect "to-scl counts a byte past 2 MiB" "$(run to-scl -o h.scl huge.trd | sed -n 2p)" \
    "Not converted: 1 non-zero byte lies outside every file and would be lost (--force converts anyway)"
expect "a Hobeta file with a bad checksum is told as one" "$(run verify "$hobeta" | grep -c "header's checksum")" 1
: >leftover.scl.korvat-0.tmp
expect "a temporary file left by a stopped run is named, and left" \
    "$(run to-scl -o leftover.scl zero_tail.trd | grep -c '^Left by a run that was stopped, or still writing: leftover.scl.korvat-0.tmp'; ls leftover.scl*)" \
    "1
leftover.scl
leftover.scl.korvat-0.tmp"
if [ "${#cli[@]}" -eq 1 ]; then
    source "$here/../lib/as_user.sh"
    mkdir -p read-only && chmod 555 read-only
    expect "a dry run into a folder that takes no file fails as the run would" \
        "$(as_user "${cli[@]}" to-scl --dry-run -o read-only/x.scl zero_tail.trd >/dev/null 2>&1; echo $?)" 1
fi
rm -rf full*.scl full.trd both.* password.trd p.scl huge.trd h.scl hob2 leftover.scl* read-only
cd "$work/images"

# identify, conform and dupes: a disk known at another length, made so,
# then found twice; a list that cannot be read stops the run.
printf '<datafile><header><name>Made</name></header><game name="z">\n<rom name="zero.trd" size="655360" sha1="%s"/>\n</game></datafile>\n' \
    "$(cat zero_tail.trd /dev/zero | head -c 655360 | sha1sum | cut -c1-40)" >list.dat
expect "identify knows the cut image at its full size" "$(run identify --dat list.dat zero_tail.trd | tail -n 2)" \
    "  at 655360 bytes (padded with zeros, korvat-cli restore): Made: zero.trd
1 file, 0 known as they are, 1 known after a size change, 0 unknown, 0 unreadable"
expect "conform without a list is a usage error" "$(status_of conform zero_tail.trd)" 2
expect "conform makes it the list's" "$(run conform -q --dat list.dat zero_tail.trd)" \
    "1 file, 1 changed, 0 unchanged, 0 failed; 21504 -> 655360 bytes"
expect "identify knows it as it is now" "$(status_of identify --dat list.dat zero_tail.trd)" 0
# A disk listed at two lengths: left, unless --prefer names the list that
# settles it; one that already is an entry is left as it is, known.
cp zero_tail.trd two.trd && truncate -s 40960 two.trd
printf '<datafile><header><name>Cut</name></header><game name="c"><rom name="c.trd" size="21504" sha1="%s"/></game></datafile>\n' \
    "$(head -c 21504 zero_tail.trd | sha1sum | cut -c1-40)" >cut.dat
expect "conform leaves a disk its lists give two lengths" "$(status_of conform -q --dat list.dat --dat cut.dat two.trd; length two.trd)" "1
40960"
expect "--prefer settles it, then it is known as it is" \
    "$(status_of conform -q --dat list.dat --dat cut.dat --prefer cut.dat two.trd; length two.trd; run conform -q --dat list.dat --dat cut.dat two.trd)" "0
21504
1 file, 0 changed, 1 unchanged, 0 failed; 21504 -> 21504 bytes"
cp zero_tail.trd copy.trd && truncate -s 40960 copy.trd
cp blank.trd one.trd && ln -f one.trd other-name.trd
expect "a file reached by two names is one file, on both builds" \
    "$(run dupes one.trd other-name.trd | tail -n 1 | cut -d, -f1-2)" "1 file, 0 disks held more than once"
rm -f one.trd other-name.trd
expect "dupes finds the same disk at two lengths" "$(run dupes zero_tail.trd copy.trd blank.trd | tail -n 1)" \
    "3 files, 1 disk held more than once, 40960 bytes in copies beyond the first, 0 unreadable"
printf '<datafile><game>' >broken.dat
expect "a broken list stops the run, saying where" \
    "$("${cli[@]}" identify --dat broken.dat zero_tail.trd 2>&1 | tr -d '\r')" "korvat-cli: broken.dat:1:17: no element found"

# The corpus, natively: every operation gives the length that info predicted.
if [ "${#cli[@]}" -gt 1 ]; then
    echo "corpus: run natively"
elif [ -d "$corpus" ]; then
    mkdir -p "$work/corpus"
    # An archive of more sectors than a new disk holds says how many it has.
    "${cli[@]}" to-scl -q --force -o "$work/corpus/dejavu02.scl" "$corpus/dejavu02.trd" >/dev/null 2>&1
    expect "info gives an archive's own sectors, past 2,544 too" \
        "$("${cli[@]}" info "$work/corpus/dejavu02.scl" | grep -c '^  sectors  *2636$')" 1
    rm -f "$work/corpus/dejavu02.scl"
    compared=0
    for file in "$corpus"/*.trd; do
        name=$(basename "$file")
        for op in cut-zeros cut-free restore; do
            cp "$file" "$work/corpus/$name"
            chmod u+w "$work/corpus/$name"
            predicted=$(run info "$work/corpus/$name" | sed -n "s/^  $op gives *\([0-9]*\).*/\1/p")
            force=()
            [ "$op" = cut-free ] && force=(--force)
            run "$op" "${force[@]}" "$work/corpus/$name" >/dev/null
            if [ -n "$predicted" ]; then
                expect "$op on $name" "$(length "$work/corpus/$name")" "$predicted"
                compared=$((compared + 1))
            else
                expect "$op leaves $name alone" "$(cmp -s "$file" "$work/corpus/$name"; echo $?)" 0
            fi
        done
    done
    echo "corpus: $compared lengths compared"
else
    echo "corpus: skipped, $corpus not found"
fi

echo "cli: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
