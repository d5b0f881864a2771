#!/usr/bin/env bash
# Runs a Windows program under wine64 in the project's own Wine environment:
# the prefix, HOME and XDG folders live in the build tree, never in the
# user's home. KORVAT_WINE_ROOT picks the folder; by default it is "wine"
# in the current directory, which is the build tree when CTest runs a test.
#   wine-run.sh PROGRAM [ARGS...]   run a program
#   wine-run.sh --init              create the prefix (wineboot -i), once
#   wine-run.sh --stop              end the prefix's wineserver and its programs
set -u
root=${KORVAT_WINE_ROOT:-$PWD/wine}
# CTest runs tests in their own folders: find the build tree's "wine".
if [ -z "${KORVAT_WINE_ROOT:-}" ]; then
    dir=$PWD
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ -f "$dir/CMakeCache.txt" ] && root=$dir/wine
fi
export WINEPREFIX=$root/prefix
export HOME=$root/home
export XDG_CONFIG_HOME=$root/home/.config
export XDG_DATA_HOME=$root/home/.local/share
export XDG_CACHE_HOME=$root/home/.cache
export XDG_RUNTIME_DIR=$root/run
export WINEDEBUG=${KORVAT_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
# Wine takes the Unix names of files in the locale's character set: without
# a UTF-8 one (LANG unset, as in a fresh root or under env -i), a path with
# Cyrillic in it cannot be opened. C.UTF-8 is always there.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8
fi
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver)

case "${1:-}" in
--init)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1 || exit 1
        # No crash dialog: a crashing test must fail, not wait for a click.
        "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1 || exit 1
        # Wine draws the window frames itself, so the windows look and measure
        # the same with or without a window manager.
        "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            >/dev/null 2>&1 || exit 1
        "$server" -w
    fi
    exit 0
    ;;
--stop)
    "$server" -k 2>/dev/null
    "$server" -w 2>/dev/null # until it is gone, so that no program meets it dying
    exit 0
    ;;
esac
# A program that starts just as the prefix's server is ending (it ends a few
# seconds after its last program) is turned away before it runs, with
# "recvmsg: Connection reset by peer": start it again then, and only then.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for attempt in 1 2 3; do
    "$wine" "$@" 2> >(tee "$errors" >&2)
    status=$?
    sleep 0.05 # let tee finish writing
    grep -q 'wine client error.*Connection reset by peer' "$errors" || exit $status
    echo "wine-run.sh: the server went away as the program started; starting it again" >&2
    sleep 0.5
done
exit $status
