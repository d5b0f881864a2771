#!/usr/bin/env bash
# Makes the fuzzer's starting inputs: for each of the four choices (check alone,
# cut zeros, cut free sectors, restore size), a few small images.
# Usage: make_inputs.sh FOLDER
set -eu
folder=$1
mkdir -p "$folder"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# image NAME LENGTH TYPE FREE_TRACK FREE_SECTOR [DATA_END]
image() {
    local file=$work/$1
    truncate -s "$2" "$file"
    printf "\\x$(printf %02x "$5")\\x$(printf %02x "$4")\\x$3\\x01" |
        dd of="$file" bs=1 seek=$((0x8E1)) conv=notrunc status=none
    printf '\x10' | dd of="$file" bs=1 seek=$((0x8E7)) conv=notrunc status=none
    if [ -n "${6:-}" ]; then
        printf '\x5a' | dd of="$file" bs=1 seek="$6" conv=notrunc status=none
    fi
}

image blank 4096 16 1 0
image data 9000 19 2 3 8500
image short 2280 17 0 0
image odd 5000 18 1 4 4900
image track0 8192 16 0 5 8191
for file in "$work"/*; do
    for choice in 0 1 2 3; do
        { printf "\\x0$choice"; cat "$file"; } >"$folder/$(basename "$file")-$choice"
    done
done
