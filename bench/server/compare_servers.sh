#!/usr/bin/env bash
# zarvo-serve against MapServer and MapProxy over the same tile set, on
# 127.0.0.1, in one interleaved run.
#
# MapServer 8 (Debian's cgi-mapserver) runs as a pool of PROCS FastCGI
# processes that lighttpd spawns once and keeps, and serves the world tile
# set as a WMS in EPSG:4326 through GDAL's TMS driver (tms_layer.xml.in,
# with the mapfile mapserver.map.in). MapProxy 1.15 (Debian's mapproxy)
# runs under Debian's gunicorn with PROCS sync workers, with a tile source
# over the same directory, rows from the south, bilinear, storing nothing
# (mapproxy.yaml.in). The three are warmed; then each round runs, with the
# order of the servers turned each round:
#   throughput  wrk at CONNECTIONS connections, 512 x 512 GetMaps over the
#               boxes of boxes.txt, PNG then JPEG, each server in turn, then
#               WebP from zarvo-serve alone; the CPU time and memory of each
#               server's processes around it;
#   latency     wrk at one connection, 256 x 256 and 1024 x 1024, each
#               format, each server in turn (WebP zarvo-serve's alone);
#   time split  zarvo-serve at one connection, 512 x 512, each format, its
#               Server-Timing header summed (getmap.lua).
# Prints the medians of the rounds with their spread, the ratios, the load
# average after every run, then how the servers' images agree with each
# other and with the tiles (faithfulness.py) and the PNG encoder's table
# on zarvo-serve's images (zarvo_png_bench).
#
# Installs nothing: it names the missing packages and stops
# (scripts/run.sh compare-server installs them and runs this).
#
# usage: compare_servers.sh [--build DIR] [--rounds N] [--seconds S]
#                           [--latency-seconds S] [--connections C] [--procs P]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build rounds=3 seconds=10 latency_seconds=5 connections=16
# Two processes a core for both peers: a process waits while its tiles are
# read, and two a core measured better than one (and no worse than four).
procs=$((2 * $(nproc 2>/dev/null || echo 1)))
# MapServer's encoder settings follow zarvo-serve's PNG level and JPEG
# quality, so that both pay alike to encode; MapProxy 1.15 sets no PNG level.
png_level=1 jpeg_quality=90

fail() { echo "compare_servers: $*" >&2; exit 1; }
positive() {
    if ! [[ $2 =~ ^[0-9]{1,4}$ ]] || [ "$2" -lt 1 ] || [ "$2" -gt "$3" ]; then fail "$1 must be 1 to $3, not '$2'"; fi
}

while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || fail "$1 needs a value"
    case $1 in
        --build) build=$(cd "$2" 2>/dev/null && pwd) || fail "no build directory $2" ;;
        --rounds) positive "$1" "$2" 20; rounds=$2 ;;
        --seconds) positive "$1" "$2" 600; seconds=$2 ;;
        --latency-seconds) positive "$1" "$2" 600; latency_seconds=$2 ;;
        --connections) positive "$1" "$2" 256; connections=$2 ;;
        --procs) positive "$1" "$2" 64; procs=$2 ;;
        *) fail "unknown argument '$1'" ;;
    esac
    shift 2
done

missing=()
for package in cgi-mapserver lighttpd mapproxy gunicorn wrk curl gdal-bin python3-gdal python3-numpy; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] || fail "missing packages: ${missing[*]} (scripts/run.sh compare-server installs them)"
mapserv=/usr/lib/cgi-bin/mapserv
python=/usr/bin/python3  # Debian's, with GDAL's bindings and MapProxy
for file in "$mapserv" /usr/sbin/lighttpd /usr/bin/gunicorn "$build/zarvo-serve" "$build/zarvo_png_bench" \
    "$build/world-tiles/.complete" "$build/geodata/world.gpkg"; do
    [ -e "$file" ] || fail "$file is missing (build with: cmake --preset native && cmake --build --preset native)"
done
tiles=$build/world-tiles
max_zoom=$(find "$tiles/map" -mindepth 1 -maxdepth 1 -type d -name '[0-9]*' -printf '%f\n' | sort -n | tail -1)
ticks_per_second=$(getconf CLK_TCK)

work=$(mktemp -d)
zarvo_pid="" lighttpd_pid="" gunicorn_pid=""
stop() {
    local pid=$1 _
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    local backends=""
    [ -n "$lighttpd_pid" ] && backends=$(pgrep -P "$lighttpd_pid" || true)
    [ -n "$gunicorn_pid" ] && backends="$backends $(pgrep -P "$gunicorn_pid" || true)"
    stop "$zarvo_pid"
    stop "$lighttpd_pid"
    stop "$gunicorn_pid"
    # lighttpd and gunicorn stop the processes they started; any left go by id.
    for pid in $backends; do kill -TERM "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
    "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_for() {  # URL PID NAME LOG...
    local url=$1 pid=$2 name=$3 _
    shift 3
    for _ in $(seq 150); do
        curl -s -o /dev/null -f -m 2 "$url" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    fail "$name did not start: $(tail -5 "$@" 2>/dev/null)"
}

# --- zarvo-serve
"$build/zarvo-serve" --tiles "$tiles" --port 0 --cache-mb 256 >"$work/zarvo.out" 2>"$work/zarvo.err" &
zarvo_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/zarvo.out" && break; sleep 0.1; done
zarvo_base=$(grep -o 'http://[0-9.]*:[0-9]*' "$work/zarvo.out") || fail "zarvo-serve did not start: $(cat "$work/zarvo.err")"

# --- MapServer behind lighttpd
ms_port=$(free_port)
fill() {
    sed -e "s|@WORK@|$work|g" -e "s|@TILES@|$tiles|g" -e "s|@PORT@|$ms_port|g" -e "s|@PROCS@|$procs|g" \
        -e "s|@MAX_ZOOM@|$max_zoom|g" -e "s|@LEVELS@|$((max_zoom + 1))|g" -e "s|@PNG_LEVEL@|$png_level|g" \
        -e "s|@JPEG_QUALITY@|$jpeg_quality|g" "$@"
}
for layer in map aerial hybrid; do
    ext=png; [ "$layer" = aerial ] && ext=jpeg
    fill -e "s|@LAYER@|$layer|g" -e "s|@EXT@|$ext|g" "$here/tms_layer.xml.in" >"$work/$layer.xml"
done
fill "$here/mapserver.map.in" >"$work/zarvo_peer.map"
fill "$here/mapserver.conf.in" >"$work/mapserver.conf"
fill "$here/lighttpd.conf.in" >"$work/lighttpd.conf"
/usr/sbin/lighttpd -tt -f "$work/lighttpd.conf" >/dev/null || fail "lighttpd refuses $work/lighttpd.conf"
/usr/sbin/lighttpd -D -f "$work/lighttpd.conf" >"$work/lighttpd.out" 2>&1 &
lighttpd_pid=$!
ms_base=http://127.0.0.1:$ms_port
wait_for "$ms_base/mapserv?SERVICE=WMS&REQUEST=GetCapabilities" "$lighttpd_pid" lighttpd "$work/lighttpd.out" \
    "$work/lighttpd.err"

# --- MapProxy under gunicorn
mp_port=$(free_port)
mkdir -p "$work/mapproxy"
fill "$here/mapproxy.yaml.in" >"$work/mapproxy/mapproxy.yaml"
printf '%s\n' 'from mapproxy.wsgiapp import make_wsgi_app' \
    "application = make_wsgi_app('$work/mapproxy/mapproxy.yaml')" >"$work/mapproxy/app.py"
/usr/bin/gunicorn --chdir "$work/mapproxy" --bind "127.0.0.1:$mp_port" --workers "$procs" --log-level warning \
    app:application >"$work/gunicorn.out" 2>&1 &
gunicorn_pid=$!
mp_base=http://127.0.0.1:$mp_port
wait_for "$mp_base/service?SERVICE=WMS&REQUEST=GetCapabilities" "$gunicorn_pid" "MapProxy (gunicorn)" \
    "$work/gunicorn.out"

servers=(zarvo mapserver mapproxy)
base_of() {
    case $1 in zarvo) echo "$zarvo_base" ;; mapserver) echo "$ms_base" ;; mapproxy) echo "$mp_base" ;; esac
}
path_of() {
    case $1 in zarvo) echo /wms ;; mapserver) echo /mapserv ;; mapproxy) echo /service ;; esac
}
pid_of() {
    case $1 in zarvo) echo "$zarvo_pid" ;; mapserver) echo "$lighttpd_pid" ;; mapproxy) echo "$gunicorn_pid" ;; esac
}
getmap() {  # SERVER LAYER FORMAT W S E N
    printf '%s%s?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=%s&STYLES=&SRS=EPSG:4326&BBOX=%s,%s,%s,%s&WIDTH=512&HEIGHT=512&FORMAT=image/%s' \
        "$(base_of "$1")" "$(path_of "$1")" "$2" "$4" "$5" "$6" "$7" "$3"
}

# A server's processes: the one it was started as and all their descendants
# (lighttpd's MapServer processes, gunicorn's workers).
process_tree() {
    local child
    echo "$1"
    for child in $(pgrep -P "$1" || true); do process_tree "$child"; done
}
# "CPU_TICKS RSS_KB PSS_KB", summed over a server's processes.
usage_of() {
    local pid stat fields ticks=0 rss=0 pss=0 kb
    for pid in $(process_tree "$(pid_of "$1")"); do
        stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
        read -r -a fields <<<"${stat##*) }"  # from the state on: utime and stime are the 12th and 13th
        ticks=$((ticks + fields[11] + fields[12]))
        kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        rss=$((rss + ${kb:-0}))
        kb=$(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || true)
        pss=$((pss + ${kb:-0}))
    done
    echo "$ticks $rss $pss"
}

# --- warm-up: every box once from each server, kept for the comparison of
# the images; then a short wrk run of each, so that every MapServer process
# has the tiles in its GDAL block cache and every worker is started.
mkdir -p "$work/images"
echo "== zarvo-serve at $zarvo_base/wms, MapServer 8 (lighttpd, $procs FastCGI processes) at $ms_base/mapserv," \
    "MapProxy 1.15 (gunicorn, $procs workers) at $mp_base/service"
index=0
while read -r layer west south east north; do
    case $layer in ''|'#'*) continue ;; esac
    index=$((index + 1))
    for format in png jpeg; do
        for server in "${servers[@]}"; do
            url=$(getmap $server "$layer" $format "$west" "$south" "$east" "$north")
            out=$work/images/$server-$index.$format
            type=$(curl -s -m 60 -D "$out.headers" -o "$out" -w '%{content_type}' "$url") ||
                fail "$server: no answer to $url"
            [ "$type" = "image/$format" ] || fail "$server answered $type to $url: $(head -c 400 "$out")"
        done
    done
done <"$here/boxes.txt"

# run_wrk SERVER FORMAT SECONDS CONNECTIONS SIDE: the RESULT (and TIMING) lines.
run_wrk() {
    local threads=2
    [ "$4" -lt 2 ] && threads=1
    timeout $(($3 + 60)) wrk -t$threads -c"$4" -d"$3s" --timeout 10s -s "$here/getmap.lua" "$(base_of "$1")" \
        -- "$(path_of "$1")" "$2" "$here/boxes.txt" "$5" | grep -E '^(RESULT|TIMING)' || fail "wrk gave no result for $1 $2"
}
# WebP: zarvo-serve's alone, as the peers are set up for PNG and JPEG.
formats_of() {
    if [ "$1" = zarvo ]; then echo png jpeg webp; else echo png jpeg; fi
}
for server in "${servers[@]}"; do
    for format in $(formats_of $server); do
        run_wrk $server $format $((seconds < 6 ? 3 : seconds / 2)) "$connections" 512 >/dev/null
    done
done

# measure KIND SERVER FORMAT SECONDS CONNECTIONS SIDE: one wrk run, written
# to the results with the server's CPU time per request, its memory after
# the run and the load average.
measure() {
    local kind=$1 server=$2 format=$3 before after output result requests cpu_ms load
    before=$(usage_of "$server")
    output=$(run_wrk "$server" "$format" "$4" "$5" "$6")
    after=$(usage_of "$server")
    load=$(cut -d' ' -f1 /proc/loadavg)
    result=$(grep '^RESULT' <<<"$output")
    requests=$(grep -o 'requests=[0-9]*' <<<"$result" | cut -d= -f2)
    read -r -a b <<<"$before"
    read -r -a a <<<"$after"
    cpu_ms=$(awk -v t=$((a[0] - b[0])) -v hz="$ticks_per_second" -v n="$requests" \
        'BEGIN { printf "%.3f", (n > 0 ? t * 1000 / hz / n : 0) }')
    local line="$kind round=$round server=$server format=$format side=$6 ${result#RESULT } cpu_ms=$cpu_ms"
    line="$line rss_kb=${a[1]} pss_kb=${a[2]} load=$load"
    local timing
    for timing in $(grep '^TIMING' <<<"$output" | cut -d' ' -f2); do line="$line t_$timing"; done
    echo "$line" >>"$work/results.txt"
    echo "  $line"
}

echo "== $rounds rounds: ${seconds} s runs at $connections connections (512 x 512), ${latency_seconds} s runs at one" \
    "connection (256 x 256, 1024 x 1024, and zarvo-serve's time split at 512 x 512); $index boxes"
: >"$work/results.txt"
for round in $(seq "$rounds"); do
    echo "round $round (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    # The servers' order turns each round, so that none always follows the same one.
    shift_by=$(((round - 1) % ${#servers[@]}))
    order=("${servers[@]:shift_by}" "${servers[@]:0:shift_by}")
    for format in png jpeg webp; do
        for server in "${order[@]}"; do
            [[ " $(formats_of $server) " == *" $format "* ]] || continue
            measure load "$server" $format "$seconds" "$connections" 512
        done
    done
    for side in 256 1024; do
        for format in png jpeg webp; do
            for server in "${order[@]}"; do
                [[ " $(formats_of $server) " == *" $format "* ]] || continue
                measure one "$server" $format "$latency_seconds" 1 $side
            done
        done
    done
    for format in png jpeg webp; do
        SERVER_TIMING=1 measure split zarvo $format "$latency_seconds" 1 512
    done
done
grep -q 'errors=[1-9]' "$work/results.txt" && echo "note: some runs had errors (non-2xx answers, timeouts)"

echo
"$python" "$here/summarise_runs.py" "$work/results.txt"

echo
echo "== how the images agree (the warm-up images, 512 x 512)"
"$python" "$here/faithfulness.py" --boxes "$here/boxes.txt" --images "$work/images" --sources "$work" \
    --vectors "$build/geodata/world.gpkg" --style-dir "$root/geodata"

echo
echo "== the PNG encoder's settings on zarvo-serve's PNG images"
"$build/zarvo_png_bench" --repetitions 3 --levels 1,2,4,6,9 "$work"/images/zarvo-*.png
