#!/usr/bin/env bash
# korvat-cli against a hostile tree, hostile names, signals, limits and
# broken outputs, and the files it must not touch. Usage:
# hostile_test.sh WORK_FOLDER CLI
set -u -o pipefail
work=$1
cli=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/expect.sh"
source "$here/../lib/as_user.sh"
length() { stat -c %s "$1"; }
mtime() { stat -c %Y "$1"; }

rm -rf "$work"
mkdir -p "$work"
chmod 755 "$work"
bash "$here/../../tools/make_demo_images.sh" "$work/demo" >/dev/null
cd "$work"

# ---- The tree: links in and out, a FIFO, a folder that can be read but
# not searched, one too deep for the system's paths, hostile names.
mkdir -p tree/sub outside tree/closed
cp demo/zero_tail.trd outside/victim.trd
cp demo/zero_tail.trd tree/a.trd
cp demo/zero_tail.trd tree/sub/b.trd
cp demo/zero_tail.trd tree/closed/c.trd
cp demo/zero_tail.trd "tree/$(printf 'tab\tand\e]0;title\a.trd')"
cp demo/notes.trd "tree/$(printf 'fake.trd\nkorvat-cli: x.trd: File is not TRD image !\nz.trd')"
ln -s ../outside/victim.trd tree/out.trd
ln -s a.trd tree/sub/again.trd
ln -s ../outside tree/outside-folder
mkfifo tree/fifo.trd
deep=tree
(cd tree && for _ in $(seq 20); do
    name=$(printf 'd%.0s' $(seq 250))
    mkdir "$name" && cd "$name" || exit 1
done && cp ../../../demo/zero_tail.trd deep.trd) 2>/dev/null
chmod -R a+rwX tree outside
chmod 0444 tree/closed # readable, not searchable
outside_sum=$(md5sum outside/victim.trd)

as_user timeout 60 "$cli" cut-zeros -r tree >tree.out 2>tree.err
expect "hostile tree, exit status" "$?" 1
expect "nothing outside the tree changes" "$(md5sum outside/victim.trd)" "$outside_sum"
expect "images in the tree cut once each" "$(length tree/a.trd) $(length tree/sub/b.trd)" "21504 21504"
expect "every image handled once: a.trd" "$(grep -c '^Cutting zeros from tree/a.trd$' tree.out)" 1
expect "links and the FIFO refused, not followed or waited on" \
    "$(grep -A1 -E '^Cutting zeros from tree/(out|sub/again|fifo)\.trd$' tree.out | grep -c '^Not a regular file$')" 3
expect "the closed folder reported" "$(grep -c "^korvat-cli: tree/closed: Permission denied$" tree.err)" 1
expect "the folder too deep reported" "$(grep -c ': File name too long$' tree.err)" 1
expect "one line on standard error per failure, whatever the name" "$(wc -l <tree.err)" 6
expect "the summary counts every failure" "$(tail -n 1 tree.out | cut -d';' -f1)" \
    "7 files, 3 changed, 0 unchanged, 4 failed"
chmod 0755 tree/closed

# Deep but within the system's paths: one folder open at a time.
mkdir -p "deep/$(printf 'x/%.0s' $(seq 400))" && cp demo/zero_tail.trd "deep/$(printf 'x/%.0s' $(seq 400))d.trd"
expect "400 levels deep with 20 descriptors" \
    "$(ulimit -n 20; "$cli" info -r -q deep 2>&1 | tail -n 1 | cut -d, -f1)" "1 file"

# ---- The table and the terminal: names never break an output.
expect "every table line has 17 fields" \
    "$("$cli" info --table -r tree 2>/dev/null | awk -F'\t' '{ print NF }' | sort -u)" 17
expect "a name's tab and line feed escaped in the table" \
    "$("$cli" info --table -r tree 2>/dev/null | cut -f1 | grep -c -F -e 'tab\tand' -e 'fake.trd\nkorvat-cli')" 2
script -qec "'$cli' info -r tree" /dev/null >terminal.log 2>&1
expect "no escape or bell reaches a terminal" "$(grep -c $'\e]0;\\|\a' terminal.log)" 0
expect "control characters shown as escapes" "$(grep -c -F 'tab\tand\x1B]0;title\x07.trd' terminal.log)" 1

# ---- Signals, limits and outputs.
# SIGINT while the run is held in a write of its status lines, which no
# one reads until then: a 40-track disk (163,840 bytes full) each.
cp demo/shortened.trd small40.trd
printf '\x19' | dd of=small40.trd bs=1 seek=$((0x8E3)) conv=notrunc status=none
# Long names, so that the lines of a few hundred files fill the pipe.
batch=tree/sub/$(printf 'long%.0s' $(seq 50))
mkdir -p "$batch"
for i in $(seq -w 1 800); do cp small40.trd "$batch/r$i.trd"; done
mkfifo lines
"$cli" restore -r "$batch" >lines 2>&1 &
pid=$!
exec 3<lines
sleep 1
kill -INT "$pid"
cat <&3 >restore.out
exec 3<&-
wait "$pid"
expect "SIGINT ends with 130" "$?" 130
expect "SIGINT: no image part-padded" "$(stat -c %s "$batch"/r*.trd | sort -u | grep -cv -e '^12288$' -e '^163840$')" 0
expect "SIGINT: the files after the one in hand untouched" \
    "$(stat -c %s "$batch"/r*.trd | grep -c '^12288$')" "$(grep -c '^Done$' restore.out | awk '{ print 800 - $1 }')"
expect "SIGINT: the summary of the work done" "$(tail -n 1 restore.out | grep -c ' files\?, .* -> .* bytes$')" 1
cp demo/shortened.trd small.trd
(ulimit -f 200; "$cli" restore small.trd >limit.out 2>&1)
expect "a write past the file-size limit fails, the run ends normally" "$?" 1
expect "File too large" "$(grep -c '^File too large$' limit.out)" 1
"$cli" info small.trd >/dev/full 2>/dev/null
expect "output to a full disk fails the run" "$?" 1
"$cli" info small.trd >&- 2>/dev/null
expect "a closed standard output fails the run" "$?" 1
truncate -s 655360 small.trd
"$cli" cut-zeros tree small.trd >/dev/null 2>&1
expect "a usage error comes before any work" "$? $(length small.trd)" "2 655360"
expect "| head ends quietly" "$("$cli" info -r tree/sub 2>&1 | head -n 1)" "tree/sub/again.trd"

# ---- Nothing is touched that need not be.
cp demo/zero_tail.trd same.trd
"$cli" cut-zeros -q same.trd >/dev/null
touch -d '2001-09-09 01:46:40' same.trd
before=$(mtime same.trd)
"$cli" cut-zeros -q same.trd >/dev/null
"$cli" cut-free -q same.trd >/dev/null
expect "an image needing no change keeps its time" "$(mtime same.trd)" "$before"
chmod 0444 same.trd
expect "read-only and needing no change: unchanged" \
    "$(as_user "$cli" cut-zeros same.trd 2>/dev/null | tail -n 1)" \
    "1 file, 0 changed, 1 unchanged, 0 failed; 21504 -> 21504 bytes"
printf '<datafile><game name="z"><rom name="z.trd" size="655360" sha1="%s"/></game></datafile>\n' \
    "$(cat same.trd /dev/zero | head -c 655360 | sha1sum | cut -c1-40)" >full.dat
for command in "restore --dry-run" "conform --dry-run --dat full.dat"; do
    expect "read-only and needing a change: $command fails" \
        "$(as_user "$cli" $command same.trd 2>/dev/null | sed -n 2p; as_user "$cli" $command same.trd >/dev/null 2>&1; echo $?)" \
        "Permission denied
1"
done

echo "hostile: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
