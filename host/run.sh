#!/usr/bin/env bash
# Builds the project, then renders the demo (`demo`) or runs every test
# suite (`test`). Installs missing Debian packages when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

usage() {
    echo "usage: host/run.sh demo|test|fuzz [SECONDS]" >&2
    exit 2
}

note() { printf '\n== %s\n' "$*"; }

# Installs the named Debian packages that are missing, when we can.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
        echo "missing packages (not root, cannot install): ${missing[*]}" >&2
        return 1
    fi
    note "installing ${missing[*]}"
    if printf '%s\n' "${missing[@]}" | grep -q '^wine32$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386  # wine32 is an i386 package: the lists must be read again
        unset ZARVO_APT_UPDATED
    fi
    if [ -z "${ZARVO_APT_UPDATED:-}" ]; then
        apt-get update -q
        export ZARVO_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

BUILD_PACKAGES=(cmake ninja-build g++ googletest libbenchmark-dev libpng-dev libjpeg62-turbo-dev
    libcurl4-openssl-dev python3)
# The world tile set's data and the tools that paint it (geodata/).
BUILD_PACKAGES+=(python3-gdal python3-numpy gmt gmt-gshhg-low xplanet-images)
CHECK_PACKAGES=(clang libclang-rt-14-dev valgrind binutils)

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >"$dir/configure.log" 2>&1 ||
        { cat "$dir/configure.log"; return 1; }
    cmake --build "$dir" -j "$jobs"
}

build_main() {
    mkdir -p build
    configure_and_build build
}

run_demo() {
    ensure_packages "${BUILD_PACKAGES[@]}"
    build_main
    note "rendering the bundled demo"
    mkdir -p out
    for layer in map aerial hybrid; do
        ./build/zarvo-render --layer "$layer" --zoom 6 --bbox -12,34,32,62 --size 1000x760 \
            --tiles build/world-tiles --out "out/$layer.png"
    done
    echo
    echo "rendered: $root/out/map.png $root/out/aerial.png $root/out/hybrid.png"
}

run_tests() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${CHECK_PACKAGES[@]}"
    local failed=() passed=()
    stage() {
        local name=$1
        shift
        note "$name"
        local started=$SECONDS
        if "$@"; then passed+=("$name"); else failed+=("$name"); echo "FAILED: $name"; fi
        echo "-- $name: $((SECONDS - started)) s"
    }
    stage native native_suite
    stage "address and undefined-behaviour sanitizers" sanitizer_suite build-asan "address,undefined"
    stage "thread sanitizer" sanitizer_suite build-tsan "thread"
    stage "32-bit Windows DLL under wine" windows_suite
    stage "valgrind memcheck, end to end" valgrind_suite
    stage "fuzzing the C interface for ${ZARVO_FUZZ_SECONDS:-60} s" fuzz_suite "${ZARVO_FUZZ_SECONDS:-60}"
    echo
    echo "stages passed: ${#passed[@]}, failed: ${#failed[@]} ${failed[*]:-}"
    echo "${#passed[@]} passed, ${#failed[@]} failed"
    [ ${#failed[@]} -eq 0 ]
}

native_suite() {
    build_main && (cd build && ctest --output-on-failure -j "$jobs")
}

sanitizer_suite() {
    local dir=$1 sanitizers=$2
    mkdir -p "$dir"
    configure_and_build "$dir" -DZARVO_SANITIZE="$sanitizers" -DZARVO_BUILD_TOOLS=OFF &&
        (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

WINDOWS_PACKAGES=(g++-mingw-w64-i686 wine wine32)

# The DLL the host loads, cross-built with mingw-w64 and tested under wine.
windows_suite() {
    if ! ensure_packages "${WINDOWS_PACKAGES[@]}" || ! command -v i686-w64-mingw32-g++-posix >/dev/null ||
        ! command -v wine >/dev/null; then
        echo "skipped: the mingw-w64 cross compiler or wine cannot be had here (run as root with Debian's packages)"
        return 0
    fi
    mkdir -p build-win32
    configure_and_build build-win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
        -DZARVO_BUILD_TOOLS=OFF &&
        (cd build-win32 && ctest --output-on-failure)
}

# The end-to-end flows under memcheck: no invalid access, no leak, also
# after the library is unloaded.
valgrind_suite() {
    local vg=(valgrind -q --fair-sched=yes --leak-check=full --error-exitcode=1)
    "${vg[@]}" build/zarvo_abi_tests --gtest_brief=1 &&
        "${vg[@]}" build/zarvo_readme_example &&
        "${vg[@]}" build/zarvo-render --quiet --plugin build/libzarvo_data_plugin.so --layer hybrid --zoom 6 \
            --bbox -12,34,32,62 --size 500x380 --tiles build/demo-tiles --out build/valgrind-render.png
}

# libFuzzer over the C interface for SECONDS; any finding fails the stage
# and leaves its input in build-fuzz/.
fuzz_suite() {
    local seconds=$1
    mkdir -p build-fuzz/corpus
    CC=clang CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZARVO_SANITIZE=address,undefined -DZARVO_BUILD_FUZZ=ON -DZARVO_BUILD_TESTS=OFF -DZARVO_BUILD_TOOLS=OFF &&
        python3 fuzz/make_seeds.py build-fuzz/seeds &&
        (cd build-fuzz && ./zarvo_plugin_fuzzer -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
            -print_final_stats=1 corpus seeds >fuzz.log 2>&1) ||
        { tail -60 build-fuzz/fuzz.log; return 1; }
    grep -E 'DONE|stat::number_of_executed_units' build-fuzz/fuzz.log
}

case "${1:-}" in
    demo) run_demo ;;
    test) run_tests ;;
    fuzz)
        ensure_packages "${BUILD_PACKAGES[@]}" "${CHECK_PACKAGES[@]}"
        fuzz_suite "${2:-1800}"
        ;;
    *) usage ;;
esac
