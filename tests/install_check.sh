#!/usr/bin/env bash
# tests/install_check.sh: the installed prefix stands alone. Installs the build into a
# fresh prefix, compiles and runs a C client using only what pkg-config reports, then
# the C++ clients of tests/consumers.
set -euo pipefail
build_dir=$1
source_dir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
test "$(realpath "$(pkg-config --variable=libdir orvik)")" = "$(realpath "$prefix/lib")"
test -f "$prefix/include/orvik/orvik_i.h"
test -x "$prefix/bin/orvik-idlc"
test -x "$prefix/bin/orvik-rescomp"
test -f "$prefix/share/doc/orvik/LICENSE"
test -f "$prefix/share/man/man1/orvik-reg.1"
# The Python package carries py.typed and the stub written from the module's classes.
package=$(dirname "$(find "$prefix" -path '*/site-packages/orvik/__init__.py' | head -n 1)")
test -f "$package/py.typed"
grep -q '^class IPoint(Dispatch):' "$package/__init__.pyi"
grep -q 'target: Literal\["Orvik.Point"\]) -> "IPoint"' "$package/__init__.pyi"
cc -std=c99 -Wall -Wpedantic -Werror -o "$prefix/client" \
   "$source_dir/tests/clients/c_header_check.c" $(pkg-config --cflags --libs orvik) \
   -Wl,-rpath,"$prefix/lib"
"$prefix/client"
"$source_dir/tests/consumers/consumer_check.sh" "$prefix" "$source_dir"
