#!/usr/bin/env bash
# tests/tools/orvik_reg_test.sh: orvik-reg from the command line, on a scratch store.
set -uo pipefail
source "$(dirname "$0")/expect.sh"
reg=$1
scripts=$2
export ORVIK_REGISTRY=$dir/registry.db

"$reg" --help >/dev/null; expect "help exits 0" $? 0
"$reg" 2>/dev/null; expect "no command is a usage error" $? 2
"$reg" frobnicate 2>/dev/null; expect "unknown command is a usage error" $? 2
"$reg" query NOTAROOT\\x 2>/dev/null; expect "unknown root is a usage error" $? 2

"$reg" script --register "$scripts/Point.rgs" --var APPID= --var "Module=/opt/it''s/liborvik.so"
expect "register exits 0" $? 0
out=$("$reg" query 'HKCR\Orvik.Point\CurVer')
expect "query lists the default value" "$out" $'[HKEY_CLASSES_ROOT\\Orvik.Point\\CurVer]\n@="Orvik.Point.1"'
out=$("$reg" query 'HKCR\CLSID\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\InprocServer32' threadingmodel)
expect "query one value" "$out" '"ThreadingModel"="Apartment"'
out=$("$reg" query 'HKCR\CLSID\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\InprocServer32' '')
expect "module path with a quote" "$out" "@=\"/opt/it's/liborvik.so\""

out=$("$reg" export 'HKCR\Orvik.Point')
expect "export of a key" "$out" $'REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Orvik.Point]\n@="Point Class"\n\n[HKEY_CLASSES_ROOT\\Orvik.Point\\CLSID]\n@="{283075AE-B177-11D3-BE8E-0060B0EB1D67}"\n\n[HKEY_CLASSES_ROOT\\Orvik.Point\\CurVer]\n@="Orvik.Point.1"'

printf 'HKCU { Types { val d = d 10 val b = b 0aff val m = m %s val q = s %s } }' "'a\\0b'" "'say \"hi\" \\ ok'" > "$dir/types.rgs"
"$reg" script --register "$dir/types.rgs"; expect "types script" $? 0
out=$("$reg" export 'HKCU\Types')
expect "value forms" "$out" $'REGEDIT4\n\n[HKEY_CURRENT_USER\\Types]\n"d"=dword:0000000a\n"b"=hex:0a,ff\n"m"=hex(7):61,00,62,00,00\n"q"="say \\"hi\\" \\\\ ok"'

printf 'HKCU { Broken = x 1 }' > "$dir/broken.rgs"
err=$("$reg" script --register "$dir/broken.rgs" 2>&1); rc=$?
expect "failing script exits 1" $rc 1
expect "failure names the result code" "$err" \
    "orvik-reg: registration failed: Exception occurred. (DISP_E_EXCEPTION, 0x80020009)"

"$reg" delete 'HKCR\Orvik.Point'; expect "delete exits 0" $? 0
"$reg" query 'HKCR\Orvik.Point' 2>/dev/null; expect "deleted key is gone" $? 1
"$reg" script --unregister "$scripts/Point.rgs" --var Module=x; expect "unregister exits 0" $? 0
out=$("$reg" export HKCR)
expect "only CLSID stays" "$out" $'REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID]'

# A store that cannot be used is named with the reason.
echo "plain text" > "$dir/text.db"
err=$(ORVIK_REGISTRY="$dir/text.db" "$reg" export 2>&1); rc=$?
expect "a file that is no store exits 1" $rc 1
expect "the message names the store and why" "$err" \
    "orvik-reg: export HKEY_CLASSES_ROOT (store $dir/text.db: not a registry store): The configuration registry database is corrupt. (HRESULT_FROM_WIN32(ERROR_BADDB), 0x800703F1)"
expect "the file is left alone" "$(cat "$dir/text.db")" "plain text"

finish
