#!/usr/bin/env bash
# Runs Quillmark's benchmarks (64-bit build) under Wine in the test prefix and
# prints one table: each figure of ours beside a baseline that does the same
# work with the bare library in the same run, their ratio and the target.
# The table is also written as JSON to build/bench/results.json.
#
#   scripts/bench.sh              every group of benchmarks
#   scripts/bench.sh scan backup  only the groups named (bench/NAME.sh)
#
# Each group is a script bench/NAME.sh; it prints "BENCH {json}" lines (see
# bench/bench_common.h) among its other output, which goes to
# build/bench/NAME.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" x64 >/dev/null
cmake --build "$root/build/x64" --target benchmarks >/dev/null
source "$root/scripts/wine-env.sh"
wine_prepare_prefix
wine_start

out=$root/build/bench
mkdir -p "$out"
rows=$out/rows.txt
: >"$rows"
groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then
    for script in "$root"/bench/*.sh; do groups+=("$(basename "$script" .sh)"); done
fi
export QM_ROOT=$root QM_BENCH_BIN=$root/build/x64/bench QM_BENCH_OUT=$out
status=0
for group in "${groups[@]}"; do
    script=$root/bench/$group.sh
    [ -f "$script" ] || { echo "no benchmark group '$group'" >&2; status=1; continue; }
    echo "[bench] $group" >&2
    started=$SECONDS
    rc=0
    bash "$script" >"$out/$group.log" 2>&1 || rc=$?
    grep '^BENCH ' "$out/$group.log" >>"$rows" || true
    echo "[bench] $group: $((SECONDS - started)) s$([ $rc -eq 0 ] || echo ", failed with exit code $rc (see $out/$group.log)")" >&2
    [ $rc -eq 0 ] || status=1
done
python3 "$root/bench/report.py" "$rows" "$out/results.json" || status=1
exit $status
