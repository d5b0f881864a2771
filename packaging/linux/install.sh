#!/bin/sh
# Installs korvat-cli from this archive: the program, both manual pages, the
# guides and the licences, under a prefix (/usr/local by default), and
# records what it put there, the folders it made included, so that
# uninstall removes exactly that: never a folder that was there before, and
# never a file it did not put.
#   sh install.sh [--prefix DIR]             install
#   sh install.sh uninstall [--prefix DIR]   remove what install put
set -eu
here=$(cd "$(dirname "$0")" && pwd)
prefix=/usr/local
action=install
while [ $# -gt 0 ]; do
    case $1 in
    --prefix) prefix=${2:?--prefix needs a folder}; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    uninstall) action=uninstall; shift ;;
    -h | --help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "install.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
# The record: one line a folder made ("folder PATH") or a file put ("file
# PATH"), each below the prefix. A record of an older install holds bare
# file paths, and no folders: those are left.
record=$prefix/share/doc/korvat-cli/installed-files

if [ "$action" = uninstall ]; then
    [ -f "$record" ] || { echo "install.sh: nothing installed under $prefix" >&2; exit 1; }
    while IFS= read -r line; do
        case $line in
        "folder "*) ;;
        "file "*) [ -f "$prefix/${line#file }" ] && rm -f "$prefix/${line#file }" ;;
        *) [ -f "$prefix/$line" ] && rm -f "$prefix/$line" ;;
        esac
    done <"$record"
    folders=$(sed -n 's/^folder //p' "$record" | LC_ALL=C sort -r)
    rm -f "$record"
    # The folders it made, deepest first, each only when nothing else is in it.
    printf '%s\n' "$folders" | while IFS= read -r folder; do
        [ -n "$folder" ] && rmdir "$prefix/$folder" 2>/dev/null || true
    done
    echo "korvat-cli removed from $prefix"
    exit 0
fi

new_record=$(mktemp "${TMPDIR:-/tmp}/korvat-install.XXXXXX")
trap 'rm -f "$new_record"' EXIT
# What an earlier install made stays recorded, so that a second install
# over the first removes it all the same.
[ -f "$record" ] && grep '^folder ' "$record" >>"$new_record" || true
[ -d "$prefix" ] || { mkdir -p "$prefix" && echo "note: made $prefix, which uninstall leaves" >&2; }

# make_folder PATH: each missing folder down to PATH, made and recorded.
make_folder() {
    parent=$(dirname "$1")
    [ "$parent" = . ] || make_folder "$parent"
    if [ ! -d "$prefix/$1" ]; then
        mkdir "$prefix/$1"
        echo "folder $1" >>"$new_record"
    fi
}
put() { # put SOURCE DESTINATION MODE
    make_folder "$(dirname "$2")"
    cp "$here/$1" "$prefix/$2"
    chmod "$3" "$prefix/$2"
    echo "file $2" >>"$new_record"
}
put korvat-cli bin/korvat-cli 755
put korvat-cli.1 share/man/man1/korvat-cli.1 644
put man/ru/korvat-cli.1 share/man/ru/man1/korvat-cli.1 644
put README.txt share/doc/korvat-cli/README.txt 644
put README.ru.txt share/doc/korvat-cli/README.ru.txt 644
put LICENSE share/doc/korvat-cli/LICENSE 644
put THIRD-PARTY.txt share/doc/korvat-cli/THIRD-PARTY.txt 644
for licence in "$here"/licenses/*; do
    [ -f "$licence" ] && put "licenses/$(basename "$licence")" \
        "share/doc/korvat-cli/licenses/$(basename "$licence")" 644
done
# Each line once, in the order made.
awk '!seen[$0]++' "$new_record" >"$record"
chmod 644 "$record"
echo "korvat-cli installed under $prefix: $prefix/bin/korvat-cli (sh install.sh uninstall --prefix $prefix removes it)"
