#!/usr/bin/env bash
# tests/consumers/consumer_check.sh PREFIX SOURCE_DIR: clients outside the tree built
# against the Orvik installed at PREFIX, one through pkg-config and one through
# find_package, run first with an empty registry (objects from the module file the
# package names) and then with the module registered by the prefix's orvik-regsvr.
set -euo pipefail
prefix=$(realpath "$1")
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ORVIK_REGISTRY=$work/registry.db
unset ORVIK_MODULE

pc=$(find "$prefix" -name orvik.pc -path '*/pkgconfig/*' | head -n 1)
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(realpath "$(pkg-config --variable=libdir orvik)")
module=$(pkg-config --variable=module orvik)
test "$(dirname "$(realpath "$pc")")" = "$libdir/pkgconfig"
test -f "$module"
if pkg-config --libs orvik | grep -q rpath; then
    echo "orvik.pc forces an rpath on its consumers" >&2
    exit 1
fi

# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -o "$work/by-pkg-config" \
    "$source_dir/tests/consumers/consumer.cpp" $(pkg-config --cflags orvik) \
    "-DORVIK_MODULE_PATH=\"$module\"" $(pkg-config --libs orvik) -Wl,-rpath,"$libdir"
cmake -S "$source_dir/tests/consumers" -B "$work/by-find-package" -G Ninja \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/by-find-package" >/dev/null

expected="1.5 2.25 3.125
IMatrix.Element failed: The parameter is incorrect. (E_INVALIDARG, 0x80070057)"
for mode in unregistered registered; do
    if [ $mode = registered ]; then
        "$prefix/bin/orvik-regsvr" "$module" >/dev/null
    fi
    for client in "$work/by-pkg-config" "$work/by-find-package/consumer"; do
        got=$("$client" $mode)
        if [ "$got" != "$expected" ]; then
            printf '%s (%s) printed:\n%s\n' "$client" $mode "$got" >&2
            exit 1
        fi
    done
done
echo "consumers built and ran against $prefix"
