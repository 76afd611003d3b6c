#!/bin/sh
# Installs the build tree into a scratch prefix, then builds and runs the
# consumer host against that prefix twice: through the CMake package and
# through pkg-config. Nothing of the build or source tree is on the paths.
#   consumer_test.sh CMAKE BUILD_DIR SCRATCH_DIR CONSUMER_SOURCE C_COMPILER
set -eu
cmake=$1 build=$2 scratch=$3 source=$4 cc=$5
prefix=$scratch/prefix

rm -rf "$scratch"
mkdir -p "$scratch"
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; exit 1; }

# The host records the SONAME, so it keeps running with any 1.x library.
needs_soname() {
    readelf -d "$1" | grep -q 'NEEDED.*\[libzarvo_data_plugin\.so\.1\]' ||
        { echo "$1 does not record libzarvo_data_plugin.so.1"; readelf -d "$1" | grep NEEDED; exit 1; }
}

echo "== through the CMake package"
"$cmake" -S "$source" -B "$scratch/cmake-build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$scratch/configure.log" ||
    { cat "$scratch/configure.log"; exit 1; }
"$cmake" --build "$scratch/cmake-build" >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
needs_soname "$scratch/cmake-build/zarvo_consumer"
"$scratch/cmake-build/zarvo_consumer"

echo "== through pkg-config"
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name zarvo-data-plugin.pc)")
export PKG_CONFIG_PATH
version=$(pkg-config --modversion zarvo-data-plugin)
libdir=$(pkg-config --variable=libdir zarvo-data-plugin)
# shellcheck disable=SC2046 # the flags are words
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror -DZARVO_PACKAGE_VERSION="\"$version\"" \
    "$source/consumer.c" $(pkg-config --cflags --libs zarvo-data-plugin) \
    -o "$scratch/pkg-config-consumer"
needs_soname "$scratch/pkg-config-consumer"
LD_LIBRARY_PATH="$libdir" "$scratch/pkg-config-consumer"
