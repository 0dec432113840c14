#!/usr/bin/env bash
# Backup and restore of one large driver package (256 MiB: thousands of small
# files and a few large ones, made once by make_store.py) by the product
# against bare minizip loops, interleaved in one run. About three minutes.
set -euo pipefail
source "$QM_ROOT/scripts/wine-env.sh"

out=$QM_BENCH_OUT/backup
package=$out/FileRepository/qmgfx.inf_amd64_5f3c1a2b
work=$out/work
mkdir -p "$out"
python3 "$QM_ROOT/bench/make_store.py" "$package"

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

bench=$QM_BENCH_BIN/backup_bench.exe
# At most five pairs each; fewer (at least three) once the seconds given
# have passed, which keeps the group within its budget on a busy machine.
"$QM_WINE64" "$bench" backup "$(winepath_w "$package")" "$(winepath_w "$work")" 5 75
"$QM_WINE64" "$bench" restore "$(winepath_w "$package")" "$(winepath_w "$work")" 5 30
