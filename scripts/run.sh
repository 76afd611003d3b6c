#!/usr/bin/env bash
# Builds the project, then renders the demo (`demo`) or runs every test
# suite (`test`). Installs missing Debian packages when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

usage() {
    echo "usage: scripts/run.sh demo|test|package|fuzz [SECONDS]|serve [PORT]|load [SECONDS]|compare-server|compare-pyramids [OPTIONS]" >&2
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

# Node.js with npm, which bundles the map page: Debian's packages, unless the
# machine already has a Node.js that carries its own npm (as NodeSource's
# does, which Debian's npm package conflicts with).
ensure_node() {
    command -v node >/dev/null && command -v npm >/dev/null && return 0
    ensure_packages nodejs npm
}

BUILD_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libpng-dev libjpeg62-turbo-dev libwebp-dev
    libcurl4-openssl-dev python3 libgdal-dev libdeflate-dev libsqlite3-dev libboost-dev libcli11-dev help2man ccache)
# The world tile set's data and the tools that paint it (geodata/).
BUILD_PACKAGES+=(python3-gdal python3-numpy gmt gmt-gshhg-low xplanet-images)
# zarvo-serve: a JSON reader for tile set metadata, jemalloc, which returns freed memory;
# node with npm bundles its map page.
SERVE_BUILD_PACKAGES=(pkg-config nlohmann-json3-dev libjemalloc-dev)
CHECK_PACKAGES=(clang libclang-rt-14-dev valgrind binutils pkgconf gdal-bin parallel)
# A Slurm cluster of one node, which the pyramid test starts on loopback.
CHECK_PACKAGES+=(slurm-wlm munge)
# zarvo-serve's clients in the tests: GDAL, OWSLib, a browser, QGIS (offscreen), a load generator,
# a reverse proxy with a cache, and the OGC schemas (shipped with MapProxy's package) with xmllint
# to validate the capabilities.
SERVE_CHECK_PACKAGES=(gdal-bin python3-gdal python3-owslib chromium wrk curl nginx libxml2-utils python3-mapproxy
    python3-qgis qgis-providers)
# zarvo-serve against its peers (not part of the tests): MapServer as FastCGI behind lighttpd,
# MapProxy under gunicorn.
PEER_PACKAGES=(cgi-mapserver lighttpd mapproxy gunicorn wrk curl gdal-bin python3-gdal python3-numpy)

# configure PRESET: configures the build tree of a preset of
# CMakePresets.json, keeping cmake's chatter in a log unless it fails.
configure() {
    local dir
    dir=$(preset_dir "$1")
    mkdir -p "$dir"
    # Compilations made before, in this checkout or another, come from
    # ccache's store (a new build tree takes it up): the builds of the tests
    # compile the same sources again and again. Paths are taken relative to
    # the checkout, so a fresh clone finds what an earlier one compiled.
    if command -v ccache >/dev/null; then
        export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$root"
        export CCACHE_NOHASHDIR=1
    fi
    cmake --preset "$1" >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; return 1; }
}

preset_dir() {
    case $1 in
        native) echo build ;;
        *) echo "build-$1" ;;
    esac
}

# build_and_test PRESET: configures, builds and runs the tests of a preset.
build_and_test() {
    configure "$1" && cmake --build --preset "$1" -j "$jobs" && ctest --preset "$1" -j "$jobs"
}

run_demo() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}"
    ensure_node
    configure native
    cmake --build --preset demo -j "$jobs"
    note "rendering the bundled demo"
    mkdir -p out
    for layer in map aerial hybrid; do
        ./build/zarvo-render --layer "$layer" --zoom 6 --bbox -12,34,32,62 --size 1000x760 \
            --tiles build/world-tiles --overwrite --out "out/$layer.png"
    done
    echo
    echo "rendered: $root/out/map.png $root/out/aerial.png $root/out/hybrid.png"
}

run_tests() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}" "${CHECK_PACKAGES[@]}" \
        "${SERVE_CHECK_PACKAGES[@]}"
    ensure_node
    local failed=() passed=()
    stage() {
        local name=$1
        shift
        note "$name"
        local started=$SECONDS
        if "$@"; then passed+=("$name"); else failed+=("$name"); echo "FAILED: $name"; fi
        echo "-- $name: $((SECONDS - started)) s"
    }
    stage native build_and_test native
    stage "address and undefined-behaviour sanitizers" build_and_test asan-ubsan
    stage "thread sanitizer" build_and_test tsan
    stage "32-bit Windows DLL under wine" windows_suite
    stage "valgrind memcheck, end to end" valgrind_suite
    stage "fuzzing the C interface for ${ZARVO_FUZZ_SECONDS:-60} s, the WMS and OGC API map parsers for ${ZARVO_WMS_FUZZ_SECONDS:-30} s and HTTP heads for ${ZARVO_HTTP_FUZZ_SECONDS:-20} s" \
        fuzz_suite "${ZARVO_FUZZ_SECONDS:-60}"
    echo
    echo "stages passed: ${#passed[@]}, failed: ${#failed[@]} ${failed[*]:-}"
    echo "${#passed[@]} passed, ${#failed[@]} failed"
    [ ${#failed[@]} -eq 0 ]
}

# llvm and lld: the import library for Microsoft's linker and its test.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 wine wine32 llvm lld)

# The DLL the host loads, cross-built with mingw-w64 and tested under wine.
windows_suite() {
    if ! ensure_packages "${WINDOWS_PACKAGES[@]}" || ! command -v i686-w64-mingw32-g++-posix >/dev/null ||
        ! command -v wine >/dev/null; then
        echo "skipped: the mingw-w64 cross compiler or wine cannot be had here (run as root with Debian's packages)"
        return 0
    fi
    configure win32 && cmake --build --preset win32 -j "$jobs" && ctest --preset win32
}

# The end-to-end flows under memcheck: no invalid access, no leak, also
# after the library is unloaded.
valgrind_suite() {
    local vg=(valgrind -q --fair-sched=yes --leak-check=full --error-exitcode=1)
    "${vg[@]}" build/zarvo_abi_tests --gtest_brief=1 &&
        "${vg[@]}" build/zarvo_host_guide_example &&
        "${vg[@]}" build/zarvo-render --quiet --plugin build/libzarvo_data_plugin.so --layer hybrid --zoom 6 \
            --bbox -12,34,32,62 --size 500x380 --tiles build/demo-tiles --overwrite --out build/valgrind-render.png
}

# The release archives: build/packages/*.tar.gz and build-win32/packages/*.zip.
run_package() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
    configure native && cmake --build --preset native -j "$jobs" && cmake --build build --target package
    configure win32 && cmake --build --preset win32 -j "$jobs" && cmake --build build-win32 --target package
    echo
    ls -l build/packages/*.tar.gz build-win32/packages/*.zip
}

# libFuzzer over the C interface for SECONDS; any finding fails the stage
# and leaves its input in build-fuzz/.
fuzz_suite() {
    local seconds=$1
    configure fuzz && cmake --build --preset fuzz -j "$jobs" && mkdir -p build-fuzz/corpus &&
        python3 fuzz/make_seeds.py build-fuzz/seeds &&
        (cd build-fuzz && ./zarvo_plugin_fuzzer -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
            -print_final_stats=1 corpus seeds >fuzz.log 2>&1) ||
        { tail -60 build-fuzz/fuzz.log; return 1; }
    grep -E 'DONE|stat::number_of_executed_units' build-fuzz/fuzz.log
    wms_fuzz "${ZARVO_WMS_FUZZ_SECONDS:-30}"
}

# libFuzzer over zarvo-serve's WMS and OGC API map parsers for SECONDS.
wms_fuzz() {
    local seconds=$1 seeds=build-fuzz/wms-seeds
    mkdir -p build-fuzz/wms-corpus "$seeds"
    printf '%s' 'SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map,hybrid&STYLES=&FORMAT=image/png&CRS=EPSG:4326&BBOX=34,-12,62,32&WIDTH=1000&HEIGHT=760&BGCOLOR=0x102030' >"$seeds/getmap-130"
    printf '%s' 'SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=aerial&STYLES=default&FORMAT=image/jpeg&SRS=EPSG:4326&BBOX=-190,80,-170,90&WIDTH=2048&HEIGHT=1' >"$seeds/getmap-111"
    printf '%s' 'SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=EPSG:3857&BBOX=-2e7,-2.2e7,2.1e7,2.2e7&WIDTH=2048&HEIGHT=2047' >"$seeds/getmap-3857"
    printf '%s' 'SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.2.0' >"$seeds/capabilities"
    printf '%s' 'subset=Lat(40:*),Lon(-10:20)&crs=[EPSG:3857]&height=700&bgcolor=navy&void-transparent=true' \
        >"$seeds/ogcapi-map"
    (cd build-fuzz && ./zarvo_wms_query_fuzzer -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 wms-corpus wms-seeds >wms-fuzz.log 2>&1) ||
        { tail -60 build-fuzz/wms-fuzz.log; return 1; }
    grep -E 'DONE|stat::number_of_executed_units' build-fuzz/wms-fuzz.log
    http_fuzz "${ZARVO_HTTP_FUZZ_SECONDS:-20}"
}

# libFuzzer over zarvo-serve's reading of a request's head for SECONDS.
http_fuzz() {
    local seconds=$1 seeds=build-fuzz/http-seeds
    mkdir -p build-fuzz/http-corpus "$seeds"
    printf 'GET /wms?SERVICE=WMS&REQUEST=GetMap&LAYERS=%%C3%%A9%%FF&CRS=EPSG:4326 HTTP/1.1\r\nHost: a\r\n\r\n' >"$seeds/getmap"
    printf 'POST /main.js%%00.html HTTP/1.0\r\nContent-Length: 3\r\nRange: bytes=0-,0-\r\n\r\nabc' >"$seeds/post"
    (cd build-fuzz && ./zarvo_http_request_fuzzer -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 http-corpus http-seeds >http-fuzz.log 2>&1) ||
        { tail -60 build-fuzz/http-fuzz.log; return 1; }
    grep -E 'DONE|stat::number_of_executed_units' build-fuzz/http-fuzz.log
}

# Builds what zarvo-serve needs and serves the demo tiles on PORT.
run_serve() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}"
    ensure_node
    configure native
    cmake --build build --target zarvo-serve zarvo_world_tiles -j "$jobs"
    note "serving the world tile set: the map page at http://127.0.0.1:$1/, WMS at http://127.0.0.1:$1/wms"
    exec ./build/zarvo-serve --tiles build/world-tiles --port "$1"
}

# A minute (or SECONDS) of GetMaps at 16 connections: errors, latency, memory.
run_load() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}" wrk curl
    ensure_node
    configure native
    cmake --build build --target zarvo-serve zarvo_demo_tiles -j "$jobs"
    note "loading zarvo-serve for $1 s"
    tests/serve/load_test.sh build/zarvo-serve build/demo-tiles "$1"
}

# zarvo-serve against MapServer and MapProxy over the world tile set (bench/server/).
run_compare_server() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}" "${PEER_PACKAGES[@]}"
    ensure_node
    configure native
    cmake --build build --target zarvo-serve zarvo_world_tiles zarvo_png_bench -j "$jobs"
    note "zarvo-serve against MapServer and MapProxy"
    bench/server/compare_servers.sh --build build
}

# zarvo-render's tile pyramids against GDAL's tile generator and MapProxy's seeder (bench/).
run_compare_pyramids() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${SERVE_BUILD_PACKAGES[@]}" "${PEER_PACKAGES[@]}" nginx time
    ensure_node
    configure native
    cmake --build build --target zarvo-render zarvo_world_tiles -j "$jobs"
    note "zarvo-render's pyramids against gdal2tiles and mapproxy-seed"
    /usr/bin/python3 bench/pyramid_vs_peers.py --build build "$@"
}

case "${1:-}" in
    demo) run_demo ;;
    test) run_tests ;;
    package) run_package ;;
    fuzz)
        ensure_packages "${BUILD_PACKAGES[@]}" "${CHECK_PACKAGES[@]}"
        fuzz_suite "${2:-1800}"
        ;;
    serve) run_serve "${2:-8080}" ;;
    load) run_load "${2:-60}" ;;
    compare-server) run_compare_server ;;
    compare-pyramids) shift; run_compare_pyramids "$@" ;;
    *) usage ;;
esac
