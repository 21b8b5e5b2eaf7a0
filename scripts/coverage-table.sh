#!/usr/bin/env bash
# Prints line and branch coverage for each product folder from the counters that a test run of
# the coverage build left behind. Usage: scripts/coverage-table.sh BUILD_DIR
set -euo pipefail
build=$1
report="$build/coverage.json"

# One pass over the counters of the project's own objects (not CMake's compiler probes); each
# folder's figures are then cut from that report.
gcovr --root . --filter 'src/' --exclude-throw-branches --exclude-unreachable-branches \
    --json "$report" "$build/src" "$build/tests" "$build/tools"

printf '\n%-12s %-30s %-30s\n' Folder Lines Branches
# The per-folder text report goes to a file of the build's: gcovr replaces its output file, so
# naming /dev/null there would replace the device itself when run as root.
for folder in src/core src/feature src/app src/cli; do
    gcovr --add-tracefile "$report" --root . --filter "$folder/" --print-summary \
        --output "$build/coverage-folder.txt" |
        awk -v folder="$folder" '
            /^lines:/    { lines = $2 " " substr($0, index($0, "(")) }
            /^branches:/ { branches = $2 " " substr($0, index($0, "(")) }
            END          { printf "%-12s %-30s %-30s\n", folder, lines, branches }'
done
