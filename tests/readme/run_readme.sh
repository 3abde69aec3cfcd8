#!/usr/bin/env bash
# Tries the README as a new user would, on a copy of the source tree whose build/native/bin is the
# build under test:
# - packs the demo project first (what `make demo` does), so that packed files exist;
# - runs every line starting with "$ " in the ```sh blocks, in order, in one bash from the root of
#   the copy; a line ending in "\" continues on the next. Every command must exit with 0. A block
#   preceded by the line "<!-- readme-test: skip -->" is not run;
# - compiles the effect-module example (the ```c block) as C and as C++, and packs an effect with
#   the module it makes.
# Usage: run_readme.sh SOURCE_DIR BIN_DIR C_COMPILER CXX_COMPILER CMAKE
set -u
if [ $# -ne 5 ]; then
    echo "usage: $0 SOURCE_DIR BIN_DIR C_COMPILER CXX_COMPILER CMAKE" >&2
    exit 2
fi
src=$(cd "$1" && pwd) || exit 1
bin=$(cd "$2" && pwd) || exit 1
cc=$3
cxx=$4
cmake=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/embervise-readme.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/build/native"

# The files of a fresh clone: tracked and new ones, without what git ignores (builds, packed files).
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$src" && git ls-files -z -co --exclude-standard |
        tar --null --no-recursion --ignore-failed-read -T - -cf - 2>/dev/null) | tar -C "$root" -xf - || exit 1
else
    tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$root" -xf - || exit 1
fi
ln -s "$bin" "$root/build/native/bin"

fail() {
    echo "README test: $*" >&2
    exit 1
}

# make demo, as far as the README's commands need it.
(cd "$root" && build/native/bin/zqpack -q demo) || fail "packing the demo project failed"

# The commands, one per NUL-terminated record.
extract_commands() {
    awk '
        /^<!-- readme-test: skip -->[ \t]*$/ { skip = 1; next }
        !inblock && /^```sh[ \t]*$/ { inblock = 1; skipblock = skip; skip = 0; next }
        !inblock { skip = 0; next }
        /^```/ { inblock = 0; cont = 0; next }
        skipblock { next }
        cont { cmd = cmd "\n" $0; if ($0 !~ /\\$/) { printf "%s%c", cmd, 0; cont = 0 }; next }
        /^\$ / { cmd = substr($0, 3); if (cmd ~ /\\$/) cont = 1; else printf "%s%c", cmd, 0 }
    ' "$1"
}

script=$work/readme-commands.sh
{
    echo 'cd "$1" || exit 1'
    n=0
    while IFS= read -r -d '' cmd; do
        n=$((n + 1))
        printf 'printf "%%s\\n" %q\n' "\$ $cmd"
        printf '%s\n' "$cmd"
        printf 's=$?; if [ $s -ne 0 ]; then printf "README command %d exited with %%d: %%s\\n" $s %q >&2; exit 1; fi\n' \
            "$n" "$cmd"
    done < <(extract_commands "$root/README.md")
    echo "echo \"README test: $n commands ran\""
} >"$script"
grep -q '^echo "README test: 0 commands' "$script" && fail "no commands found in README.md"
bash "$script" "$root" </dev/null || fail "a command failed (see above)"

# The effect-module example, as C and as C++, each made into a module that packs an effect.
awk '/^```c[ \t]*$/ { inblock = 1; next } inblock && /^```/ { exit } inblock { print }' \
    "$root/README.md" >"$work/module.c"
[ -s "$work/module.c" ] || fail "no effect-module example (\`\`\`c block) in README.md"
inc=$root/Engine/sdk/inc
"$cc" -x c -std=c11 -Wall -Wextra -Werror -fPIC -shared -I"$inc" "$work/module.c" -o "$work/glow_c.so" ||
    fail "the effect-module example does not compile as C"
"$cxx" -x c++ -std=c++17 -Wall -Wextra -Werror -fPIC -shared -I"$inc" "$work/module.c" -o "$work/glow_cxx.so" ||
    fail "the effect-module example does not compile as C++"
for lang in c cxx; do
    project=$work/project_$lang
    mkdir -p "$project/fx"
    printf '[Project Binaries]\nSparkrig=%s\n' "$work/glow_$lang.so" >"$project/game.proj00"
    printf '%s\n' '(header (version 1))' \
        '(effect-tree (effect (name Pulse) (length 1000) (key-list (key (type Glow) (id 1) (track 0)' \
        '  (start-time 0) (end-time 1000) (properties (property (name Intensity) (type Float)' \
        '    (value-list (value (time 0) (data 2)) (value (time 1) (data 0))))))))))' >"$project/fx/pulse.Fx00a"
    "$bin/zqpack" -q "$project/fx/pulse.Fx00a" </dev/null ||
        fail "the module built from the example ($lang) does not pack an effect"
    [ -s "$project/fx/pulse.Fx00p" ] || fail "no packed file from the example module ($lang)"
done
echo "README test: the effect-module example builds as C and C++ and packs"
