#!/usr/bin/env bash
# Measures the optimised korvat-cli over a whole collection against the
# floors of the same file work, in one run on the same files: `info -r`,
# `verify -r` and `cut-zeros -r` against `cat` of every file to /dev/null,
# and `restore -r` over the cut images against one write of the missing
# zeros per file.
# Usage: measure_cli.sh [COUNT [scrambled]]  (10,000 full-size images by default)
set -eu
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
count=${1:-10000}

install_missing_packages || { echo "package installation failed" >&2; exit 1; }
build_optimised || { echo "optimised build failed" >&2; exit 1; }
cli=$KORVAT_BUILD/optimised/korvat-cli
write_floor=$KORVAT_BUILD/optimised/tests/write_floor

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
cat $(cat "$folder/list") >/dev/null # into the page cache, for every run alike

seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

read_floor=$(seconds sh -c "xargs cat <'$folder/list'")
info=$(seconds "$cli" info -r -q "$images")
verify=$(seconds "$cli" verify -r -q "$images")
cut=$(seconds "$cli" cut-zeros -r -q "$images")
restore=$(seconds "$cli" restore -r -q "$images")
"$cli" cut-zeros -r -q "$images" >/dev/null
write=$("$write_floor" <"$folder/list")

printf '%s images, %s bytes each before any cut\n' "$count" 655360
printf '%-28s %9s %9s %7s\n' "command" "seconds" "floor" "ratio"
printf '%-28s %9.2f %9.2f %6sx\n' "info -r" "$info" "$read_floor" "$(ratio "$info" "$read_floor")"
printf '%-28s %9.2f %9.2f %6sx\n' "verify -r" "$verify" "$read_floor" "$(ratio "$verify" "$read_floor")"
printf '%-28s %9.2f %9.2f %6sx\n' "cut-zeros -r" "$cut" "$read_floor" "$(ratio "$cut" "$read_floor")"
printf '%-28s %9.2f %9.2f %6sx\n' "restore -r (cut images)" "$restore" "$write" "$(ratio "$restore" "$write")"
