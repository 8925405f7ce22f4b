#!/bin/sh
# bench/soak.sh: the station's soak run for as long as asked (60 minutes
# unless told otherwise, 70 at most, before the faked clock reaches the daily
# restart): thirty tools verified every faked minute, one killed from outside
# every two seconds. Prints a line a minute with Tolvane's
# descriptors, threads, zombie children, resident memory and CPU, and at the
# end the counts of missed and doubled restarts. Not part of the test command;
# ctest runs the same test for three minutes (e2e_soak).
#
#   bench/soak.sh [minutes] [build folder]
set -eu
minutes=${1:-60}
build=${2:-${BUILD_DIR:-build}}
binary="$build/tests/e2e/e2e_soak"
if [ ! -x "$binary" ]; then
    echo "soak.sh: $binary not found; build the e2e_soak target first" >&2
    exit 2
fi
TOLVANE_SOAK_MINUTES=$minutes exec "$binary" --gtest_filter='Soak.*'
