#!/usr/bin/env bash
# korvat-cli targets against a peer, and repair on real disks: MAME's own
# floptool (Debian's mame-tools) agrees with the mame verdict on every
# corpus disk and on disks of every length the rules turn on; repair
# changes nothing in a dry run and nothing but the disk-info fields in a
# real one, after which mem_type0.trd loads on Fuse's rule.
# Usage: targets_test.sh WORK_FOLDER CLI   (KORVAT_CORPUS_DIR: the corpus)
set -u -o pipefail
work=$1
cli=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/expect.sh"
corpus=${KORVAT_CORPUS_DIR:-}

rm -rf "$work"
mkdir -p "$work/disks"
bash "$here/../../tools/make_demo_images.sh" "$work/demo" >/dev/null
cd "$work"
command -v floptool >/dev/null || { echo "floptool is missing: apt-get install mame-tools" >&2; exit 1; }

# Disks of each length from one full disk, cut or padded with zeros.
for length in 2304 4096 8192 9728 163840 327680 655104 655360 655361 667648 688128 1048832; do
    head -c "$length" demo/zero_tail.trd >"disks/len$length.trd"
    truncate -s "$length" "disks/len$length.trd"
done
[ -d "$corpus" ] && cp "$corpus"/*.trd disks/ && chmod u+w disks/*.trd

# The peer's verdict: the trd format among those it identifies.
disagree=0
checked=0
while IFS=$'\t' read -r path target verdict _; do
    [ "$path" = path ] && continue
    peer=refused
    floptool identify "$path" 2>/dev/null | grep -q ' - trd ' && peer=loads
    checked=$((checked + 1))
    if [ "$peer" != "$verdict" ]; then
        disagree=$((disagree + 1))
        echo "floptool says $peer, korvat-cli $verdict: $path" >&2
    fi
done < <("$cli" targets --for mame --table disks/*.trd 2>/dev/null)
expect "floptool agrees on every mame verdict ($checked disks)" "$disagree" 0
expect "every disk was judged" "$checked" "$(ls disks/*.trd | wc -l)"

# The summary counts each verdict; a file that does not load everywhere fails.
"$cli" targets --for mame,fuse disks/len655360.trd >out.txt 2>&1
expect "a disk that loads everywhere asked: exit 0" "$?" 0
"$cli" targets --for mame disks/len9728.trd >out.txt 2>&1
expect "a disk that does not: exit 1" "$?" 1
expect "with the command that mends it" "$(grep -c 'korvat-cli restore disks/len9728.trd' out.txt)" 1
"$cli" targets --for nothing disks/len9728.trd >out.txt 2>&1
expect "an unknown target is a usage error" "$?" 2

if [ -f "$corpus/mem_type0.trd" ]; then
    cp "$corpus/mem_type0.trd" type0.trd
    chmod u+w type0.trd
    outside() { { head -c $((0x8E1)) "$1"; tail -c +$((0x8F5 + 1)) "$1"; } | sha1sum; }
    before=$(sha1sum <type0.trd)
    "$cli" targets --for fuse type0.trd >out.txt 2>&1
    expect "mem_type0.trd is refused by Fuse's rule" "$(grep -c 'refused: needs a disk type' out.txt)" 1
    "$cli" repair --dry-run type0.trd >out.txt 2>&1
    expect "a dry run says what it would change" "$(grep -c '^Dry run: 0x8E3 disk type: 0x00 -> 0x16$' out.txt)" 1
    expect "a dry run changes no byte" "$(sha1sum <type0.trd)" "$before"
    outside_before=$(outside type0.trd)
    "$cli" repair type0.trd >out.txt 2>&1
    expect "repair says what it changed" "$(grep -c '^0x8E3 disk type: 0x00 -> 0x16$' out.txt)" 1
    expect "no byte outside the disk-info fields changes" "$(outside type0.trd)" "$outside_before"
    # cmp counts from 1 and gives the bytes in octal: 0x8E3, 0x00 and 0x16.
    expect "the one byte changed is the type" \
        "$(cmp -l "$corpus/mem_type0.trd" type0.trd | awk '{ print $1, $2, $3 }')" "2276 0 26"
    "$cli" targets --for fuse type0.trd >/dev/null 2>&1
    expect "the repaired disk loads on Fuse's rule" "$?" 0
    "$cli" repair type0.trd >out.txt 2>&1
    expect "a second repair finds nothing to do" "$(grep -c '^Nothing to repair$' out.txt)" 1
fi
echo "targets: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
