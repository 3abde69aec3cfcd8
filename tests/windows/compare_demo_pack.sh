#!/bin/sh
# Packs a copy of the demo project twice, with the Linux zqpack and with zqpack.exe under Wine, and
# expects the same packed files, byte for byte.
#
# compare_demo_pack.sh WINE_RUN WINDOWS_BIN NATIVE_BIN DEMO_DIR SCRATCH_PARENT
# Exit status 77 (skipped) when there is no Linux build to compare with.
set -eu

wine_run=$1
windows_bin=$2
native_bin=$3
demo=$4
scratch_parent=$5

if [ ! -x "$native_bin/zqpack" ] || [ ! -f "$native_bin/Embervise.so" ] || [ ! -f "$native_bin/sparkrig_sample.so" ]; then
    echo "no Linux build in $native_bin to compare with (make build)"
    exit 77
fi

mkdir -p "$scratch_parent"
scratch=$(mktemp -d "$scratch_parent/demo-pack.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# One copy of the sources per side, each with a locator naming that side's effect module.
copy_demo() {
    mkdir -p "$scratch/$1"
    (cd "$demo" && find . -type f ! -name '*.Fx00p' | while read -r file; do
        mkdir -p "$scratch/$1/$(dirname "$file")"
        cp "$file" "$scratch/$1/$file"
    done)
    printf '[General]\r\nGame=Embervise Demo\r\n[Project Binaries]\r\nSparkrig=%s\r\n' "$2" \
        >"$scratch/$1/demo.proj00"
}
copy_demo linux "$native_bin/sparkrig_sample.dll"
windows_module=$("$wine_run" winepath -w "$windows_bin/sparkrig_sample.dll" | tr -d '\r')
copy_demo windows "$windows_module"

cd "$scratch"
"$native_bin/zqpack" -q linux || { echo "the Linux zqpack failed"; exit 1; }
# Two worker processes: the packed bytes must not depend on it.
"$wine_run" "$windows_bin/zqpack.exe" -q -j 2 windows || { echo "zqpack.exe failed"; exit 1; }

sources=$(cd linux && find . -name '*.Fx00[ac]' | sort)
linux_packed=$(cd linux && find . -name '*.Fx00p' | sort)
windows_packed=$(cd windows && find . -name '*.Fx00p' | sort)
count=$(printf '%s\n' "$sources" | grep -c .)
packed=$(printf '%s\n' "$linux_packed" | grep -c . || true)
if [ "$count" -eq 0 ] || [ "$packed" -ne "$count" ]; then
    echo "expected $count packed files from the Linux build, found $packed"
    exit 1
fi
if [ "$linux_packed" != "$windows_packed" ]; then
    echo "the two builds packed different sets of files:"
    printf 'Linux:\n%s\nWindows:\n%s\n' "$linux_packed" "$windows_packed"
    exit 1
fi
status=0
while read -r file; do
    cmp "linux/$file" "windows/$file" || status=1
done <<EOF
$linux_packed
EOF
[ $status -eq 0 ] && echo "$count packed files, identical on Linux and Windows"
exit $status
