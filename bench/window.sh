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
    mirror3=${QUILLMARK_MIRRORS##*;}
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

# --- Responsiveness and memory under load --------------------------------------------
# A 5,000-device PC whose scan answer names four updates; the service answers
# every scan with it, and its packages (empty files of 2 MB) come slowly, so
# that the four downloads last through a second scan and a backup.
big=$out/big
mkdir -p "$big/packages"
service_args+=(--packages "$big/packages" --answer-file "$big/answer.xml")
start_service
python3 "$QM_ROOT/bench/make_profile.py" --devices 5000 --profile "$big/big5000.xml" \
    --answer "$big/answer.xml" --updates 4 --store-packages 20 --package-size 2000000 \
    --download-base "${mirror3}packages/"
python3 - "$big/answer.xml" "$big/packages" <<'PY'
import os, re, sys
names = set(re.findall(rb'/packages/([^"<&/]+)', open(sys.argv[1], "rb").read()))
for name in names:
    with open(os.path.join(sys.argv[2], name.decode()), "wb") as f:
        f.truncate(2000000)
PY
python3 "$QM_ROOT/profiles/make_driver_store.py" "$big/driver-store" "$big/big5000.xml"
QUILLMARK_MACHINE_PROFILE=$(winepath_w "$big/big5000.xml")
QUILLMARK_DRIVER_STORE=$(winepath_w "$big/driver-store")
# The packages come from the third mirror, slowly (slow_body pauses after
# every KiB: 2 MB last about a minute at 30 ms); scans ask the first.
service faults '{"3": {"slow_body": 0.03}}'

"$QM_WINE64" "$program" &
quillmark_pid=$!
window_id() { xwininfo -name Quillmark 2>/dev/null | awk '/Window id:/ {print $4}'; }
for _ in $(seq 1 150); do
    [ -n "$(window_id)" ] && break
    sleep 0.2
done
[ -n "$(window_id)" ] || { echo "Quillmark did not open its window" >&2; exit 1; }
# A hand's click: two moves that arrive apart, then the button.
click_at() {
    xdotool mousemove "$1" $(($2 - 2)) sleep 0.1 mousemove "$1" "$2" sleep 0.2 click 1 sleep 0.3
}
click() { click_at $((left + $1)) $((top + $2)); }
click_where() { local xy; xy=$(probe where "$@" | tr -d '\r'); click_at ${xy% *} ${xy#* }; }
# The prober reads the phase before each probe: the name is replaced whole.
phase() {
    echo "$1" >"$out/phase.new"
    mv -f "$out/phase.new" "$out/phase"
    echo "[window] $(date +%T) $1"
}
# The window as it looks at each step, for reading the log afterwards.
shot() { import -window root -crop "800x600+$left+$top" +repage "$out/$1.png" 2>/dev/null || true; }

# Memory from outside: the Wine process's resident set, its peak reset to the
# present size before the scan (clear_refs 5).
vm() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$quillmark_pid/status"; }
sleep 2
# Where the window settled (it is centred after its creation).
read -r left top < <(probe where window | tr -d '\r')
shot home
phase idle
probe respond --stop-file "$(winepath_w "$out/stop")" --phase-file "$(winepath_w "$out/phase")" \
    --log "$(winepath_w "$out/replies.txt")" &
prober=$!
sleep 2
idle_kib=$(vm VmRSS)
echo 5 >"/proc/$quillmark_pid/clear_refs"

phase scan
click 275 333                    # the home page's start button
probe wait-scan --after 0 --timeout-s 120
peak_kib=$(vm VmHWM)
shot results
after_kib=$(vm VmRSS)
echo "[window] memory: idle $idle_kib KiB, peak during the scan $peak_kib KiB, after it $after_kib KiB"

phase downloads
for row in 0 1 2 3; do click_where row-check "$row"; done
click_where download-all
click_where box-button           # Yes
sleep 2
shot downloading
# The workers ask for a priority below the window's thread; whether Wine
# passes it on shows in their nice values.
echo "[window] threads (count nice): $(ps -L -o ni= -p "$quillmark_pid" | sort -n | uniq -c | tr -s ' \n' ' ')"

phase scan+downloads
click 55 60                      # Home tab
click 275 333
probe wait-scan --after 1 --timeout-s 120
shot rescanned

phase backup+downloads
click 219 60                     # Backup tab
sleep 1
click 31 131                     # the available drivers' root checks every package
click 554 474                    # Back up
shot backup
click_where box-button --timeout-s 60   # "backup completed": OK
sleep 1
ls -l "$out/download" >&2 || true

touch "$out/stop"
wait "$prober"
# Quit as a person does: the caption's close button, and Yes to the question
# about the downloads still running.
click 778 14
click_where box-button --timeout-s 10 || true
for _ in $(seq 1 100); do kill -0 "$quillmark_pid" 2>/dev/null || break; sleep 0.1; done
python3 - "$idle_kib" "$peak_kib" "$after_kib" <<'PY'
import json, sys
idle, peak, after = (int(v) / 1024 for v in sys.argv[1:4])
row = {"name": "memory-scan-5000", "what": "working set's peak during a 5,000-device scan above the idle program's",
       "ours": peak - idle, "baseline": 0, "unit": "MiB", "compare": "absolute", "target": 64,
       "detail": {"idle_mib": idle, "peak_mib": peak, "after_scan_mib": after}}
print("BENCH " + json.dumps(row))
PY
