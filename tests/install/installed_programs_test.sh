#!/bin/sh
# Installs the build tree into a scratch prefix, checks that its system
# service names the program there, moves the prefix elsewhere and hides the
# build tree, then runs the installed programs: zarvo-render renders,
# zarvo-serve answers GetCapabilities, a GetMap and its page, and each
# program's manual page has its synopsis and documents every option its
# --help lists.
#   installed_programs_test.sh CMAKE BUILD_DIR TILES
set -eu
cmake=$1 build=$2 tiles=$3
hidden=$build.hidden-by-install-test
scratch=$(mktemp -d)
mkdir -p "$scratch/tiles"
server=
restore() {
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    [ ! -d "$hidden" ] || mv "$hidden" "$build"
    rm -rf "$scratch"
}
trap restore EXIT
"$cmake" --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; exit 1; }
# The system service names the program in the prefix installed to.
unit=$scratch/prefix/lib/systemd/system/zarvo-serve.service
grep -qx "ExecStart=$scratch/prefix/bin/zarvo-serve .*" "$unit" || { echo "FAIL: $unit names another program"; exit 1; }
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no "$unit" || { echo "FAIL: systemd-analyze verify $unit"; exit 1; }
fi
mv "$scratch/prefix" "$scratch/moved"
prefix=$scratch/moved
# The coarsest zooms of every layer are enough, and the copy outlives the build tree.
for layer in map aerial hybrid; do
    mkdir -p "$scratch/tiles/$layer"
    for zoom in 0 1 2; do cp -r "$tiles/$layer/$zoom" "$scratch/tiles/$layer/"; done
done

mv "$build" "$hidden"

fail() { echo "FAIL: $*"; exit 1; }

for program in zarvo-render zarvo-serve; do
    readelf -d "$prefix/bin/$program" | grep -q 'RUNPATH.*\[\$ORIGIN/\.\./lib' ||
        fail "$program has no RUNPATH of \$ORIGIN/../lib"
    "$prefix/bin/$program" --version | grep -q "^$program [0-9]" || fail "$program --version"
    page=$prefix/share/man/man1/$program.1
    [ -s "$page" ] || fail "no manual page $page"
    # help2man finds the usage forms only in GNU's layout.
    sed -n '/^\.SH SYNOPSIS/,/^\.SH/p' "$page" | grep -q "^\.B $program\$" || fail "$page has no SYNOPSIS"
    for option in $("$prefix/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$(printf '%s' "$option" | sed 's/-/\\\\-/g')" "$page" || fail "$page does not document $option"
    done
done

"$prefix/bin/zarvo-render" --quiet --layer map --zoom 2 --bbox -10,40,10,50 --size 64x32 --tiles "$scratch/tiles" \
    --out "$scratch/map.png" || fail "the installed zarvo-render did not render"
[ "$(head -c 4 "$scratch/map.png" | od -An -c | tr -d ' ')" = '211PNG' ] || fail "zarvo-render wrote no PNG"

"$prefix/bin/zarvo-serve" --tiles "$scratch/tiles" --port 0 --access-log off >"$scratch/serve.out" 2>"$scratch/serve.err" &
server=$!
for _ in $(seq 100); do
    grep -q 'listening on' "$scratch/serve.out" && break
    kill -0 "$server" 2>/dev/null || { cat "$scratch/serve.err"; fail "the installed zarvo-serve did not start"; }
    sleep 0.1
done
base=$(grep -o 'http://[0-9.]*:[0-9]*' "$scratch/serve.out") || fail "zarvo-serve printed no address"
fetch() { curl -s -o "$scratch/body" -w '%{http_code} %{content_type}' "$base$1"; }

[ "$(fetch '/wms?SERVICE=WMS&REQUEST=GetCapabilities')" = "200 text/xml" ] || fail "GetCapabilities"
grep -q "OnlineResource" "$scratch/body" || fail "capabilities without OnlineResource"
[ "$(fetch '/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=CRS:84&BBOX=-10,40,10,50&WIDTH=64&HEIGHT=32&FORMAT=image/png')" = "200 image/png" ] ||
    fail "GetMap"
case $(fetch /) in 200\ text/html*) ;; *) fail "the map page" ;; esac
grep -q 'main.js' "$scratch/body" || fail "the map page is not the built one"
case $(fetch /main.js) in 200\ *) ;; *) fail "the map page's script" ;; esac
echo "installed programs: passed"
