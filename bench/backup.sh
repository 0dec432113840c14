#!/usr/bin/env bash
# Backup and restore of one large driver package (256 MiB: thousands of small
# files and a few large ones, made once by make_store.py) by the product
# against bare minizip loops, interleaved in one run; then, for information,
# the same for a package of 2,000 small files, where the cost of each file
# decides. About three minutes.
set -euo pipefail
source "$QM_ROOT/scripts/wine-env.sh"

out=$QM_BENCH_OUT/backup
package=$out/FileRepository/qmgfx.inf_amd64_5f3c1a2b
small=$out/FileRepository/qmsmall.inf_amd64_0c4e7d19
work=$out/work
mkdir -p "$out"
python3 "$QM_ROOT/bench/make_store.py" "$package"
python3 "$QM_ROOT/bench/make_store.py" "$small" --small-files 2000
echo "[${SECONDS}s] packages ready"

rm -rf "$work"
mkdir -p "$work/large" "$work/small"
trap 'rm -rf "$work"' EXIT

bench=$QM_BENCH_BIN/backup_bench.exe
run() {
    echo "[${SECONDS}s] $1"
    "$QM_WINE64" "$bench" "$1" "$(winepath_w "$2")" "$(winepath_w "$3")" "$4" "$5"
}
# At most RUNS pairs each; fewer (at least three) once the seconds given have
# passed, which keeps the group within its budget on a busy machine.
run backup "$package" "$work/large" 5 50
run restore "$package" "$work/large" 5 25
run backup-small "$small" "$work/small" 5 5
run restore-small "$small" "$work/small" 5 10
echo "[${SECONDS}s] removing the work folder"
rm -rf "$work"
echo "[${SECONDS}s] done"
