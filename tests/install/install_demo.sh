#!/bin/sh
# Installs the build into a scratch prefix and uses the installed tree as a studio would, with no
# build folder on any path:
# - a copy of demo/ made elsewhere, with its locator written as `make demo` writes it, packs with
#   the build's zqpack: these are the reference bytes;
# - the installed zqpack finds its plug-in without --plugin and packs a copy of the installed demo
#   into the same bytes; fxcheck and fxdump --project find the module through its locator;
# - a CMake project finds the package with find_package(Embervise) and packs the demo again.
# Usage: install_demo.sh CMAKE BUILD_DIR SOURCE_DIR [NINJA]
set -u
if [ $# -lt 3 ]; then
    echo "usage: $0 CMAKE BUILD_DIR SOURCE_DIR [NINJA]" >&2
    exit 2
fi
cmake=$1
build=$(cd "$2" && pwd) || exit 1
src=$3
ninja=${4:-}
# Outside the build folder, so that no path into it is needed or found.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/embervise-install.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

fail() {
    echo "install test: $*" >&2
    exit 1
}
# Only system folders on PATH; each run keeps its pack records in the scratch folder.
run() {
    env -i PATH=/usr/bin:/bin HOME="$scratch" ZQPACK_CACHE_DIR="$scratch/cache" "$@"
}
# The effect sources of a demo folder copied to $2, without packed files or locator.
copy_sources() {
    mkdir -p "$2"
    (cd "$1" && find . -type f \( -name '*.Fx00a' -o -name '*.Fx00c' \)) | while read -r file; do
        mkdir -p "$2/$(dirname "$file")" && cp "$1/$file" "$2/$file"
    done
}
# Every source below $1 has a packed file equal to the one below $2.
same_packs() {
    n=0
    for source in $(cd "$1" && find . -name '*.Fx00a' -o -name '*.Fx00c' | sort); do
        packed=${source%.*}.Fx00p
        [ -f "$1/$packed" ] || fail "$3: $packed was not packed"
        cmp "$1/$packed" "$2/$packed" || fail "$3: $packed differs from the build's"
        n=$((n + 1))
    done
    [ "$n" -ge 12 ] || fail "$3: only $n sources"
}

"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; }
for file in bin/zqpack bin/fxcheck bin/fxdump bin/zqa lib/embervise/Embervise.so lib/embervise/sparkrig_sample.so \
    lib/cmake/Embervise/Embervise.cmake lib/cmake/Embervise/EmberviseConfig.cmake share/embervise/demo/demo.proj00; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
if grep -rF "$build" "$prefix/share" "$prefix/lib/cmake"; then
    fail "installed files name the build folder"
fi

copy_sources "$src/demo" "$scratch/copied-demo"
"$cmake" -DEMBERVISE_DEMO_LOCATOR="$scratch/copied-demo/demo.proj00" -DEMBERVISE_DEMO_TOOLS="$build/bin" \
    -DEMBERVISE_DEMO_MODULES="$build/bin" -P "$src/cmake/EmberviseDemoLocator.cmake" || fail "no locator written"
run "$build/bin/zqpack" -q "$scratch/copied-demo" || fail "the build's zqpack fails on a copy of demo/"

cp -R "$prefix/share/embervise/demo" "$scratch/installed-demo"
run "$prefix/bin/zqpack" --list-packers >"$scratch/packers.txt" || fail "the installed zqpack finds no plug-in"
head -n 1 "$scratch/packers.txt" | grep -qxF "$prefix/lib/embervise/Embervise.so" ||
    fail "the installed zqpack loads another plug-in: $(head -n 1 "$scratch/packers.txt")"
run "$prefix/bin/zqpack" -q "$scratch/installed-demo" || fail "the installed zqpack fails on the installed demo"
same_packs "$scratch/installed-demo" "$scratch/copied-demo" "installed zqpack"

run "$prefix/bin/fxcheck" -q "$scratch/installed-demo" || fail "the installed fxcheck fails on the installed demo"
run "$prefix/bin/fxdump" --project --verify -q $(find "$scratch/installed-demo" -name '*.Fx00p' | sort) ||
    fail "the installed fxdump --project does not verify the packed demo"
run "$prefix/bin/zqa" check -q "$scratch/installed-demo" || fail "the installed zqa fails on the installed demo"

if [ -n "$ninja" ]; then
    game=$scratch/game
    copy_sources "$prefix/share/embervise/demo" "$game/demo"
    cp "$prefix/share/embervise/demo/demo.proj00" "$game/demo/"
    printf '%s\n' 'cmake_minimum_required(VERSION 3.20)' 'project(Game NONE)' \
        'find_package(Embervise 0.1 REQUIRED CONFIG)' 'embervise_pack_effects(effects demo)' >"$game/CMakeLists.txt"
    run "$cmake" -S "$game" -B "$game/build" -G Ninja -DCMAKE_MAKE_PROGRAM="$ninja" -DCMAKE_PREFIX_PATH="$prefix" \
        >"$scratch/game.log" 2>&1 || { cat "$scratch/game.log"; fail "find_package(Embervise) fails"; }
    run "$cmake" --build "$game/build" >"$scratch/game.log" 2>&1 ||
        { cat "$scratch/game.log"; fail "the project's effects target fails"; }
    same_packs "$game/demo" "$scratch/copied-demo" "find_package(Embervise)"
fi
echo "install test: the installed tree packs the demo into the build's bytes"
