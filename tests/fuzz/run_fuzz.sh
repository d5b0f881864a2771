#!/usr/bin/env bash
# A bounded fuzzing run: starting inputs made afresh, the corpus kept between runs in
# the build tree, the fuzzer's own figures printed at the end.
# Usage: run_fuzz.sh FUZZER SECONDS CORPUS_FOLDER [DICTIONARY STARTING_INPUTS]
# (the images' own dictionary and made inputs when none are given)
set -eu
fuzzer=$1
seconds=$2
corpus=$3
here=$(cd "$(dirname "$0")" && pwd)
dictionary=${4:-$here/trd.dict}
start=${5:-fuzz-start}
[ -n "${5:-}" ] || bash "$here/make_inputs.sh" fuzz-start
mkdir -p "$corpus"
starts=()
[ -d "$start" ] && starts=("$start")
# Memory is bounded: a list or an image that made the program hold more
# than this would fail the run.
exec "$fuzzer" -max_total_time="$seconds" -max_len=20000 -timeout=10 -rss_limit_mb=1024 \
    -malloc_limit_mb=256 -dict="$dictionary" -print_final_stats=1 "$corpus" "${starts[@]}"
