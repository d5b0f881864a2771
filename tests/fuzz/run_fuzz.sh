#!/usr/bin/env bash
# A bounded fuzzing run: starting inputs made afresh, the corpus kept between runs in
# the build tree, the fuzzer's own figures printed at the end.
# Usage: run_fuzz.sh FUZZER SECONDS CORPUS_FOLDER
set -eu
fuzzer=$1
seconds=$2
corpus=$3
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/make_inputs.sh" fuzz-start
mkdir -p "$corpus"
exec "$fuzzer" -max_total_time="$seconds" -max_len=20000 -timeout=10 -rss_limit_mb=4096 \
    -dict="$here/trd.dict" -print_final_stats=1 "$corpus" fuzz-start
