# Shared by tools/test.sh and tools/run.sh: installs what the build needs on
# a fresh Debian 12 machine and builds the native and the Windows trees.
# Sourced, not run.

KORVAT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KORVAT_BUILD=${KORVAT_BUILD:-$KORVAT_ROOT/build}
KORVAT_PACKAGES="cmake make g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev clang-format g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64 xvfb x11-utils xdotool imagemagick
    locales libc-l10n fonts-wine zip unzip groff-base dpkg-dev devscripts nettle-dev libexpat1-dev
    libdeflate-dev time gettext lintian appstream python3-jsonschema python3-yaml man-db tesseract-ocr
    mame-tools"
# Debian's sources of expat and libdeflate, which the Windows build
# compiles: they live here.
KORVAT_EXPAT_SOURCE=$KORVAT_BUILD/third_party/expat
KORVAT_DEFLATE_SOURCE=$KORVAT_BUILD/third_party/libdeflate

# announce NAME COMMAND...: says what it starts at once, then every ten
# seconds while it runs that it is still at it, so that a long step (an
# install, a first build) is never silent; the command's own status.
announce() {
    local name=$1 start=$SECONDS pid status
    shift
    echo "== $name..."
    (
        trap 'exit 0' TERM
        while sleep 10; do echo "   ... $name: $((SECONDS - start)) s so far"; done
    ) &
    pid=$!
    "$@"
    status=$?
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return $status
}

# Installs every package that is missing, without prompts.
install_missing_packages() {
    local missing=""
    # Installed means installed: a package removed with its configuration
    # files left ("deinstall ok config-files") is missing.
    for package in $KORVAT_PACKAGES; do
        [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" = installed ] ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            $missing >/dev/null
}

# Debian's source package of a library the Windows programs compile, unpacked
# with Debian's patches, once: the Windows programs then use the same
# library the Linux ones link from Debian's packages, at the very same
# version. That is the version of its -dev package installed, when its
# source can be had; otherwise the packages are brought to the newest
# version whose source the archive gives (the release's own at worst).
# fetch_debian_source SOURCE FOLDER MARKER PACKAGE...: the first package is
# the one whose version is matched.
fetch_debian_source() {
    local source=$1 folder=$2 marker=$3 installed package
    shift 3
    installed=$(dpkg-query -W -f='${Version}' "$1" 2>/dev/null)
    [ -f "$folder/$marker" ] && [ "$(debian_source_version "$folder")" = "$installed" ] && return 0
    local sources=/etc/apt/sources.list.d/korvat-deb-src.sources sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    if ! apt-get source --print-uris "$source/bookworm" >/dev/null 2>&1; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
            $sudo tee "$sources" >/dev/null
        [ -s "$sources" ] || printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
            "Suites: bookworm bookworm-updates" "Components: main" \
            "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" | $sudo tee "$sources" >/dev/null
        $sudo apt-get update -qq || return 1
    fi
    local work version pinned
    work=$(mktemp -d "${TMPDIR:-/tmp}/korvat-$source.XXXXXX") || return 1
    for version in "$installed" \
        "$(apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p')" \
        "$(apt-cache madison "$source" 2>/dev/null | awk -F'|' '$3 ~ /Sources/ && $3 !~ /security/ { gsub(/ /, "", $2); print $2; exit }')"; do
        [ -n "$version" ] && [ "$version" != "(none)" ] || continue
        rm -rf "${work:?}"/*
        (cd "$work" && apt-get source -qq "$source=$version" >/dev/null 2>&1) || continue
        # The library the Linux build links, at the source's version.
        if [ "$version" != "$installed" ]; then
            pinned=""
            for package in "$@"; do pinned="$pinned $package=$version"; done
            DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --allow-downgrades \
                --no-install-recommends $pinned >/dev/null || continue
        fi
        mkdir -p "$(dirname "$folder")"
        rm -rf "$folder"
        mv "$work/$source"-*/ "$folder" && rm -rf "$work"
        [ -f "$folder/$marker" ]
        return
    done
    rm -rf "$work"
    return 1
}

fetch_expat_source() {
    fetch_debian_source expat "$KORVAT_EXPAT_SOURCE" expat/CMakeLists.txt libexpat1-dev libexpat1
}

# libdeflate, whose CRC-32 identify uses to rule out what cannot match.
fetch_deflate_source() {
    fetch_debian_source libdeflate "$KORVAT_DEFLATE_SOURCE" lib/crc32.c libdeflate-dev libdeflate0
}

# The Debian version of a source package unpacked in a folder.
debian_source_version() {
    sed -n '1s/^[a-z0-9.+-]* (\([^)]*\)).*/\1/p' "$1/debian/changelog" 2>/dev/null
}

# The Debian version of the expat source the Windows build compiles.
expat_source_version() {
    debian_source_version "$KORVAT_EXPAT_SOURCE"
}

deflate_source_version() {
    debian_source_version "$KORVAT_DEFLATE_SOURCE"
}

# The locales the tests and the demo speak in: Russian in UTF-8, and in the
# two single-byte sets Russian terminals use.
ensure_russian_locales() {
    local charset name
    for charset in UTF-8 KOI8-R CP1251; do
        name=ru_RU.$charset
        locale -a 2>/dev/null | grep -qix "ru_RU.$(printf '%s' "$charset" | tr -d '-')" && continue
        localedef -i ru_RU -f "$charset" "$name" || return 1
    done
}

# Everything both README commands need on a fresh Debian 12 machine: the
# packages, Debian's source of expat at the installed version, the locales.
# The Wine prefix and the X server are each command's own (made as used).
prepare_machine() {
    install_missing_packages || { echo "package installation failed" >&2; return 1; }
    ensure_russian_locales || { echo "could not make the Russian locales" >&2; return 1; }
    fetch_expat_source || { echo "could not fetch Debian's source of expat" >&2; return 1; }
    fetch_deflate_source || { echo "could not fetch Debian's source of libdeflate" >&2; return 1; }
}

# Configures one tree: configure_tree NAME [CMAKE ARGS...]. The project's
# own builds treat every warning as an error.
configure_tree() {
    local name=$1
    shift
    cmake -S "$KORVAT_ROOT" -B "$KORVAT_BUILD/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKORVAT_WERROR=ON "$@" >/dev/null
}

# Debian's build flags with every hardening feature on (strong stack
# protector, _FORTIFY_SOURCE, format-security errors, RELRO with BIND_NOW),
# as CMake arguments for a Linux tree. PIE is the project's own. No
# control-flow protection: Debian 12's C runtime start files (crt1.o,
# crti.o) carry no IBT or SHSTK property, so the linker drops it from any
# program linked with them, static or not, and the flag would only claim it.
hardening_flags() {
    local CFLAGS CPPFLAGS CXXFLAGS LDFLAGS
    eval "$(cd "$KORVAT_ROOT" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    printf '%s\n' "-DCMAKE_C_FLAGS=$CFLAGS $CPPFLAGS" "-DCMAKE_CXX_FLAGS=$CXXFLAGS $CPPFLAGS" \
        "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS"
}

# hardening-check on the optimised, dynamically linked korvat-cli, with the
# one exception the README explains: no control-flow protection.
check_hardening() {
    hardening-check --nocfprotection "$KORVAT_BUILD/optimised/korvat-cli"
}

# Configures and builds one tree whole: build_tree NAME [CMAKE ARGS...]
build_tree() {
    configure_tree "$@" && cmake --build "$KORVAT_BUILD/$1" -j "$(nproc)"
}

# The Windows tree, configured alike by both README commands, so that
# neither rebuilds what the other built. The native korvat-cli, which the
# test command builds first, is what the Windows one is compared with.
configure_windows() {
    configure_tree windows -DCMAKE_TOOLCHAIN_FILE="$KORVAT_ROOT/cmake/toolchain-mingw-x86_64.cmake" \
        -DKORVAT_NATIVE_CLI="$KORVAT_BUILD/native/korvat-cli" \
        -DKORVAT_EXPAT_SOURCE_DIR="$KORVAT_EXPAT_SOURCE/expat" \
        -DKORVAT_DEFLATE_SOURCE_DIR="$KORVAT_DEFLATE_SOURCE"
}

build_windows() {
    configure_windows && cmake --build "$KORVAT_BUILD/windows" -j "$(nproc)"
}

# The native tree is built with clang, whose libFuzzer runs the fuzz target.
build_native() {
    build_tree native -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKORVAT_SANITIZE=ON
}

# The optimised tree, without sanitizers: the korvat-cli users run, and the
# benchmarks.
configure_optimised() {
    local flags
    mapfile -t flags < <(hardening_flags)
    configure_tree optimised -DCMAKE_BUILD_TYPE=Release -DKORVAT_SANITIZE=OFF \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${flags[@]}"
}

build_optimised() {
    configure_optimised &&
        cmake --build "$KORVAT_BUILD/optimised" -j "$(nproc)" \
            --target korvat-cli korvat_benchmark write_floor cut_floor
}

# Starts an X server of our own and exports DISPLAY; stop_xvfb ends it. The
# server picks a free display itself and says which (-displayfd), so that
# servers started side by side never take the same one.
start_xvfb() {
    local file display=""
    file=$(mktemp) || return 1
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$file" >/dev/null 2>&1 &
    KORVAT_XVFB_PID=$!
    for _ in $(seq 100); do
        display=$(head -n 1 "$file")
        [ -n "$display" ] && DISPLAY=":$display" xdpyinfo >/dev/null 2>&1 && break
        display=""
        sleep 0.1
    done
    rm -f "$file"
    if [ -z "$display" ]; then
        kill "$KORVAT_XVFB_PID" 2>/dev/null
        echo "could not start Xvfb" >&2
        return 1
    fi
    export DISPLAY=":$display"
}

stop_xvfb() {
    [ -n "${KORVAT_XVFB_PID:-}" ] && kill "$KORVAT_XVFB_PID" 2>/dev/null
    KORVAT_XVFB_PID=""
}
