#!/usr/bin/env bash
# tests/consumers/user_setup_check.sh PREFIX SOURCE_DIR: what the main job promises a
# user, in the home this runs in (tests/support/isolated gives it one): with an old
# registration already in the user's store, scripts/register-install makes the Orvik
# at PREFIX the one every client finds with no variable set: the example client, a
# python3 started anywhere, and a CMake project of the user's. Registering twice
# gives the same store; --remove takes the registration and the .pth out again.
set -euo pipefail
prefix=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "user_setup_check: $*" >&2
    exit 1
}
case "$HOME" in /tmp/*) ;; *) fail "run me through tests/support/isolated (HOME is $HOME)" ;; esac
env | grep -q '^ORVIK_' && fail "ORVIK_ variables are set"

module=$(find "$prefix" -name liborvik.so -path '*/lib*' | head -n 1)
mkdir -p "$work/old"
cp "$module" "$work/old/liborvik.so"
"$prefix/bin/orvik-regsvr" "$work/old/liborvik.so" >/dev/null

"$source_dir/scripts/register-install" "$prefix"
store=$("$prefix/bin/orvik-reg" store)
test "$store" = "$HOME/.local/share/orvik/registry.db" || fail "the store is $store"
"$prefix/bin/orvik-reg" export >"$work/first.reg"
grep -qF "$module" "$work/first.reg" || fail "the store does not name $module"
grep -qF "$work/old/liborvik.so" "$work/first.reg" && fail "the old registration is still there"

cd "$work"
"$prefix/bin/orvik-example" >"$work/example.out" || fail "orvik-example failed"
test "$(env -u PYTHONPATH python3 -c 'import orvik; p = orvik.Dispatch("Orvik.Point"); p.Set(1, 2, 3); print(p.Y)')" = 2.0 ||
    fail "python3 does not find orvik"
cmake -S "$prefix/share/doc/orvik/cpp-example" -B "$work/cpp" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cpp" >/dev/null
"$work/cpp/cpp-example" | grep -q '^to (4, 6, 3), distance 5$' || fail "the C++ example failed"

"$source_dir/scripts/register-install" "$prefix" >/dev/null
"$prefix/bin/orvik-reg" export >"$work/second.reg"
cmp -s "$work/first.reg" "$work/second.reg" || fail "registering again changed the store"

"$source_dir/scripts/register-install" "$prefix" --remove
"$prefix/bin/orvik-reg" query 'HKEY_CLASSES_ROOT\Orvik.Point' >/dev/null 2>&1 &&
    fail "Orvik.Point is still registered"
env -u PYTHONPATH python3 -c 'import orvik' 2>/dev/null && fail "the .pth is still there"
echo "user set-up: registered, found by C++, Python and the tools, registered again alike, removed"
