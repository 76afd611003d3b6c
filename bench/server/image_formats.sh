#!/usr/bin/env bash
# PNG, JPEG and WebP on the comparison's boxes, layer by layer: one
# zarvo-serve over the world tile set draws each box of boxes.txt as a
# 512 x 512 PNG GetMap (WMS 1.1.1, EPSG:4326, as compare_servers.sh asks),
# then zarvo_image_format_bench encodes every image in each format and
# setting, interleaved, in CPU time, and prints one table a layer: bytes,
# encode time and the lossy files' difference from the image, "answers"
# marking the settings zarvo-serve uses. Arguments after the options go to
# the bench (--lossy Q:M,... --lossless E:M,...).
#
# usage: image_formats.sh [--build DIR] [--repetitions N] [BENCH OPTIONS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$here/../.." && pwd)/build repetitions=3

fail() { echo "image_formats: $*" >&2; exit 1; }
while [ $# -gt 0 ]; do
    case $1 in
        --build)
            [ $# -ge 2 ] || fail "--build needs a value"
            build=$(cd "$2" 2>/dev/null && pwd) || fail "no build directory $2"
            shift 2 ;;
        --repetitions)
            [ $# -ge 2 ] || fail "--repetitions needs a value"
            repetitions=$2
            shift 2 ;;
        *) break ;;
    esac
done
for file in "$build/zarvo-serve" "$build/zarvo_image_format_bench" "$build/world-tiles/.complete"; do
    [ -e "$file" ] || fail "$file is missing (build with: cmake --preset native && cmake --build --preset native)"
done
command -v curl >/dev/null || fail "curl is missing"

work=$(mktemp -d)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$build/zarvo-serve" --tiles "$build/world-tiles" --port 0 --access-log off >"$work/out" 2>"$work/err" &
server_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/out" && break; sleep 0.1; done
base=$(grep -o 'http://[0-9.]*:[0-9]*' "$work/out") || fail "zarvo-serve did not start: $(cat "$work/err")"

index=0
while read -r layer west south east north; do
    case $layer in ''|'#'*) continue ;; esac
    index=$((index + 1))
    query="SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=$layer&STYLES=&SRS=EPSG:4326"
    query="$query&BBOX=$west,$south,$east,$north&WIDTH=512&HEIGHT=512&FORMAT=image/png"
    curl -sf -m 60 -o "$work/$layer-$index.png" "$base/wms?$query" || fail "no image for $layer $west $south $east $north"
done <"$here/boxes.txt"

"$build/zarvo_image_format_bench" --repetitions "$repetitions" "$@" "$work"/*.png
