#!/usr/bin/env bash
# Another program and korvat-cli on the same images, natively: a file that
# another program holds open is left with its line; one that another
# program opens and writes while a batch runs loses no byte, over a
# thousand files for each command that changes files in place, with the
# byte written at a fixed offset and at the end; where no lease can be had
# (another owner's file) the line says so, and --strict leaves the file.
# Usage: lease_test.sh WORK_FOLDER WRITER CLI, and the optimised build's
# korvat-cli too where KORVAT_OPTIMISED_CLI names one.
set -u -o pipefail
work=$1
writer=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/expect.sh"
source "$here/../lib/as_user.sh"
count=${KORVAT_LEASE_FILES:-1000}
clis=("$@")
[ -x "${KORVAT_OPTIMISED_CLI:-}" ] && clis+=("$KORVAT_OPTIMISED_CLI")

rm -rf "$work"
mkdir -p "$work"
bash "$here/../../tools/make_demo_images.sh" "$work/demo" >/dev/null
cd "$work"
# The full disk that shortened.trd is a prefix of, as the list's entry.
cp demo/shortened.trd full.trd
truncate -s 655360 full.trd
printf '<datafile><header><name>Made</name></header><game name="s">\n<rom name="s.trd" size="655360" sha1="%s"/>\n</game></datafile>\n' \
    "$(sha1sum <full.trd | cut -c1-40)" >made.dat

# make_set SOURCE: a thousand copies of one image, in the folder set/.
make_set() {
    rm -rf set
    mkdir set
    for i in $(seq -w 1 "$count"); do cp --sparse=always "$1" "set/$i.trd"; done
}

for cli in "${clis[@]}"; do
    build=$(basename "$(dirname "$cli")")

    # ---- A file another program holds open is left, with its line.
    for command in cut-zeros cut-free restore conform; do
        source=demo/zero_tail.trd
        [ "$command" = restore ] || [ "$command" = conform ] && source=demo/shortened.trd
        cp "$source" held.trd
        before=$(md5sum <held.trd)
        arguments=("$command" held.trd)
        [ "$command" = conform ] && arguments=(conform --dat made.dat held.trd)
        out=$(exec 3<held.trd; "$cli" "${arguments[@]}" 2>&1)
        expect "$build $command: a file held open fails" "$?" 1
        expect "$build $command: its line says why" \
            "$(grep -c '^In use by another program, left as it is$' <<<"$out")" 1
        expect "$build $command: the file held open is unchanged" "$(md5sum <held.trd)" "$before"
    done
    cp demo/zero_tail.trd held.trd
    "$cli" to-scl -q -o held.scl held.trd >/dev/null 2>&1
    before=$(md5sum <held.scl)
    out=$(exec 3<held.scl; "$cli" to-scl --force -o held.scl held.trd 2>&1)
    expect "$build to-scl --force: a file held open is not replaced" "$?" 1
    expect "$build to-scl --force: its line says why" \
        "$(grep -c '^In use by another program, left as it is$' <<<"$out")" 1
    expect "$build to-scl --force: the file held open is unchanged" "$(md5sum <held.scl)" "$before"
    expect "$build to-scl --force: no temporary file is left" "$(ls held.scl.korvat-* 2>/dev/null)" ""

    # ---- Another owner's file: no lease without the capability to take one.
    cp demo/zero_tail.trd other.trd
    chown nobody other.trd
    chmod 666 other.trd
    before=$(md5sum <other.trd)
    out=$(as_user "$cli" cut-zeros --strict other.trd 2>&1)
    expect "$build --strict: a file without a lease fails" "$?" 1
    expect "$build --strict: its line says why" \
        "$(grep -c '^Left as it is: no lease can be had here' <<<"$out")" 1
    expect "$build --strict: the file is unchanged" "$(md5sum <other.trd)" "$before"
    out=$(as_user "$cli" cut-zeros other.trd 2>&1)
    expect "$build: without --strict a file without a lease is cut" "$?" 0
    expect "$build: and its line says it was not kept from other programs" \
        "$(grep -c '^Not kept from other programs while it changes' <<<"$out")" 1
    expect "$build: the cut happened" "$(stat -c %s other.trd)" 21504

    # ---- A writer and a batch on the same thousand files.
    for command in cut-zeros cut-free restore conform; do
        for mode in at:100000 append; do
            source=demo/zero_tail.trd
            [ "$command" = restore ] || [ "$command" = conform ] && source=demo/shortened.trd
            make_set "$source"
            arguments=("$command" -r set)
            [ "$command" = conform ] && arguments=(conform --dat made.dat -r set)
            ls set/*.trd >names
            # The writer follows korvat-cli's lines, each file as it is begun.
            "$cli" "${arguments[@]}" 2>&1 | tee run.out | "$writer" "$mode" names >written 2>waited
            statuses=("${PIPESTATUS[@]}")
            expect "$build $command $mode: the writer wrote every file" "${statuses[2]}" 0
            # A file fails only for another program's open, or for the byte
            # it found written there.
            expect "$build $command $mode: every failure says why" \
                "$(grep -cE '^(In use by another program|Not cut: |Changed since it was read)' run.out)" \
                "$(sed -n 's/.* \([0-9]*\) failed.*/\1/p' run.out | tail -n 1)"
            lost=0
            while read -r offset name; do
                byte=$(od -An -tx1 -j "$offset" -N1 "$name" | tr -d ' ')
                [ "$byte" = ff ] || lost=$((lost + 1))
            done <written
            expect "$build $command $mode: no byte the writer wrote is lost" "$lost" 0
            in_use=$(grep -c '^In use by another program' run.out)
            expect "$build $command $mode: korvat-cli's summary line is there" \
                "$(grep -c ' files, ' run.out)" 1
            # The writer never waited for the kernel to break the lease.
            waited=$(sed -n 's/^longest wait for an open: \([0-9]*\)\..*/\1/p' waited)
            expect "$build $command $mode: no open waited 10 s or more" "$((waited < 10))" 1
            echo "$build $command $mode: $(wc -l <written) written, $in_use left in use, $(cat waited)"
        done
    done
done
rm -rf set
echo "lease: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
