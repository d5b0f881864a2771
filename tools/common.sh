# Shared by tools/test.sh and tools/run.sh: installs what the build needs on
# a fresh Debian 12 machine and builds the native and the Windows trees.
# Sourced, not run.

KORVAT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KORVAT_BUILD=${KORVAT_BUILD:-$KORVAT_ROOT/build}
KORVAT_PACKAGES="cmake make g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev clang-format g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64 xvfb x11-utils xdotool imagemagick
    locales fonts-wine zip unzip groff-base dpkg-dev devscripts nettle-dev libexpat1-dev time gettext"
# Debian's source of expat, which the Windows build compiles: it lives here.
KORVAT_EXPAT_SOURCE=$KORVAT_BUILD/third_party/expat

# Installs every package that is missing, without prompts.
install_missing_packages() {
    local missing=""
    for package in $KORVAT_PACKAGES; do
        dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            $missing >/dev/null
}

# Debian's source package of expat, unpacked with Debian's patches into
# $KORVAT_EXPAT_SOURCE, once: the Windows programs read lists with the
# same library the Linux one links from Debian's packages.
fetch_expat_source() {
    [ -f "$KORVAT_EXPAT_SOURCE/expat/CMakeLists.txt" ] && return 0
    local sources=/etc/apt/sources.list.d/korvat-deb-src.sources sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    if ! apt-get source --print-uris expat/bookworm >/dev/null 2>&1; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
            $sudo tee "$sources" >/dev/null
        [ -s "$sources" ] || printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
            "Suites: bookworm bookworm-updates" "Components: main" \
            "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" | $sudo tee "$sources" >/dev/null
        $sudo apt-get update -qq || return 1
    fi
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/korvat-expat.XXXXXX") || return 1
    # The release of bookworm itself: the security archive's sources are not
    # always reachable, and the same source must give the same programs.
    (cd "$work" && apt-get source -qq expat/bookworm >/dev/null 2>&1) || { rm -rf "$work"; return 1; }
    mkdir -p "$(dirname "$KORVAT_EXPAT_SOURCE")"
    rm -rf "$KORVAT_EXPAT_SOURCE"
    mv "$work"/expat-*/ "$KORVAT_EXPAT_SOURCE" && rm -rf "$work"
    [ -f "$KORVAT_EXPAT_SOURCE/expat/CMakeLists.txt" ]
}

# The Russian locale, for the test of a file named in Cyrillic under code page 1251.
ensure_russian_locale() {
    locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' && return 0
    localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
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

# The native korvat-cli, built before, is what the Windows one is compared with.
build_windows() {
    fetch_expat_source || { echo "could not fetch Debian's source of expat" >&2; return 1; }
    build_tree windows -DCMAKE_TOOLCHAIN_FILE="$KORVAT_ROOT/cmake/toolchain-mingw-x86_64.cmake" \
        -DKORVAT_NATIVE_CLI="$KORVAT_BUILD/native/korvat-cli" \
        -DKORVAT_EXPAT_SOURCE_DIR="$KORVAT_EXPAT_SOURCE/expat"
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

# Starts an X server of our own on a free display and exports DISPLAY;
# stop_xvfb ends it.
start_xvfb() {
    local display
    for display in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
        Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        KORVAT_XVFB_PID=$!
        for _ in $(seq 50); do
            if DISPLAY=":$display" xdpyinfo >/dev/null 2>&1; then
                export DISPLAY=":$display"
                return 0
            fi
            sleep 0.1
        done
        kill "$KORVAT_XVFB_PID" 2>/dev/null
    done
    echo "could not start Xvfb" >&2
    return 1
}

stop_xvfb() {
    [ -n "${KORVAT_XVFB_PID:-}" ] && kill "$KORVAT_XVFB_PID" 2>/dev/null
    KORVAT_XVFB_PID=""
}
