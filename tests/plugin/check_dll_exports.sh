#!/bin/sh
# The DLL exports exactly the five entry points by undecorated name at
# ordinals 1 to 5, and imports no mingw runtime DLL.
set -eu
dump=$(i686-w64-mingw32-objdump -p "$1")
base=$(printf '%s\n' "$dump" | awk '/^Ordinal Base/ {print $3; exit}')
# Lines "[   i] Name" of the name table; i is the ordinal less the base.
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    tr -d '[]' | awk -v base="$base" 'NF == 2 && $1 ~ /^[0-9]+$/ {printf "%d=%s ", $1 + base, $2}')
addresses=$(printf '%s\n' "$dump" | grep -c 'Export RVA' || true)
imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
echo "exports: $exports($addresses addresses)"
echo "imports: $imports"
want='1=DataInitLayer 2=DataRequest 3=DataSetDownloadCallback 4=DataSetEventCallback 5=KvlPluginInfo '
[ "$exports" = "$want" ] || { echo "want exports: $want"; exit 1; }
[ "$addresses" -eq 5 ] || { echo "want 5 export addresses"; exit 1; }
case "$imports" in
    *libgcc* | *libstdc* | *libwinpthread*) echo "the DLL needs a mingw runtime DLL"; exit 1 ;;
esac
