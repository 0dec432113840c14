# Sourced by run.sh and the main-job test: the reference update service of
# update-service/ on loopback, for as long as the calling script runs.

# start_reference_service CATALOGUE DATA [ARGUMENT...]: starts the service
# with the catalogue and the packages and pages in DATA (further arguments
# go to it), waits until it listens, and sets QUILLMARK_MIRRORS (exported) to
# its three mirrors, reference_control to its control port and reference_pid.
start_reference_service() {
    local catalogue=$1 data=$2 ports
    shift 2
    ports=$(mktemp -u --suffix=.json)
    /usr/bin/python3 -B "$(dirname "${BASH_SOURCE[0]}")/../update-service/service.py" \
        --catalogue "$catalogue" --packages "$data/packages" --pages "$data/pages" \
        --port-file "$ports" --parent-pid $$ "$@" >/dev/null 2>&1 &
    reference_pid=$!
    for _ in $(seq 1 100); do [ -s "$ports" ] && break; sleep 0.1; done
    [ -s "$ports" ] || { echo "the reference update service did not start" >&2; return 1; }
    QUILLMARK_MIRRORS=$(python3 -c 'import json,sys; m=json.load(open(sys.argv[1]))["mirrors"]; print(";".join("http://127.0.0.1:%d/" % p for p in m))' "$ports")
    export QUILLMARK_MIRRORS
    reference_control=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["control"])' "$ports")
    rm -f "$ports"
}

# reference_service faults|reset JSON: a request to the control server.
reference_service() {
    python3 -c 'import sys, urllib.request as u; u.urlopen(u.Request(sys.argv[1], sys.argv[2].encode(), method="POST"), timeout=5)' \
        "http://127.0.0.1:$reference_control/_control/$1" "$2"
}
