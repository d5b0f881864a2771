#!/usr/bin/env bash
# Measures the optimised korvat-cli over a whole collection against the
# floors of the same file work, in one run on the same files: `info -r` and
# `verify -r` against `cat` of every file to /dev/null; `identify -r` with
# lists of 5,000 entries in TOSEC's mix of lengths, and `dupes -r`, against
# `sha1sum` of the same files (after `cut-zeros`, against `sha1sum` of them
# at full size); loading those lists, its time and memory; 
# to-scl of every disk and to-trd of every archive, against cp of the same
# bytes into one folder; loading lists of 25,000 entries in the three forms;
# `cut-zeros -r`
# against the read no scan can skip and the same length change per file
# (cut_floor); `restore -r` over the cut images against one write of the
# missing zeros per file (write_floor). Every timed run starts from the same
# state: the files in the page cache and nothing left to write back (a cut
# that meets pages still being written waits for them, and that wait grows
# with the bytes written before it, not with the cut).
# Usage: measure_cli.sh [COUNT [scrambled]]  (10,000 full-size images by default)
#        measure_cli.sh collections [COUNT]  (identify, dat and have with
#        lists of TOSEC's size: tools/measure_collections.sh)
set -eu
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
mode=""
if [ "${1:-}" = collections ]; then
    mode=collections
    shift
fi
count=${1:-10000}

install_missing_packages || { echo "package installation failed" >&2; exit 1; }
build_optimised || { echo "optimised build failed" >&2; exit 1; }
cli=$KORVAT_BUILD/optimised/korvat-cli

# Before each timed run: whatever is waiting is written back, and free
# memory compacted (where this user may), so that the run does not meet
# the pages the previous one freed in whichever order it freed them: left
# as they are, a write of a whole collection into the page cache ran at
# one of two speeds, alternating from one run to the next.
settle() {
    sync
    echo 1 >/proc/sys/vm/compact_memory 2>/dev/null || true
}

# Times a command, from a settled state.
seconds() {
    local start end
    settle
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
# A floor program's own time, from the same state.
floor_seconds() {
    settle
    "$1" <"$2"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

if [ "$mode" = collections ]; then
    count=${1:-2000}
    source "$KORVAT_ROOT/tools/measure_collections.sh"
    exit 0
fi
write_floor=$KORVAT_BUILD/optimised/tests/write_floor
cut_floor=$KORVAT_BUILD/optimised/tests/cut_floor

folder=$(mktemp -d "$KORVAT_BUILD/collection.XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$folder"' EXIT
# Three kinds of full-size disk, a third each: data ending early (a long zero
# tail), half way, and in the last sector (nothing to cut). As real disks
# are: a catalogue of files that hold the data, the first free sector just
# after them and the free-sector count to match. With "scrambled" as the
# second argument, track 0 is random too and the first free sector is
# track 1, so every byte past track 0 is data a cut there would lose: the
# most a survey ever reads.
scrambled=${2:-}
templates=$folder/templates
mkdir -p "$templates"
byte() { printf "\\x$(printf %02x "$1")"; }
for kind in 40960 327680 655360; do
    file=$templates/$kind.trd
    head -c "$kind" /dev/urandom >"$file"
    truncate -s 655360 "$file"
    # Zeros as real blocks, as a copied image has them, not a hole.
    cp --sparse=never "$file" "$file.tmp" && mv "$file.tmp" "$file"
    if [ "$scrambled" = scrambled ]; then
        free=16 files=5
    else
        # Files of at most 255 sectors, one after another from track 1.
        dd if=/dev/zero of="$file" bs=2048 count=1 conv=notrunc status=none
        sectors=$(((kind - 4096) / 256)) start=16 files=0
        while [ "$sectors" -gt 0 ]; do
            n=$((sectors > 255 ? 255 : sectors))
            { printf 'file%04d' "$files"; printf 'C\x00\x80\x00\x00'; byte "$n"
              byte $((start % 16)); byte $((start / 16)); } |
                dd of="$file" bs=1 seek=$((files * 16)) conv=notrunc status=none
            start=$((start + n)) sectors=$((sectors - n)) files=$((files + 1))
        done
        free=$start
    fi
    left=$((2560 - free))
    { byte $((free % 16)); byte $((free / 16)); printf '\x16'; byte "$files"
      byte $((left % 256)); byte $((left / 256)); printf '\x10'; } |
        dd of="$file" bs=1 seek=$((0x8E1)) conv=notrunc status=none
    printf '\x00' | dd of="$file" bs=1 seek=$((0x800)) conv=notrunc status=none
    printf '\x00' | dd of="$file" bs=1 seek=$((0x8F4)) conv=notrunc status=none
done
images=$folder/images
kinds=(40960 327680 655360)
for i in $(seq 1 "$count"); do
    sub=$images/$((i % 100))
    [ -d "$sub" ] || mkdir -p "$sub"
    cp --sparse=never "$templates/${kinds[$((i % 3))]}.trd" "$sub/disk$i.trd"
done
find "$images" -name '*.trd' | sort >"$folder/list"
xargs cat <"$folder/list" >/dev/null # into the page cache, for every run alike
# Where each image's data ends, for the floor of the cut.
"$cli" info --table -r "$images" 2>/dev/null | awk -F'\t' 'NR > 1 { print $1 " " $7 }' >"$folder/cuts"



# Lists of 5,000 entries in the mix of lengths TOSEC's TR-DOS lists have:
# 73% full 80-cylinder disks, 27% shortened (whole sectors, of every
# length), a few of 81 to 86 cylinders and a few not whole sectors; their
# hashes are no file's, so every length is hashed and nothing matches.
mkdir -p "$folder/lists"
awk 'BEGIN {
    srand(20261208)
    print "<?xml version=\"1.0\"?>\n<datafile><header><name>Made in the TOSEC mix</name></header>"
    for (i = 0; i < 5000; i++) {
        r = rand()
        if (r < 0.726) size = 655360
        else if (r < 0.992) size = 4096 + int(rand() * 2544) * 256
        else if (r < 0.994) size = 655360 + (1 + int(rand() * 6)) * 8192
        else size = 4096 + int(rand() * 650000)
        sha1 = ""
        for (k = 0; k < 40; k++) sha1 = sha1 sprintf("%x", int(rand() * 16))
        printf "<game name=\"d%d\"><rom name=\"d%d.trd\" size=\"%d\" sha1=\"%s\"/></game>\n", i, i, size, sha1
    }
    print "</datafile>"
}' >"$folder/lists/mix.dat"

# Every list the project has beside it (TOSEC's disks, archives and Hobeta
# files, MAME's), loaded with the mix: the forms are hashed only where a
# list has an entry of their size.
shared_lists=$KORVAT_ROOT/../shared/lists
[ -d "$shared_lists" ] && cp "$shared_lists"/*.dat "$shared_lists"/*.xml "$folder/lists/" 2>/dev/null
# Lists of 25,000 entries in all three forms, for the time and memory of
# loading them.
mkdir -p "$folder/forms-lists"
awk 'BEGIN {
    srand(20261209)
    print "<?xml version=\"1.0\"?>\n<datafile><header><name>Three forms</name></header>"
    for (i = 0; i < 25000; i++) {
        r = rand()
        if (r < 0.22) { ext = "trd"; size = 655360 }
        else if (r < 0.87) { ext = "scl"; size = 13 + 14 * 5 + int(rand() * 2000) * 256 }
        else { ext = "$b"; size = 17 + int(rand() * 255) * 256 }
        sha1 = ""
        for (k = 0; k < 40; k++) sha1 = sha1 sprintf("%x", int(rand() * 16))
        printf "<game name=\"e%d\"><rom name=\"e%d.%s\" size=\"%d\" sha1=\"%s\"/></game>\n", i, i, ext, size, sha1
    }
    print "</datafile>"
}' >"$folder/forms-lists/forms.dat"

read_floor=$(seconds sh -c "xargs cat <'$folder/list'")
sha1_floor=$(seconds sh -c "xargs sha1sum <'$folder/list'")
identify=$(seconds "$cli" identify -r -q --dat "$folder/lists" "$images")
dupes=$(seconds "$cli" dupes -r -q "$images")
# Loading the lists alone: identify over one small file, its time and peak memory.
"$cli" cut-zeros -q "$(head -n 1 "$folder/list")" >/dev/null
/usr/bin/time -o "$folder/load" -f '%e %M' "$cli" identify -q --dat "$folder/lists" \
    "$(head -n 1 "$folder/list")" >/dev/null 2>&1 || true
load=$(tail -n 1 "$folder/load")
/usr/bin/time -o "$folder/load-forms" -f '%e %M' "$cli" identify -q --dat "$folder/forms-lists" \
    "$(head -n 1 "$folder/list")" >/dev/null 2>&1 || true
load_forms=$(tail -n 1 "$folder/load-forms")
info=$(seconds "$cli" info -r -q "$images")
verify=$(seconds "$cli" verify -r -q "$images")
# The cut and the restore each alternate with their floor over five rounds,
# which goes first changing from round to round, so that neither always
# meets the state the other leaves; each measured from the same files in
# the same state (full before a cut, cut before a restore). Each round's
# ratio is its own; the middle one is reported with the spread.
full_again() { "$cli" restore -r -q "$images" >/dev/null; }
cut_again() { "$cli" cut-zeros -r -q "$images" >/dev/null; }
time_cut() { full_again; seconds "$cli" cut-zeros -r -q "$images"; }
time_cut_floor() { full_again; floor_seconds "$cut_floor" "$folder/cuts"; }
time_restore() { cut_again; seconds "$cli" restore -r -q "$images"; }
time_write_floor() { cut_again; floor_seconds "$write_floor" "$folder/list"; }
# identify over the same images after cut-zeros, against sha1sum at full size.
cut_again
identify_cut=$(seconds "$cli" identify -r -q --dat "$folder/lists" "$images")
# The conversions against cp of the same bytes into the same folder: the
# disks' archives (to-scl), then the disks made again of them (to-trd).
sed 's/\.trd$/.scl/' "$folder/list" >"$folder/scl-names"
full_again
# Every target's verdict on every image, full size, against cat of the same files.
targets_floor=$(seconds sh -c "xargs cat <'$folder/list'")
targets=$(seconds sh -c "'$cli' targets -r -q '$images' || true")
to_scl=$(seconds xargs -a "$folder/list" "$cli" to-scl -q --force)
mkdir -p "$folder/copies"
copy_floor_scl=$(seconds sh -c "xargs -a '$folder/scl-names' cp -t '$folder/copies'")
rm -rf "$folder/copies"
xargs -a "$folder/list" rm -f
to_trd=$(seconds xargs -a "$folder/scl-names" "$cli" to-trd -q --force)
mkdir -p "$folder/copies"
copy_floor_trd=$(seconds sh -c "xargs -a '$folder/list' cp -t '$folder/copies'")
rm -rf "$folder/copies"

rounds=${ROUNDS:-5}
cut_ratios="" restore_ratios=""
for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
        cut=$(time_cut) cut_only=$(time_cut_floor)
        restore=$(time_restore) write=$(time_write_floor)
    else
        cut_only=$(time_cut_floor) cut=$(time_cut)
        write=$(time_write_floor) restore=$(time_restore)
    fi
    cut_ratios="$cut_ratios $(ratio "$cut" "$cut_only")"
    restore_ratios="$restore_ratios $(ratio "$restore" "$write")"
    echo "round $round: cut-zeros $cut s, floor $cut_only s; restore $restore s, floor $write s" >&2
done
middle() { printf '%s\n' $1 | sort -n | sed -n "$(((rounds + 1) / 2))p"; }
spread() { printf '%s\n' $1 | sort -n | sed -n '1p;$p' | paste -sd- -; }
printf '%s images, %s bytes each before any cut\n' "$count" 655360
printf '%-28s %9s %9s %7s\n' "command" "seconds" "floor" "ratio"
printf '%-28s %9.2f %9.2f %6sx\n' "info -r" "$info" "$read_floor" "$(ratio "$info" "$read_floor")"
printf '%-28s %9.2f %9.2f %6sx\n' "verify -r" "$verify" "$read_floor" "$(ratio "$verify" "$read_floor")"
printf '%-28s %9.2f %9.2f %6sx  (sha1sum)\n' "identify -r, 5,000 entries" "$identify" "$sha1_floor" \
    "$(ratio "$identify" "$sha1_floor")"
printf '%-28s %9.2f %9.2f %6sx  (sha1sum)\n' "dupes -r" "$dupes" "$sha1_floor" "$(ratio "$dupes" "$sha1_floor")"
printf '%-28s %9.2f %9.2f %6sx  (sha1sum of them full)\n' "identify -r, cut images" "$identify_cut" \
    "$sha1_floor" "$(ratio "$identify_cut" "$sha1_floor")"
printf '%-28s %9.2f %9.2f %6sx  (cat of them full)\n' "targets -r, twelve targets" "$targets" \
    "$targets_floor" "$(ratio "$targets" "$targets_floor")"
printf 'loading the lists (5,000 entries): %s s, peak memory %s KiB (the whole program)\n' $load
printf 'loading lists of 25,000 entries in the three forms: %s s, peak memory %s KiB\n' $load_forms
printf '%-28s %9.2f %9.2f %6sx  (cp of the archives)\n' "to-scl, the disks" "$to_scl" \
    "$copy_floor_scl" "$(ratio "$to_scl" "$copy_floor_scl")"
printf '%-28s %9.2f %9.2f %6sx  (cp of the disks)\n' "to-trd, the archives" "$to_trd" \
    "$copy_floor_trd" "$(ratio "$to_trd" "$copy_floor_trd")"
printf '%-28s %9s %9s %6sx (rounds: %s)\n' "cut-zeros -r" "" "cut_floor" "$(middle "$cut_ratios")" \
    "$(spread "$cut_ratios")"
printf '%-28s %9s %9s %6sx (rounds: %s)\n' "restore -r (cut images)" "" "write_floor" \
    "$(middle "$restore_ratios")" "$(spread "$restore_ratios")"
