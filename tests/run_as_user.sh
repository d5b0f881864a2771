#!/usr/bin/env bash
# Runs a Windows test program under Wine as an ordinary user, in a Wine
# prefix of its own in the build tree: root may write to read-only files.
# Usage: run_as_user.sh WINE_RUN PROGRAM [ARGS...]
set -eu
wine_run=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    exec "$wine_run" "$@"
fi
# The wineserver opens files for its programs: it starts here, without
# capabilities too, and stays apart from the other tests' prefix.
source "$(dirname "$0")/lib/as_user.sh"
run() { as_user env KORVAT_WINE_ROOT="$PWD/wine-limited" DISPLAY="${DISPLAY:-}" "$@"; }
run "$wine_run" --init
status=0
run "$wine_run" "$@" || status=$?
run "$wine_run" --stop
exit $status
