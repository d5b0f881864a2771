#!/usr/bin/env bash
# Runs a Windows test program under Wine as an ordinary user, in a Wine
# prefix of that user's in the build tree: root may write to read-only files.
# Usage: run_as_user.sh WINE_RUN PROGRAM [ARGS...]
set -eu
wine_run=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    exec "$wine_run" "$@"
fi
user=korvat-test
id -u "$user" >/dev/null 2>&1 ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
root=$PWD/wine-$user
mkdir -p "$root"
chown "$user" "$root"
run() { runuser -u "$user" -- env KORVAT_WINE_ROOT="$root" DISPLAY="${DISPLAY:-}" "$@"; }
run "$wine_run" --init
status=0
run "$wine_run" "$@" || status=$?
run "$wine_run" --stop
exit $status
