#!/usr/bin/env bash
# Load on zarvo-serve: wrk with 16 connections sends GetMaps over a fixed
# list of boxes (getmap_boxes.lua) for SECONDS after a warm-up, and the
# server's resident memory is sampled every few seconds. Fails on any
# error, or when memory after the warm-up grows by more than GROWTH_MB
# (default 64).
#
# usage: load_test.sh SERVER TILES SECONDS [GROWTH_MB]
set -euo pipefail
server=$1 tiles=$2 seconds=$3 growth=${4:-64}
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$out"' EXIT

touch "$out/serve.out"
"$server" --tiles "$tiles" --port 0 >"$out/serve.out" 2>"$out/serve.err" &
pid=$!
for _ in $(seq 50); do
    grep -q 'listening on' "$out/serve.out" && break
    sleep 0.1
done
base=$(grep -o 'http://[0-9.]*:[0-9]*' "$out/serve.out")
rss() { awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$pid/status"; }

# Warm-up: every box once and a short run, so that every tile is cached.
wrk -t2 -c16 -d"$(( seconds < 20 ? 2 : 10 ))s" --timeout 10s -s "$here/getmap_boxes.lua" "$base" >"$out/warm.txt"
warm=$(rss)
wrk -t2 -c16 -d"${seconds}s" --timeout 10s -s "$here/getmap_boxes.lua" "$base" >"$out/wrk.txt" &
wrk_pid=$!
samples="$warm"
while kill -0 "$wrk_pid" 2>/dev/null; do
    sleep "$(( seconds < 20 ? 1 : 5 ))"
    samples="$samples $(rss)"
done
wait "$wrk_pid"
peak=$(tr ' ' '\n' <<<"$samples" | sort -n | tail -1)
grep '^LOAD' "$out/wrk.txt"
echo "resident memory after warm-up ${warm} MB, samples (MB): ${samples}; peak ${peak} MB"
echo "server: $(curl -s "$base/stats")"
grep -q ' errors=0 ' "$out/wrk.txt" || { echo "FAIL: errors under load"; exit 1; }
[ "$peak" -le $(( warm + growth )) ] || { echo "FAIL: memory grew from ${warm} MB to ${peak} MB"; exit 1; }
kill -TERM "$pid"
wait "$pid" || { echo "FAIL: the server did not stop cleanly"; cat "$out/serve.err"; exit 1; }
echo "load: passed"
