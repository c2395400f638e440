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

# Data holding a line break cannot end its line: it is written as hex(1), and no
# forged key appears. An export imported into an emptied store reads back the same.
printf "HKCU { Forge { val v = s 'x\n[HKEY_LOCAL_MACHINE\\\\Evil]\n@=\"forged\"' } }" > "$dir/forge.rgs"
"$reg" script --register "$dir/forge.rgs"; expect "forging script" $? 0
out=$("$reg" export 'HKCU\Forge')
expect "line breaks in data are hex" "$out" $'REGEDIT4\n\n[HKEY_CURRENT_USER\\Forge]\n"v"=hex(1):78,0a,5b,48,4b,45,59,5f,4c,4f,43,41,4c,5f,4d,41,43,48,49,4e,45,5c,45,76,69,6c,5d,0a,40,3d,22,66,6f,72,67,65,64,22,00'
"$reg" export HKCU > "$dir/before.reg"; expect "export to a file" $? 0
"$reg" delete 'HKCU\Forge' && "$reg" delete 'HKCU\Types'; expect "emptied" $? 0
"$reg" import "$dir/before.reg"; expect "import exits 0" $? 0
expect "the export reads back as stored" "$("$reg" export HKCU)" "$(cat "$dir/before.reg")"
"$reg" query 'HKLM\Evil' 2>/dev/null; expect "no forged key" $? 1

# Text as regedit writes it, by hand: escapes, a hex list continued on the next
# line, an expandable string, and the two removals.
printf 'HKCU { Removed { Below } Hand { val gone = s x } }' > "$dir/hand.rgs"
"$reg" script --register "$dir/hand.rgs"; expect "keys to remove" $? 0
printf 'REGEDIT4\r\n\r\n; a comment\r\n[HKEY_CURRENT_USER\\Hand]\r\n@="default"\r\n"s"="a \\"quoted\\" \\\\ path"\r\n"d"=dword:0000002a\r\n"b"=hex:de,ad,\\\r\n  be,ef\r\n"e"=hex(2):25,00\r\n"gone"=-\r\n\r\n[-HKEY_CURRENT_USER\\Removed]\r\n' > "$dir/hand.reg"
"$reg" import "$dir/hand.reg"; expect "hand-written import" $? 0
out=$("$reg" export 'HKCU\Hand')
expect "hand-written values" "$out" $'REGEDIT4\n\n[HKEY_CURRENT_USER\\Hand]\n@="default"\n"s"="a \\"quoted\\" \\\\ path"\n"d"=dword:0000002a\n"b"=hex:de,ad,be,ef\n"e"=hex(2):25,00'
"$reg" query 'HKCU\Removed' 2>/dev/null; expect "removed key" $? 1
printf 'REGEDIT4\n[HKEY_CURRENT_USER\\X]\n"v"=hex:zz\n' > "$dir/bad.reg"
err=$("$reg" import "$dir/bad.reg" 2>&1); rc=$?
expect "a broken file exits 1" $rc 1
expect "and names its line" "$err" "$dir/bad.reg:3: a hex list is two-digit bytes separated by commas"
"$reg" query 'HKCU\X' 2>/dev/null; expect "a broken file writes nothing" $? 1

# A name the text cannot hold is refused by name, not written raw.
printf "HKCU { 'line\nbreak' }" > "$dir/name.rgs"
"$reg" script --register "$dir/name.rgs"; expect "a key named with a line break" $? 0
err=$("$reg" export HKCU 2>&1); rc=$?
expect "its export exits 1" $rc 1
case "$err" in *'HKEY_CURRENT_USER\line\x0Abreak'*) ok=yes ;; *) ok="$err" ;; esac
expect "the message names it" "$ok" yes
"$reg" delete $'HKCU\\line\nbreak'; expect "removed again" $? 0

# A chain of 200,000 keys written into the store file by hand: export names where it
# goes deeper than any store holds instead of walking it.
printf 'HKCU { Deep }' > "$dir/deep.rgs"
"$reg" script --register "$dir/deep.rgs"; expect "a key to hang the chain on" $? 0
python3 - "$ORVIK_REGISTRY" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
top = db.execute("SELECT id FROM keys WHERE fold = 'deep'").fetchone()[0]
db.executemany("INSERT INTO keys(id, parent, name, fold) VALUES(?, ?, 'level', 'level')",
               ((1000000 + n, top if n == 1 else 1000000 + n - 1) for n in range(1, 200001)))
db.commit()
PY
err=$("$reg" export 'HKCU\Deep' 2>&1 >/dev/null); rc=$?
expect "a chain too deep exits 1" $rc 1
case "$err" in *'keys nested deeper than a store can hold, at HKEY_CURRENT_USER\Deep\level\level'*'ERROR_REGISTRY_CORRUPT'*) ok=yes ;; *) ok="$err" ;; esac
expect "and says where" "$ok" yes
"$reg" delete 'HKCU\Deep' 2>/dev/null; expect "its delete is refused" $? 1

printf 'HKCU\n{\n\tBroken = x 1\n}\n' > "$dir/broken.rgs"
err=$("$reg" script --register "$dir/broken.rgs" 2>&1); rc=$?
expect "failing script exits 1" $rc 1
expect "failure says where, why, and the result code" "$err" \
    "$dir/broken.rgs:3:11: unknown value type 'x' (expected s, m, d or b)
orvik-reg: registration failed: Exception occurred. (DISP_E_EXCEPTION, 0x80020009)"
printf 'HKCU { Broken = s %%MODULEX%% }' > "$dir/unknown.rgs"
err=$("$reg" script --unregister "$dir/unknown.rgs" --var MODULE=x 2>&1)
expect "an unknown variable, in unregistration too" "$(head -1 <<<"$err")" \
    "$dir/unknown.rgs:1:19: unknown variable %MODULEX%"

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
