#!/bin/sh
# Installs korvat-cli from this archive: the program, both manual pages and
# the guides, under a prefix (/usr/local by default), and records what it
# put where, so that uninstall removes exactly that.
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
    -h | --help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "install.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
record=$prefix/share/doc/korvat-cli/installed-files

if [ "$action" = uninstall ]; then
    [ -f "$record" ] || { echo "install.sh: nothing installed under $prefix" >&2; exit 1; }
    while IFS= read -r file; do rm -f "$prefix/$file"; done <"$record"
    rm -f "$record"
    # The folders it made, when nothing else is in them.
    for folder in share/doc/korvat-cli share/man/ru/man1 share/man/ru share/man/man1 share/man \
        share/doc share bin; do
        rmdir "$prefix/$folder" 2>/dev/null || true
    done
    echo "korvat-cli removed from $prefix"
    exit 0
fi

put() { # put SOURCE DESTINATION MODE
    mkdir -p "$prefix/$(dirname "$2")"
    cp "$here/$1" "$prefix/$2"
    chmod "$3" "$prefix/$2"
    echo "$2" >>"$record.new"
}
mkdir -p "$prefix/share/doc/korvat-cli"
: >"$record.new"
put korvat-cli bin/korvat-cli 755
put korvat-cli.1 share/man/man1/korvat-cli.1 644
put man/ru/korvat-cli.1 share/man/ru/man1/korvat-cli.1 644
put README.txt share/doc/korvat-cli/README.txt 644
put README.ru.txt share/doc/korvat-cli/README.ru.txt 644
put LICENSE share/doc/korvat-cli/LICENSE 644
mv "$record.new" "$record"
echo "korvat-cli installed under $prefix: $prefix/bin/korvat-cli (sh install.sh uninstall --prefix $prefix removes it)"
