#!/usr/bin/env bash
# tests/tools/orvik_tlbdump_test.sh: orvik-tlbdump from the command line, and the
# round trip through orvik-idlc.
set -uo pipefail
source "$(dirname "$0")/expect.sh"
dump=$1
idlc=$2
library=$3
module=$4

"$dump" --help >/dev/null; expect "help exits 0" $? 0
"$dump" 2>/dev/null; expect "no file is a usage error" $? 2
err=$("$dump" "$dir/missing.tlb" 2>&1); expect "missing file exits 1" $? 1
expect "missing file message" "$err" \
    "orvik-tlbdump: cannot read $dir/missing.tlb: No such file or directory"
head -c 300 "$library" > "$dir/short.tlb"
"$dump" "$dir/short.tlb" 2>/dev/null; expect "truncated file exits 1" $? 1

"$dump" "$library" > "$dir/first.idl"; expect "dump exits 0" $? 0
"$idlc" --tlb "$dir/again.tlb" "$dir/first.idl"; expect "the dump compiles" $? 0
"$dump" "$dir/again.tlb" > "$dir/second.idl"
cmp -s "$dir/first.idl" "$dir/second.idl"; expect "round trip reads back the same" $? 0
expect "dump names the library" "$(grep -c '^library ORVIKLib$' "$dir/first.idl")" 1

"$dump" "$module" > "$dir/module.idl"; expect "a module file dumps" $? 0
cmp -s "$dir/first.idl" "$dir/module.idl"; expect "the module carries the same library" $? 0

finish
