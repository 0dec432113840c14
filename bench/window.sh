# Start-up, responsiveness and memory of Quillmark's window (run by
# scripts/bench.sh with QM_ROOT, QM_BENCH_BIN and QM_BENCH_OUT set; the
# virtual display and the wineserver are already up).
#
#   startup         quillmark.exe to its first painted frame against a minimal
#                   Win32 window, both started by bench/probe.exe
#   responsiveness  the prober's sent message answered while a 5,000-device
#                   scan, four downloads and a backup run, driven with the pointer
#   memory          the working set's peak during the 5,000-device scan above
#                   the idle program's
set -euo pipefail
source "$QM_ROOT/scripts/wine-env.sh"

out=$QM_BENCH_OUT/window
rm -rf "$out"
mkdir -p "$out"
probe() { "$QM_WINE64" "$QM_BENCH_BIN/probe.exe" "$@"; }

# The program runs from a copy of its folder, so that its downloads, backups
# and data files stay out of the build tree's program folder.
program_dir=$out/program
mkdir -p "$program_dir"
find "$QM_ROOT/build/x64/program" -maxdepth 1 -type f -exec cp {} "$program_dir/" \;
program=$program_dir/quillmark.exe

quillmark_pid=""
service_pid=""
cleanup() {
    if [ -n "$quillmark_pid" ] && kill -0 "$quillmark_pid" 2>/dev/null; then
        probe close --timeout-ms 5000 >/dev/null 2>&1 || true
        kill "$quillmark_pid" 2>/dev/null || true
    fi
    probe settings --forget >/dev/null 2>&1 || true
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
    return 0
}
trap cleanup EXIT

# --- The reference update service, as run.sh starts it --------------------------
data=$QM_ROOT/build/x64/update-service
ports=$out/ports.json
service_args=(--catalogue "$QM_ROOT/update-service/sample-catalogue.xml"
    --packages "$data/packages" --pages "$data/pages")
start_service() {
    rm -f "$ports"
    /usr/bin/python3 -B "$QM_ROOT/update-service/service.py" "${service_args[@]}" "$@" \
        --port-file "$ports" --parent-pid $$ --idle-timeout 900 >"$out/service.log" 2>&1 &
    service_pid=$!
    for _ in $(seq 1 100); do [ -s "$ports" ] && break; sleep 0.1; done
    [ -s "$ports" ] || { echo "the reference update service did not start" >&2; exit 1; }
    QUILLMARK_MIRRORS=$(python3 -c 'import json,sys; m=json.load(open(sys.argv[1]))["mirrors"]; print(";".join("http://127.0.0.1:%d/" % p for p in m))' "$ports")
    export QUILLMARK_MIRRORS
    control=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["control"])' "$ports")
    mirror1=${QUILLMARK_MIRRORS%%;*}
}
stop_service() {
    [ -n "$service_pid" ] || return 0
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
}
service() {
    python3 -c 'import sys, urllib.request as u; u.urlopen(u.Request(sys.argv[1], sys.argv[2].encode(), method="POST"), timeout=5)' \
        "http://127.0.0.1:$control/_control/$1" "$2"
}

probe settings --download-path "$(winepath_w "$out/download")" \
    --backup-path "$(winepath_w "$out/backup")"
export QUILLMARK_DRIVER_STORE
QUILLMARK_DRIVER_STORE=$(winepath_w "$QM_ROOT/build/x64/driver-store")

# --- Start-up ----------------------------------------------------------------------------
start_service
export QUILLMARK_MACHINE_PROFILE
QUILLMARK_MACHINE_PROFILE=$(winepath_w "$QM_ROOT/profiles/example-pc.xml")
probe startup --ours "$(winepath_w "$program")" \
    --baseline "$(winepath_w "$QM_BENCH_BIN/minimal_window.exe")" --runs "${QM_STARTUP_RUNS:-7}"
stop_service

. "$QM_ROOT/bench/window_load.sh"
