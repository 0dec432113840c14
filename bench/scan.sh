#!/usr/bin/env bash
# The scan benchmark: machine profiles of 1,000 and 5,000 devices with the
# reference service's answers to them (bench/make_profile.py), one reference
# service per size answering every scan with its prepared answer, and
# bench_scan.exe timing the program's scan against bare zlib + libcurl +
# TinyXML doing the same bytes. Run by scripts/bench.sh (QM_ROOT,
# QM_BENCH_BIN and QM_BENCH_OUT set, Wine's server running).
set -euo pipefail
source "$QM_ROOT/scripts/wine-env.sh"
out=$QM_BENCH_OUT/scan
mkdir -p "$out"
python=/usr/bin/python3
sizes=(1000 5000)
runs=${QM_SCAN_RUNS:-7}

services=()
stop_services() {
    local pid
    for pid in "${services[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${services[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_services EXIT

cases=()
for n in "${sizes[@]}"; do
    profile=$out/profile-$n.xml answer=$out/answer-$n.xml ports=$out/ports-$n.json
    "$python" -B "$QM_ROOT/bench/make_profile.py" --devices "$n" --profile "$profile" \
        --answer "$answer" | tee "$out/make-$n.txt"
    kept=$(sed -n 's/.* device instances, \([0-9]*\) kept by a scan.*/\1/p' "$out/make-$n.txt")
    updates=$(sed -n 's/.* \([0-9]*\) devices with an update$/\1/p' "$out/make-$n.txt")
    rm -f "$ports"
    "$python" -B "$QM_ROOT/update-service/service.py" \
        --catalogue "$QM_ROOT/update-service/sample-catalogue.xml" --packages "$out" \
        --port-file "$ports" --answer-file "$answer" --parent-pid $$ \
        --idle-timeout 120 --time-limit 600 &
    services+=($!)
    for _ in $(seq 100); do [ -s "$ports" ] && break; sleep 0.1; done
    [ -s "$ports" ] || { echo "the reference service for $n devices did not start" >&2; exit 1; }
    port=$("$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["mirrors"][0])' "$ports")
    cases+=(--case "$n" "$(winepath_w "$profile")" "http://127.0.0.1:$port/" "$kept" "$updates")
done

(cd "$out" && "$QM_WINE64" "$QM_BENCH_BIN/bench_scan.exe" --runs "$runs" "${cases[@]}")
