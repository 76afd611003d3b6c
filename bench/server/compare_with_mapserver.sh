#!/usr/bin/env bash
# zarvo-serve against MapServer over the same tile set, on 127.0.0.1.
#
# MapServer 8 (Debian's cgi-mapserver) runs as a pool of FastCGI processes
# that lighttpd spawns once and keeps, and serves the world tile set as a
# WMS in EPSG:4326 through GDAL's TMS driver (tms_layer.xml.in, with the
# mapfile mapserver.map.in). Both servers are warmed, then wrk sends 512 x
# 512 GetMaps over the boxes of boxes.txt, interleaved: zarvo PNG, MapServer
# PNG, zarvo JPEG, MapServer JPEG, for ROUNDS rounds. Prints the median of
# the rounds (requests/s, p50, p99) and zarvo's ratio, then how faithful
# each server's images are (faithfulness.py).
#
# Installs nothing: it names the missing packages and stops
# (scripts/run.sh compare-server installs them and runs this).
#
# usage: compare_with_mapserver.sh [--build DIR] [--rounds N] [--seconds S]
#                                  [--connections C] [--procs P]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build rounds=3 seconds=10 connections=16
# Two MapServer processes a core: a process waits while GDAL reads tiles,
# and two a core measured better than one (and no worse than four).
procs=$((2 * $(nproc 2>/dev/null || echo 1)))
# MapServer's encoder settings follow zarvo-serve's (host/png_encoder.cpp,
# serve/wms_service.cpp), so that both pay the same to encode.
png_level=1 jpeg_quality=90

fail() { echo "compare_with_mapserver: $*" >&2; exit 1; }
positive() {
    if ! [[ $2 =~ ^[0-9]{1,4}$ ]] || [ "$2" -lt 1 ] || [ "$2" -gt "$3" ]; then fail "$1 must be 1 to $3, not '$2'"; fi
}

while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || fail "$1 needs a value"
    case $1 in
        --build) build=$(cd "$2" 2>/dev/null && pwd) || fail "no build directory $2" ;;
        --rounds) positive "$1" "$2" 20; rounds=$2 ;;
        --seconds) positive "$1" "$2" 600; seconds=$2 ;;
        --connections) positive "$1" "$2" 256; connections=$2 ;;
        --procs) positive "$1" "$2" 64; procs=$2 ;;
        *) fail "unknown argument '$1'" ;;
    esac
    shift 2
done

missing=()
for package in cgi-mapserver lighttpd wrk curl gdal-bin python3-gdal python3-numpy; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] || fail "missing packages: ${missing[*]} (scripts/run.sh compare-server installs them)"
mapserv=/usr/lib/cgi-bin/mapserv
python=/usr/bin/python3  # Debian's, with the GDAL bindings
for file in "$mapserv" /usr/sbin/lighttpd "$build/zarvo-serve" "$build/world-tiles/.complete" \
    "$build/geodata/world.gpkg"; do
    [ -e "$file" ] || fail "$file is missing (build with: cmake --preset native && cmake --build --preset native)"
done
tiles=$build/world-tiles
max_zoom=$(find "$tiles/map" -mindepth 1 -maxdepth 1 -type d -name '[0-9]*' -printf '%f\n' | sort -n | tail -1)

work=$(mktemp -d)
zarvo_pid="" lighttpd_pid=""
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
    stop "$zarvo_pid"
    stop "$lighttpd_pid"
    # lighttpd stops the MapServer processes it spawned; any left go by id.
    for pid in $backends; do kill -TERM "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
    "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
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
        -e "s|@MAX_ZOOM@|$max_zoom|g" -e "s|@PNG_LEVEL@|$png_level|g" -e "s|@JPEG_QUALITY@|$jpeg_quality|g" "$@"
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
for _ in $(seq 100); do curl -s -o /dev/null -m 2 "$ms_base/mapserv?SERVICE=WMS&REQUEST=GetCapabilities" && break; sleep 0.1; done
kill -0 "$lighttpd_pid" 2>/dev/null || fail "lighttpd did not start: $(cat "$work/lighttpd.out" "$work/lighttpd.err" 2>/dev/null)"

getmap() {  # SERVER_BASE PATH LAYER FORMAT W S E N
    printf '%s%s?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=%s&STYLES=&SRS=EPSG:4326&BBOX=%s,%s,%s,%s&WIDTH=512&HEIGHT=512&FORMAT=image/%s' \
        "$1" "$2" "$3" "$5" "$6" "$7" "$8" "$4"
}

# --- warm-up: every box once from each server, kept for the comparison of
# faithfulness and sizes; then a short wrk run of each, so that every
# MapServer process has the tiles in its GDAL block cache.
mkdir -p "$work/images"
echo "== warming up: zarvo-serve at $zarvo_base/wms, MapServer 8 (lighttpd, $procs FastCGI processes) at $ms_base/mapserv"
index=0
while read -r layer west south east north; do
    case $layer in ''|'#'*) continue ;; esac
    index=$((index + 1))
    for format in png jpeg; do
        for server in zarvo mapserver; do
            if [ $server = zarvo ]; then url=$(getmap "$zarvo_base" /wms "$layer" $format "$west" "$south" "$east" "$north")
            else url=$(getmap "$ms_base" /mapserv "$layer" $format "$west" "$south" "$east" "$north"); fi
            out=$work/images/$server-$index.$format
            type=$(curl -s -m 60 -D "$out.headers" -o "$out" -w '%{content_type}' "$url") ||
                fail "$server: no answer to $url"
            [ "$type" = "image/$format" ] || fail "$server answered $type to $url: $(head -c 400 "$out")"
        done
    done
done <"$here/boxes.txt"

run_wrk() {  # SERVER FORMAT SECONDS
    local base=$zarvo_base path=/wms
    [ "$1" = mapserver ] && base=$ms_base path=/mapserv
    timeout $(($3 + 60)) wrk -t2 -c"$connections" -d"$3s" --timeout 10s -s "$here/getmap_512.lua" "$base" \
        -- "$path" "$2" "$here/boxes.txt" | grep '^RESULT' || fail "wrk gave no result for $1 $2"
}
for server in zarvo mapserver; do
    for format in png jpeg; do run_wrk $server $format $((seconds < 6 ? 3 : seconds / 2)) >/dev/null; done
done

# --- the measured rounds, interleaved so that both see the same machine
echo "== $rounds rounds of ${seconds} s a run, $connections connections, 512 x 512, $index boxes"
: >"$work/results.txt"
for round in $(seq "$rounds"); do
    for format in png jpeg; do
        for server in zarvo mapserver; do
            line=$(run_wrk $server $format "$seconds")
            echo "round $round $server $format ${line#RESULT }"
            echo "$server $format ${line#RESULT }" >>"$work/results.txt"
        done
    done
done

"$python" - "$work/results.txt" <<'EOF'
import re, statistics, sys
runs = {}
for line in open(sys.argv[1]):
    server, fmt, rest = line.split(None, 2)
    figures = dict((k, float(v)) for k, v in re.findall(r"(\w+)=([\d.]+)", rest))
    runs.setdefault((server, fmt), []).append(figures)
def median(server, fmt, key):
    return statistics.median(r[key] for r in runs[(server, fmt)])
print("\n| format | server | requests/s | p50 ms | p99 ms | errors | zarvo / MapServer |")
print("|---|---|---:|---:|---:|---:|---:|")
for fmt in ("png", "jpeg"):
    ratio = median("zarvo", fmt, "rps") / max(median("mapserver", fmt, "rps"), 1e-9)
    for server, name in (("zarvo", "zarvo-serve"), ("mapserver", "MapServer 8")):
        errors = sum(r["errors"] for r in runs[(server, fmt)])
        print("| %s | %s | %.1f | %.1f | %.1f | %d | %s |" % (
            fmt.upper(), name, median(server, fmt, "rps"), median(server, fmt, "p50_ms"),
            median(server, fmt, "p99_ms"), errors, "%.2f" % ratio if server == "zarvo" else ""))
print("(medians of the rounds)")
EOF
grep -q 'errors=[1-9]' "$work/results.txt" && echo "note: some runs had errors (non-2xx answers, timeouts)"

echo
echo "== faithfulness and sizes of the warm-up images"
"$python" "$here/faithfulness.py" --boxes "$here/boxes.txt" --images "$work/images" --sources "$work" \
    --vectors "$build/geodata/world.gpkg" --style-dir "$root/geodata"
