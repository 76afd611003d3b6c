#!/bin/sh
# Makes the release archive with CPack and checks that it holds exactly the
# expected files, and that the library in it is the one just built.
#   package_test.sh CMAKE CPACK CPACK_CONFIG ARCHIVE BUILT_LIBRARY EXPECTED_ENTRY...
# Entries are relative to the archive's top folder; BUILT_LIBRARY is
# compared with the entry of the same file name.
set -eu
cmake=$1 cpack=$2 config=$3 archive=$4 library=$5
shift 5
scratch=$(dirname "$archive")/../package-check

rm -rf "$archive" "$scratch"
mkdir -p "$(dirname "$archive")" "$scratch"
"$cpack" --config "$config" >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
[ -f "$archive" ] || { echo "CPack made no $archive"; cat "$scratch/cpack.log"; exit 1; }

top=$(basename "$archive")
top=${top%.zip}
top=${top%.tar.gz}
printf '%s\n' "$@" | sed "s|^|$top/|" | sort >"$scratch/expected"
"$cmake" -E tar tf "$archive" | grep -v '/$' | sort >"$scratch/listed"
if ! cmp -s "$scratch/expected" "$scratch/listed"; then
    echo "$archive does not hold what it should (- expected, + found):"
    diff -u "$scratch/expected" "$scratch/listed" | sed -n '3,$p'
    exit 1
fi

(cd "$scratch" && "$cmake" -E tar xf "$archive")
packed=$(find "$scratch/$top" -name "$(basename "$library")")
cmp "$library" "$packed" || { echo "the archive's $(basename "$library") is not the built one"; exit 1; }
case $archive in
    *.tar.gz)
        [ "$(readlink "$(dirname "$packed")/libzarvo_data_plugin.so.1")" = "$(basename "$library")" ] ||
            { echo "libzarvo_data_plugin.so.1 does not link to $(basename "$library")"; exit 1; } ;;
esac
echo "$archive: $(wc -c <"$archive") bytes, $# files"
