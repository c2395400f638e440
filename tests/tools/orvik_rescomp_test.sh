#!/usr/bin/env bash
# tests/tools/orvik_rescomp_test.sh: orvik-rescomp from the command line: a script of
# the wrong size stops it and leaves no output; a good run writes the marker entry
# and one entry laid out as the 32-bit resource format gives it.
set -uo pipefail
source "$(dirname "$0")/expect.sh"
rescomp=$1

printf 'HKCR\r\n' > "$dir/a.rgs"
"$rescomp" --help >/dev/null; expect "help exits 0" $? 0
"$rescomp" --registry "101=$dir/a.rgs:6" 2>/dev/null; expect "no output is a usage error" $? 2
err=$("$rescomp" --out "$dir/out.res" --registry "101=$dir/a.rgs:7" 2>&1); rc=$?
expect "a script of the wrong size stops the build" $rc 1
expect "the message names both sizes" "$(grep -c 'is 6 bytes, not the 7' <<<"$err")" 1
[ -e "$dir/out.res" ]; expect "no output file is left" $? 1
"$rescomp" --out "$dir/out.res" --registry "101=$dir/a.rgs:7x" 2>/dev/null
expect "a size that is no number" $? 1

"$rescomp" --out "$dir/out.res" --registry "101=$dir/a.rgs:6"; expect "a good run" $? 0
# Marker: 0, 32, FFFF 0000 FFFF 0000, zeros. Entry: data size 6, header size 48,
# "REGISTRY" in 16-bit text, FFFF 0065, version 0, flags 0x0030, language 0x0409,
# version 0, characteristics 0, the data, padded to four bytes.
expected=0000000020000000ffff0000ffff00000000000000000000000000000000000006000000300000005200
expected+=45004700490053005400520059000000ffff6500000000000000300009040000000000000000484b4352
expected+=0d0a0000
actual=$(od -An -tx1 -v "$dir/out.res" | tr -d ' \n')
expect "the bytes" "$actual" "$expected"

finish
