# Sourced by measure_cli.sh for "measure_cli.sh collections [COUNT]": the
# commands for a collection and its lists, with lists of TOSEC's size and
# mix (184 lists, 65,519 entries; tools/make_lists.py), against floors
# measured in the same run over the very files each command reads:
#  - identify -r over COUNT copies of the corpus (2,000 by default: disks
#    as they are and restored to full length, archives, Hobeta files),
#    against sha1sum and openssl sha1;
#  - identify -r over COUNT disks whose catalogue sectors hold random bytes
#    (every file a different one), against sha1sum;
#  - dat -r against md5sum and then sha1sum;
#  - have against identify -r;
#  - loading the lists: time and peak memory.
# Every run starts with the files in the page cache.
corpus=$KORVAT_ROOT/../shared/corpus/trd
[ -d "$corpus" ] || { echo "the corpus is not beside the project ($corpus)" >&2; exit 1; }
folder=$(mktemp -d "$KORVAT_BUILD/collections.XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$folder"' EXIT
python3 "$KORVAT_ROOT/tools/make_lists.py" "$folder/lists" "$corpus"/*.trd "$corpus"/*.scl \
    "$corpus"/*.hob

# The copies: a Hobeta file named by its type, as a collection keeps it.
sources=()
for f in "$corpus"/*.trd "$corpus"/*.scl; do sources+=("$f"); done
for f in "$corpus"/*.hob; do
    type=$(dd if="$f" bs=1 skip=8 count=1 status=none)
    cp "$f" "$folder/$(basename "$f" .hob).\$$type"
    sources+=("$folder/$(basename "$f" .hob).\$$type")
done
mkdir -p "$folder/copies" "$folder/random"
for i in $(seq 0 $((count - 1))); do
    source=${sources[$((i % ${#sources[@]}))]}
    name=$(basename "$source")
    sub=$folder/copies/$((i % 20))
    mkdir -p "$sub"
    cp "$source" "$sub/$i-$name"
    # Every other round of copies at the full length of its disk.
    if [ $((i / ${#sources[@]} % 2)) = 1 ] && [[ $name == *.trd ]]; then
        "$cli" restore -q "$sub/$i-$name" >/dev/null 2>&1 || true
    fi
done
# Disks whose catalogue sectors hold random bytes: each file different,
# each entry a would-be file of random length and place.
disks=("$corpus"/*.trd)
for i in $(seq 0 $((count - 1))); do
    sub=$folder/random/$((i % 20))
    mkdir -p "$sub"
    cp "${disks[$((i % ${#disks[@]}))]}" "$sub/$i.trd"
    head -c 2048 /dev/urandom | dd of="$sub/$i.trd" bs=2048 conv=notrunc status=none
done
chmod -R u+w "$folder/copies" "$folder/random"
find "$folder/copies" -type f | sort >"$folder/copies.list"
find "$folder/random" -type f | sort >"$folder/random.list"
xargs cat <"$folder/copies.list" >/dev/null
xargs cat <"$folder/random.list" >/dev/null

best() { # the best of three runs of a command, in seconds
    local best="" t
    for _ in 1 2 3; do
        t=$(seconds "$@")
        best=$(awk -v a="$t" -v b="${best:-$t}" 'BEGIN { print (a < b) ? a : b }')
    done
    echo "$best"
}
sha1=$(best sh -c "xargs sha1sum <'$folder/copies.list'")
openssl=$(best sh -c "xargs openssl sha1 <'$folder/copies.list'")
identify=$(best sh -c "'$cli' identify -r -q --dat '$folder/lists' '$folder/copies' || true")
sha1_random=$(best sh -c "xargs sha1sum <'$folder/random.list'")
identify_random=$(best sh -c "'$cli' identify -r -q --dat '$folder/lists' '$folder/random' || true")
md5_sha1=$(best sh -c "xargs md5sum <'$folder/copies.list' && xargs sha1sum <'$folder/copies.list'")
dat=$(best "$cli" dat -r -q --force -o "$folder/made.dat" "$folder/copies")
have=$(best sh -c "'$cli' have -r -q --dat '$folder/lists' '$folder/copies' || true")
/usr/bin/time -o "$folder/load" -f '%e %M' "$cli" identify -q --dat "$folder/lists" \
    "$corpus/enjoy.trd" >/dev/null 2>&1 || true
read -r load_seconds load_kib <"$folder/load"
answers=$("$cli" identify -r --dat "$folder/lists" "$folder/copies" 2>/dev/null | tail -n 1)
printf '%s files (copies of the %s corpus files), lists of %s entries in %s files\n' "$count" \
    "${#sources[@]}" "$(cat "$folder"/lists/*.dat | grep -c '<rom ')" "$(ls "$folder/lists" | wc -l)"
printf 'identify: %s\n' "$answers"
printf '%-40s %8s %8s %7s\n' "command" "seconds" "floor" "ratio"
printf '%-40s %8.2f %8.2f %6sx  (sha1sum; at most 0.5)\n' "identify -r, copies" "$identify" "$sha1" \
    "$(ratio "$identify" "$sha1")"
printf '%-40s %8.2f %8.2f %6sx  (openssl sha1; at most 1.2)\n' "identify -r, copies" "$identify" \
    "$openssl" "$(ratio "$identify" "$openssl")"
printf '%-40s %8.2f %8.2f %6sx  (sha1sum; at most 0.6)\n' "identify -r, random catalogues" \
    "$identify_random" "$sha1_random" "$(ratio "$identify_random" "$sha1_random")"
printf '%-40s %8.2f %8.2f %6sx  (md5sum, then sha1sum; at most 1.1)\n' "dat -r" "$dat" \
    "$md5_sha1" "$(ratio "$dat" "$md5_sha1")"
printf '%-40s %8.2f %8.2f %6sx  (identify -r; at most 1.2)\n' "have -r" "$have" "$identify" \
    "$(ratio "$have" "$identify")"
printf 'loading the lists: %s s, peak memory %s KiB (the whole program; at most 0.5 s, 64 MB)\n' \
    "$load_seconds" "$load_kib"
