#!/usr/bin/env bash
# Tile fetches per second from a local HTTP tile server: nginx (a child of
# this script, on loopback) serves the demo tiles at the tile service's
# path, zarvo_tile_fetch_rate fetches them for SECONDS, and nginx's log
# counts the connections they came over.
#
# usage: bench/server/tile_fetch_rate.sh BUILD_DIR [SECONDS] [ROUNDS] [OTHER]
# OTHER, a zarvo_tile_fetch_rate built from another commit, runs
# interleaved with this build's, round by round.
set -euo pipefail
build=$(cd "$1" && pwd) seconds=${2:-5} rounds=${3:-3} other=${4:-}
scratch=$(mktemp -d)
trap 'kill "$nginx" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$scratch"' EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$scratch/nginx.conf" <<EOC
$([ "$(id -u)" = 0 ] && echo 'user root;')
daemon off;
worker_processes 1;
pid $scratch/nginx.pid;
events { worker_connections 1024; }
http {
    log_format connection '\$connection';
    access_log $scratch/access.log connection;
    client_body_temp_path $scratch/body;
    proxy_temp_path $scratch/proxy;
    fastcgi_temp_path $scratch/fastcgi;
    uwsgi_temp_path $scratch/uwsgi;
    scgi_temp_path $scratch/scgi;
    keepalive_requests 1000000;
    server {
        listen 127.0.0.1:$port;
        location /geowebcache/service/tms1.0.0/ { alias $build/demo-tiles/; }
    }
}
EOC
nginx -p "$scratch" -c "$scratch/nginx.conf" -e "$scratch/error.log" &
nginx=$!
sleep 0.5
measure() {
    : >"$scratch/access.log"
    rate=$("$1" "http://127.0.0.1:$port" "$seconds")
    sleep 0.3  # nginx writes its log lines as the connections close
    echo "$2: $rate; $(sort -u "$scratch/access.log" | wc -l) connections for $(wc -l <"$scratch/access.log") requests"
}
for _ in $(seq "$rounds"); do
    [ -z "$other" ] || measure "$other" other
    measure "$build/zarvo_tile_fetch_rate" this
done
