#!/usr/bin/env bash
# tests/consumers/subproject_check.sh SOURCE_DIR: configures a project that adds the
# Orvik tree with add_subdirectory; the project's own checks fail the configuration.
set -euo pipefail
source_dir=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$source_dir/tests/consumers/subproject" -B "$work" -G Ninja \
      -DORVIK_SOURCE="$source_dir" >"$work/configure.log" 2>&1 || {
    cat "$work/configure.log" >&2
    exit 1
}
echo "Orvik configured as a subproject"
