#!/usr/bin/env bash
# Builds everything and runs every test of both targets under Wine, on a
# virtual display, with one persistent wineserver. Extra arguments go to
# ctest (for example: scripts/test.sh -R Settings).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
wine_prepare_prefix
QM_FORCE_XVFB=1 wine_start
status=0
for tree in x64 x86; do
    echo "[test] $tree" >&2
    # Now and then a Wine process started while another starts dies before
    # the test's own code runs (no output, exit within milliseconds); such a
    # test is run once more. A test that fails twice fails the run.
    (cd "$root/build/$tree" &&
        ctest --output-on-failure --timeout 180 -j 2 --repeat until-pass:2 "$@") || status=1
done
exit $status
