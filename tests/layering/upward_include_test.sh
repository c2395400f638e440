#!/usr/bin/env bash
# tests/layering/upward_include_test.sh: the layering check passes on the tree and
# fails on a tree with one upward include, in a source file and in a header, and on a
# file whose banner or guard names another path.
set -uo pipefail
check=$1
source_dir=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
status=0

python3 "$check" "$source_dir" >"$dir/tree.log" || { cat "$dir/tree.log"; status=1; }

mkdir -p "$dir/a/server" "$dir/a/geometry" "$dir/b/platform/src"
printf '// geometry/point.cpp: a point\n#include "server/module.h"\n#include "orvik/orvik_i.h"\n' \
    >"$dir/a/geometry/point.cpp"
printf '#include "geometry/point.h"\n// server/module.h: the module\n' >"$dir/a/server/module.h"
printf '// platform/src/reader.cpp: a reader\n#include "orvik/orvik_i.h"\n' \
    >"$dir/b/platform/src/reader.cpp"
mkdir -p "$dir/c/server" "$dir/c/platform/include/orvik/platform"
printf '// server/old_name.cpp: moved without its banner\n' >"$dir/c/server/new_name.cpp"
printf '// server/frame.h: the frame\n#ifndef ORVIK_SERVER_OLD_H\n#define ORVIK_SERVER_OLD_H\n#endif\n' \
    >"$dir/c/server/frame.h"
printf '// orvik/platform/ok.h: fine\n#ifndef ORVIK_PLATFORM_OK_H\n#define ORVIK_PLATFORM_OK_H\n#endif\n' \
    >"$dir/c/platform/include/orvik/platform/ok.h"
for tree in a b c; do
    if python3 "$check" "$dir/$tree" >"$dir/$tree.log"; then
        echo "FAILED: an upward include in tree $tree went unnoticed"; status=1
    fi
done
grep -q 'server/module.h:1: server includes geometry/point.h' "$dir/a.log" ||
    { echo "FAILED: the report does not name the line"; cat "$dir/a.log"; status=1; }
grep -q 'geometry/point.cpp' "$dir/a.log" &&
    { echo "FAILED: a downward include was reported"; status=1; }
grep -q 'server/module.h:1: no banner naming server/module.h' "$dir/a.log" ||
    { echo "FAILED: a file without a banner went unnoticed"; cat "$dir/a.log"; status=1; }
grep -q 'server/new_name.cpp:1: the banner names server/old_name.cpp' "$dir/c.log" ||
    { echo "FAILED: a banner naming another path went unnoticed"; cat "$dir/c.log"; status=1; }
grep -q 'server/frame.h: the include guard is ORVIK_SERVER_OLD_H, not ORVIK_SERVER_FRAME_H' \
    "$dir/c.log" || { echo "FAILED: a guard naming another path went unnoticed"; status=1; }
grep -q 'ok.h' "$dir/c.log" && { echo "FAILED: a public header's own path was refused"; status=1; }
[ $status -eq 0 ] && echo "3 passed, 0 failed"
exit $status
