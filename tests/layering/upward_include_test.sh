#!/usr/bin/env bash
# tests/layering/upward_include_test.sh: the layering check passes on the tree and
# fails on a tree with one upward include, in a source file and in a header.
set -uo pipefail
check=$1
source_dir=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
status=0

python3 "$check" "$source_dir" >"$dir/tree.log" || { cat "$dir/tree.log"; status=1; }

mkdir -p "$dir/a/server" "$dir/a/geometry" "$dir/b/platform/src"
printf '#include "server/module.h"\n#include "orvik/orvik_i.h"\n' >"$dir/a/geometry/point.cpp"
printf '#include "geometry/point.h"\n' >"$dir/a/server/module.h"
printf '#include "orvik/orvik_i.h"\n' >"$dir/b/platform/src/reader.cpp"
for tree in a b; do
    if python3 "$check" "$dir/$tree" >"$dir/$tree.log"; then
        echo "FAILED: an upward include in tree $tree went unnoticed"; status=1
    fi
done
grep -q 'server/module.h:1: server includes geometry/point.h' "$dir/a.log" ||
    { echo "FAILED: the report does not name the line"; cat "$dir/a.log"; status=1; }
grep -q 'geometry/point.cpp' "$dir/a.log" &&
    { echo "FAILED: a downward include was reported"; status=1; }
[ $status -eq 0 ] && echo "2 passed, 0 failed"
exit $status
