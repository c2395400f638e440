#!/usr/bin/env bash
# tests/tools/orvik_regsvr_test.sh: orvik-regsvr from the command line, on a scratch
# store: every exit status, a relative name registered as its absolute path.
set -uo pipefail
source "$(dirname "$0")/expect.sh"
regsvr=$1 reg=$2 module=$3 platform=$4
export ORVIK_REGISTRY=$dir/registry.db
point='HKCR\CLSID\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\InprocServer32'

"$regsvr" --help >/dev/null; expect "help exits 0" $? 0
"$regsvr" 2>/dev/null; expect "no module is a usage error" $? 1
"$regsvr" -x "$module" 2>/dev/null; expect "an unknown option is a usage error" $? 1
"$regsvr" "$module" "$module" 2>/dev/null; expect "two modules are a usage error" $? 1

err=$("$regsvr" -u "$module" 2>&1); rc=$?
expect "unregistering what was never registered fails as the platform does" $rc 5
expect "and says what that means" "$(grep -c "is not registered in $dir/registry.db: was the module registered there?" <<<"$err")" 1
"$regsvr" "$dir/missing.so" 2>/dev/null; expect "a missing file cannot be loaded" $? 3
echo "not a module" > "$dir/text.so"
"$regsvr" "$dir/text.so" 2>/dev/null; expect "a text file cannot be loaded" $? 3
err=$("$regsvr" "$platform" 2>&1); rc=$?
expect "a library without the entry point" $rc 4
expect "the message names the entry point" "$(grep -c DllRegisterServer <<<"$err")" 1

# A copy whose Matrix script names no root: the entry point fails, and says how.
cp "$module" "$dir/liborvik.so"
python3 - "$dir/liborvik.so" <<'PY'
import sys
path = sys.argv[1]
data = open(path, 'rb').read()
data = data.replace(b'HKCR\r\n{\r\n\tOrvik.Matrix.1', b'HKXX\r\n{\r\n\tOrvik.Matrix.1')
open(path, 'wb').write(data)
PY
err=$("$regsvr" "$dir/liborvik.so" 2>&1); rc=$?
expect "a failing entry point" $rc 5
real=$(cd "$dir" && pwd -P)
expect "the message says which script, where and why" "$err" \
    "$real/liborvik.so(REGISTRY 104):1:1: unknown root key 'HKXX'
orvik-regsvr: DllRegisterServer in $real/liborvik.so failed: Exception occurred. (DISP_E_EXCEPTION, 0x80020009)"
out=$("$regsvr" -s "$dir/liborvik.so" 2>&1); rc=$?
expect "silent failure still exits 5" $rc 5
expect "silent prints nothing" "$out" ""

# A relative name is registered as the absolute path; /u takes it back.
mkdir "$dir/work" && cp "$module" "$dir/work/liborvik.so"
out=$(cd "$dir/work" && "$regsvr" liborvik.so); rc=$?
expect "register exits 0" $rc 0
expect "register says so" "$(grep -c succeeded <<<"$out")" 1
out=$("$reg" query "$point" '')
expect "the absolute path" "$out" "@=\"$(cd "$dir/work" && pwd -P)/liborvik.so\""
(cd "$dir/work" && "$regsvr" /u /s liborvik.so); rc=$?
expect "unregister exits 0" $rc 0
"$reg" query "$point" >/dev/null 2>&1; expect "the class is gone" $? 1

# A folder whose name is not UTF-8 cannot be written to the registry as text: the
# message names that cause, not memory.
odd=$(printf '%s/odd\377name' "$dir")
mkdir "$odd" && cp "$module" "$odd/liborvik.so"
err=$("$regsvr" "$odd/liborvik.so" 2>&1); rc=$?
expect "a path that is not text fails" $rc 5
expect "the cause is the text" "$(grep -c 'ERROR_NO_UNICODE_TRANSLATION' <<<"$err")" 1

finish
