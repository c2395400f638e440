#!/usr/bin/env bash
# tests/tools/man_pages_test.sh: every tool has a manual page the build made from its
# --help text, which groff reads without a warning and man shows.
set -uo pipefail
source "$(dirname "$0")/expect.sh"
pages=$1 version=$2

for tool in orvik-idlc orvik-rescomp orvik-reg orvik-regsvr orvik-tlbdump orvik-example; do
    page=$pages/$tool.1
    [ -f "$page" ]; expect "$tool has a manual page" $? 0
    expect "$tool's page is read without a warning" "$(groff -man -ww -z "$page" 2>&1)" ""
    shown=$(MANWIDTH=80 man -l "$page" 2>&1)
    expect "man shows $tool's name" "$(grep -c "^NAME" <<<"$shown")" 1
    expect "man shows $tool's synopsis" "$(grep -A1 "^SYNOPSIS" <<<"$shown" | grep -c " $tool")" 1
    expect "the page names the version" "$(grep -c "Orvik $version" <<<"$shown")" 1
done

finish
