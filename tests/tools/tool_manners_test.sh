#!/usr/bin/env bash
# tests/tools/tool_manners_test.sh: what every tool does alike: --version, -h, a usage
# error (status 2; orvik-regsvr keeps the registration tool's 1), a failure in words
# with the code's name and value, "-" for standard output, and reading commands that
# never create a store.
set -uo pipefail
source "$(dirname "$0")/expect.sh"
idlc=$1 reg=$2 regsvr=$3 rescomp=$4 tlbdump=$5 idl=$6 version=$7 example=$8
export ORVIK_REGISTRY=$dir/registry.db

for tool in "$idlc" "$reg" "$regsvr" "$rescomp" "$tlbdump"; do
    name=$(basename "$tool")
    out=$("$tool" --version 2>"$dir/err"); rc=$?
    expect "$name --version exits 0" $rc 0
    expect "$name --version names the versions" "$out" \
        "$name (Orvik) $version
platform library $version"
    expect "$name --version writes nothing to standard error" "$(cat "$dir/err")" ""
    out=$("$tool" -h 2>"$dir/err"); rc=$?
    expect "$name -h exits 0" $rc 0
    expect "$name -h shows its usage on standard output" "${out:0:$((7 + ${#name}))}" "usage: $name"
    expect "$name -h writes nothing to standard error" "$(cat "$dir/err")" ""
    out=$("$tool" --no-such-option 2>"$dir/err"); rc=$?
    want=2
    [ "$name" = orvik-regsvr ] && want=1
    expect "$name usage error exit status" $rc $want
    expect "$name usage error leaves standard output empty" "$out" ""
    expect "$name usage error shows the usage" "$(grep -c "^usage: $name" "$dir/err")" 1
done

# Failures in words, on standard error, status 1.
err=$("$idlc" --header "$dir/x.h" "$dir/missing.idl" 2>&1 >/dev/null); rc=$?
expect "orvik-idlc failure status" $rc 1
expect "orvik-idlc failure message" "$err" \
    "orvik-idlc: cannot read $dir/missing.idl: No such file or directory"
err=$("$rescomp" --out "$dir/x.res" --typelib "1=$dir/missing.tlb" 2>&1 >/dev/null); rc=$?
expect "orvik-rescomp failure status" $rc 1
expect "orvik-rescomp failure message" "$err" "orvik-rescomp: cannot read the library $dir/missing.tlb"
printf 'not a module\n' > "$dir/text.so"
err=$("$regsvr" "$dir/text.so" 2>&1 >/dev/null); rc=$?
expect "orvik-regsvr keeps its own status for a file it cannot load" $rc 3
expect "orvik-regsvr failure message" "$err" \
    "orvik-regsvr: cannot load $dir/text.so: The file is not a valid module. (HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), 0x800700C1)"

# Reading commands refuse a store that does not exist, and leave none behind.
for command in "query HKCR" "export"; do
    err=$($reg $command 2>&1 >/dev/null); rc=$?
    expect "orvik-reg $command without a store fails" $rc 1
    expect "orvik-reg $command names the missing store" "$err" \
        "orvik-reg: no registry store at $dir/registry.db"
    expect "orvik-reg $command creates no store" "$(ls "$dir" | grep -c registry)" 0
done

# The module path a script stores is absolute and normal, whatever was given.
mkdir -p "$dir/scripts" "$dir/lib"
printf "HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove Example = s '%%MODULE%%'\r\n\t}\r\n}\r\n" \
    > "$dir/scripts/example.rgs"
(cd "$dir/scripts" && "$reg" script --register example.rgs --var MODULE=../lib/./m.so); rc=$?
expect "orvik-reg script with a relative module exits 0" $rc 0
expect "the stored module path is absolute and normal" \
    "$("$reg" query 'HKCR\CLSID\Example' '')" "@=\"$dir/lib/m.so\""
for command in query delete export; do
    err=$("$reg" $command 'HKCR\Nothing' 2>&1 >/dev/null); rc=$?
    expect "orvik-reg $command of a missing key" "$rc: $err" \
        "1: orvik-reg: no key HKEY_CLASSES_ROOT\\Nothing in $dir/registry.db"
done

# "-" is standard output wherever a tool writes a file.
# (Files named as the definition's own, whose names the include guards follow.)
"$idlc" --header "$dir/orvik_i.h" --cpp "$dir/orvik.hpp" --tlb "$dir/a.tlb" "$idl"
"$idlc" --header - "$idl" > "$dir/stdout_i.h"
"$idlc" --tlb - "$idl" > "$dir/stdout.tlb"
"$idlc" --header "$dir/orvik_i.h" --cpp - "$idl" > "$dir/stdout.hpp"
expect "orvik-idlc --header - gives the header" "$(cmp -s "$dir/orvik_i.h" "$dir/stdout_i.h"; echo $?)" 0
expect "orvik-idlc --tlb - gives the library's bytes" \
    "$(cmp -s "$dir/a.tlb" "$dir/stdout.tlb"; echo $?)" 0
expect "orvik-idlc --cpp - gives the C++ layer" "$(cmp -s "$dir/orvik.hpp" "$dir/stdout.hpp"; echo $?)" 0
"$rescomp" --out "$dir/a.res" --string 1=Orvik --version 1.2.3.4
"$rescomp" --out - --string 1=Orvik --version 1.2.3.4 > "$dir/stdout.res"
expect "orvik-rescomp --out - gives the resource file" \
    "$(cmp -s "$dir/a.res" "$dir/stdout.res"; echo $?)" 0
expect "no temporary file is left" "$(ls "$dir" | grep -c '\.tmp')" 0

# Each edge in words of its own.
err=$("$tlbdump" --bogus 2>&1 | head -1)
expect "orvik-tlbdump names an unknown option" "$err" "orvik-tlbdump: unknown option '--bogus'"
err=$("$idlc" --header 2>&1 | head -1)
expect "orvik-idlc option without its file" "$err" \
    "orvik-idlc: --header needs a file (or - for standard output)"
err=$("$idlc" "$idl" 2>&1 | head -1); rc=${PIPESTATUS[0]}
expect "orvik-idlc with nothing to write" "$rc: $err" \
    "2: orvik-idlc: nothing to write: give --header, --cpp, --tlb or --list"
printf 'interface \001\x89' > "$dir/garbage.idl"
err=$("$idlc" --list "$dir/garbage.idl" 2>&1)
expect "orvik-idlc shows a byte that is not text by its value" "$err" \
    "$dir/garbage.idl:1:11: unexpected byte 0x01 (not text)"
out=$("$example" --version); rc=$?
expect "orvik-example --version" "$rc: $(head -1 <<<"$out")" "0: orvik-example (Orvik)"
out=$("$example" -h); rc=$?
expect "orvik-example -h" "$rc: $(head -1 <<<"$out")" "0: usage: orvik-example"
"$example" --bogus >/dev/null 2>&1; expect "orvik-example usage error" $? 2

finish
