#!/usr/bin/env bash
# Makes a folder of sample images to show KORVAT at work:
#   blank.trd      a blank formatted 80-cylinder two-sided disk, full size
#   shortened.trd  a disk with two files, cut at its first free sector
#   zero_tail.trd  a full-size disk whose last tracks are zeros
#   notes.trd      a text file that is not a TR-DOS image
# Usage: make_demo_images.sh FOLDER
set -eu
folder=$1
mkdir -p "$folder"

# put FILE OFFSET BYTES...: writes bytes (in hex) at an offset, keeping the rest.
put() {
    local file=$1 offset=$2
    shift 2
    local text=""
    for byte in "$@"; do text="$text\\x$byte"; done
    printf "$text" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

# disk FILE LENGTH FILES FREE_TRACK FREE_SECTOR: a formatted disk, type 0x16.
disk() {
    local file=$1 free=$((2560 - $4 * 16 - $5))
    rm -f "$file"
    truncate -s "$2" "$file"
    # first free sector, first free track, disk type, file count, free
    # sectors; identifier 0x10
    put "$file" $((0x8E1)) "$(printf %02x "$5")" "$(printf %02x "$4")" 16 "$(printf %02x "$3")" \
        "$(printf %02x $((free % 256)))" "$(printf %02x $((free / 256)))" 10
    put "$file" $((0x8F5)) 4b 4f 52 56 41 54 20 20 # label "KORVAT  "
}

# entry FILE INDEX NAME SECTORS TRACK SECTOR: a code file in the catalogue.
entry() {
    local name_bytes
    name_bytes=$(printf '%-8s' "$3" | od -An -tx1)
    # name, type C, start 0x8000, length in bytes, sectors, first sector, track
    # shellcheck disable=SC2086
    put "$1" $(($2 * 16)) $name_bytes 43 00 80 \
        "$(printf %02x $(($4 * 256 % 65536 % 256)))" "$(printf %02x $(($4 * 256 % 65536 / 256)))" \
        "$(printf %02x "$4")" "$(printf %02x "$6")" "$(printf %02x "$5")"
}

# data FILE OFFSET LENGTH: fills a stretch with non-zero bytes.
data() {
    head -c "$3" /dev/urandom | tr '\000' '\001' |
        dd of="$1" bs=4096 seek="$2" oflag=seek_bytes conv=notrunc status=none
}

disk "$folder/blank.trd" 655360 0 1 0
disk "$folder/shortened.trd" 12288 2 3 0
entry "$folder/shortened.trd" 0 first 16 1 0
entry "$folder/shortened.trd" 1 second 16 2 0
data "$folder/shortened.trd" 4096 8192
disk "$folder/zero_tail.trd" 655360 1 5 4
entry "$folder/zero_tail.trd" 0 tail 68 1 0
data "$folder/zero_tail.trd" 4096 $((4 * 4096 + 1000))
printf 'Notes on my disks: not a disk image.\r\n' >"$folder/notes.trd"
