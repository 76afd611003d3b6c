#!/bin/sh
# Links a C host against zarvo_data_plugin.lib with lld-link, the way a host
# built with Microsoft's tools links, and runs it under wine next to the DLL.
#   lld_link_test.sh CC LLD_LINK LLVM_READOBJ IMPORT_LIBRARY INCLUDE_DIR MINGW_LIB_DIR SOURCE OUT.exe
#
# The C compiler is mingw-w64's, for its Windows headers, and only compiles.
# lld-link does the rest with no mingw start-up code: the program's entry is
# its own, msvcrt and kernel32 come from the system import libraries, and
# the plug-in from our import library alone.
set -eu
cc=$1 lld_link=$2 readobj=$3 implib=$4 include=$5 mingw_lib=$6 source=$7 exe=$8
obj=${exe%.exe}.obj

# The import library holds a short import record (the format of the Windows
# SDK's import libraries) for each export, binding its undecorated name in
# zarvo_data_plugin.dll, besides the import descriptor objects every import
# library has.
members=$("$readobj" "$implib")
for name in DataInitLayer DataRequest DataSetDownloadCallback DataSetEventCallback KvlPluginInfo; do
    printf '%s\n' "$members" | grep -A5 '^File: zarvo_data_plugin\.dll$' | tr '\n' ' ' |
        grep -q "Format: COFF-import-file Type: code Name type: noprefix Symbol: __imp__$name Symbol: _$name " ||
        { echo "$implib: no short import record for $name"; printf '%s\n' "$members"; exit 1; }
done

"$cc" -std=c11 -O2 -Wall -Wextra -Wpedantic -Werror -ffp-contract=off -msse2 -mfpmath=sse \
    -fno-stack-protector -D__USE_MINGW_ANSI_STDIO=0 -I"$include" -c "$source" -o "$obj"
# /safeseh:no: GCC's objects carry no table of safe exception handlers.
"$lld_link" /nologo /out:"$exe" /entry:host_entry /subsystem:console /nodefaultlib /safeseh:no \
    "$obj" "$implib" "$mingw_lib/libmsvcrt.a" "$mingw_lib/libkernel32.a"

# The program imports the plug-in by name from the DLL, as the loader sees it.
imports=$("$readobj" --coff-imports "$exe")
printf '%s\n' "$imports" | grep -q '^  Name: zarvo_data_plugin\.dll$' ||
    { echo "$exe does not import zarvo_data_plugin.dll"; printf '%s\n' "$imports"; exit 1; }

cd "$(dirname "$exe")"
WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine "./$(basename "$exe")"
