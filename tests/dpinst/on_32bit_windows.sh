#!/bin/bash
# DPInst32.exe refuses to work on 64-bit Windows, which the test prefix is: its
# runs on packages are tested by the 32-bit tree's test program in a 32-bit
# prefix of its own (made once, then kept), under a server of its own.
#   tests/dpinst/on_32bit_windows.sh BUILD_TREE GTEST_FILTER
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
export WINEARCH=win32 WINEPREFIX=$QM_BUILD/wineprefix-win32 QM_WINE=/usr/lib/wine/wine
wine_prepare_prefix || exit 1
"$QM_WINESERVER" -k 2>/dev/null; "$QM_WINESERVER" -w; "$QM_WINESERVER" -p || exit 1
# Wine's services start detached from the output that ctest waits on.
"$QM_WINE" cmd /c exit </dev/null >/dev/null 2>&1
(cd "$1" && "$QM_WINE" ./test_dpinst.exe --gtest_filter="$2")
status=$?
"$QM_WINESERVER" -k
exit $status
