# tests/tools/expect.sh: what the command-line tests share, sourced by each. A scratch
# folder ($dir, removed on exit), and expect NAME ACTUAL EXPECTED, which counts and
# shows mismatches; finish prints the counts and fails when anything did not match.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
passed=0 failed=0

expect() {
    if [ "$2" == "$3" ]; then passed=$((passed + 1)); else
        failed=$((failed + 1)); printf 'FAILED %s\n  got:      %q\n  expected: %q\n' "$1" "$2" "$3"; fi
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
