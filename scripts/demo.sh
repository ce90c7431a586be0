#!/bin/sh
# Installs what is missing, builds, writes the double-entry demo (two entries of a household
# survey) into build/demo and lists the conflicting records of its two entries.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -DOVT_BUILD_BENCH=OFF >/dev/null
cmake --build build -j2
./build/ovtbldiff demo build/demo --force
echo
echo '$ ovtbldiff diff build/demo/entry1.db House ORULINK_House --keys HouseNo --link build/demo/entry2.db'
# Exit code 1 means differences were found, which is what the demo shows.
./build/ovtbldiff diff build/demo/entry1.db House ORULINK_House --keys HouseNo --link build/demo/entry2.db || [ $? -eq 1 ]
