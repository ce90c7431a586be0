#!/bin/sh
# Installs what is missing, builds, writes the double-entry demo (two entries of a household
# survey) into build/demo and verifies its two entries: the summary per form and grid, the
# fields that differ most, then the conflicts and the records without a partner.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -DOVT_BUILD_BENCH=OFF >/dev/null
cmake --build build -j2
./build/ovtbldiff demo build/demo --force
echo
echo '$ ovtbldiff verify build/demo/entry1.db build/demo/entry2.db --survey build/demo/survey.toml'
# Exit code 1 means differences were found, which is what the demo shows.
./build/ovtbldiff verify build/demo/entry1.db build/demo/entry2.db --survey build/demo/survey.toml || [ $? -eq 1 ]
