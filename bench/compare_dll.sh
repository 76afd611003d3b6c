#!/bin/sh
# Times the same whole request through the shared library and through the
# Windows DLL under wine, alternating, and prints the medians and the ratio.
#
#   bench/compare_dll.sh [ROUNDS] [SIZE]     (defaults: 5 rounds, the 2048 x 2048 scene)
#
# Needs build/ (cmake --preset native) and build-win32/ (cmake --preset win32)
# with zarvo_request_timing built in each.
set -eu
rounds=${1:-5}
size=${2:-2048}
root=$(cd "$(dirname "$0")/.." && pwd)
native="$root/build/zarvo_request_timing"
windows="$root/build-win32/zarvo_request_timing.exe"
for program in "$native" "$windows"; do
    if [ ! -f "$program" ]; then
        echo "compare_dll.sh: $program is not built" >&2
        exit 1
    fi
done
case "$rounds$size" in
    *[!0-9]*) echo "compare_dll.sh: ROUNDS and SIZE are whole numbers" >&2; exit 2 ;;
esac

results=$(mktemp)
trap 'rm -f "$results"' EXIT
i=0
while [ "$i" -lt "$rounds" ]; do
    "$native" --size "$size" --runs 3 | sed 's/.*: \([0-9.]*\) ns.*/so \1/' >>"$results"
    (cd "$root/build-win32" && WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine ./zarvo_request_timing.exe \
        --size "$size" --runs 3) | tr -d '\r' | sed 's/.*: \([0-9.]*\) ns.*/dll \1/' >>"$results"
    i=$((i + 1))
done
awk -v size="$size" '
    { v[$1, ++n[$1]] = $2 }
    function median(k,    i, j, t, m) {
        m = n[k]
        for (i = 1; i <= m; i++) a[i] = v[k, i]
        for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
    }
    END {
        so = median("so"); dll = median("dll")
        printf "%s x %s request, CPU ns per pixel, median of %d rounds: .so %.3f, DLL under wine %.3f, DLL / .so %.2f\n",
               size, size, n["so"], so, dll, dll / so
    }' "$results"
