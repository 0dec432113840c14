#!/usr/bin/env bash
# Builds everything and runs every test of both targets under Wine, on a
# virtual display, with one persistent wineserver. Extra arguments go to
# ctest (for example: scripts/test.sh -R Settings). With --long first, the
# robustness suite then runs again with ten times the mutations
# (QM_MUTATIONS, default 20000) in both trees. Each tree's run leaves
# Testing/run-junit.xml and Testing/run-console.log in its build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The failed tests of a ctest run that Wine, not the test, failed: a process
# that died before the test's own code ran (failed, not timed out, with no
# output at all), and a process that reported its test passed and then did
# not end (timed out after GoogleTest's "[  PASSED  ]" line, with no failure
# in its output). Reads the run's JUnit file and its console log; prints one
# line per test: the name, a tab, and why.
wine_failures() {
    python3 - "$1" "$2" <<'EOF'
import re, sys
import xml.etree.ElementTree as tree

junit, console = sys.argv[1], sys.argv[2]
# ctest's closing list: "  12 - Suite.Name (Failed)", "(Timeout)", "(SEGFAULT)"...
status = {}
listing = False
with open(console, encoding="utf-8", errors="replace") as log:
    for line in log:
        if line.startswith("The following tests FAILED:"):
            listing = True
            continue
        match = re.match(r"^\s*\d+ - (.+) \(([^()]*)\)\s*$", line) if listing else None
        if match:
            status[match.group(1)] = match.group(2)
for case in tree.parse(junit).getroot().iter("testcase"):
    name = case.get("name")
    if case.get("status") != "fail" or status.get(name) in (None, "Not Run"):
        continue
    output = case.findtext("system-out") or ""
    if status[name] == "Timeout":
        if "[  PASSED  ]" in output and "[  FAILED  ]" not in output:
            print(name + "\tit passed, then its process did not end")
    elif not output.strip():
        print(name + "\tits process ended without any output")
EOF
}

# Runs ctest in one build tree. A test that Wine failed (now and then, when
# two Wine processes start at once, or a process hangs on its way out) is run
# once more on its own, and the re-run is printed; a test that fails
# otherwise, or fails again, fails the tree.
run_tree() {
    local dir=$1
    shift
    local junit=$dir/Testing/run-junit.xml console=$dir/Testing/run-console.log
    mkdir -p "$dir/Testing"
    rm -f "$junit" "$console"
    local rc=0
    (cd "$dir" && ctest --output-on-failure --timeout 180 -j 2 --output-junit "$junit" "$@") \
        2>&1 | tee "$console" || rc=$?
    [ "$rc" -eq 0 ] && return 0
    [ -s "$junit" ] || return 1

    local died name why pattern status=0
    died=$(wine_failures "$junit" "$console")
    [ -n "$died" ] || return 1
    while IFS=$'\t' read -r name why; do
        echo "[test] re-running $name: $why" >&2
        # The name as a literal pattern: every character but letters, digits
        # and underscores escaped.
        pattern=$(printf '%s' "$name" | sed 's/[^A-Za-z0-9_]/\\&/g')
        (cd "$dir" && ctest --output-on-failure --timeout 180 -R "^${pattern}\$") || status=1
    done <<<"$died"
    # Other failures and timeouts are not run again.
    local failed
    failed=$(python3 -c 'import sys, xml.etree.ElementTree as t
print(sum(c.get("status") == "fail" for c in t.parse(sys.argv[1]).getroot().iter("testcase")))' \
        "$junit")
    if [ "$failed" -ne "$(printf '%s\n' "$died" | wc -l)" ]; then
        echo "[test] other tests failed: see the summary above the re-runs" >&2
        status=1
    fi
    return $status
}

# Sourced (to reuse run_tree): nothing more.
if [ "${BASH_SOURCE[0]}" != "$0" ]; then return 0; fi

long=0
if [ "${1:-}" = "--long" ]; then long=1; shift; fi

"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
wine_prepare_prefix
QM_FORCE_XVFB=1 wine_start
status=0
for tree in x64 x86; do
    echo "[test] $tree" >&2
    if run_tree "$root/build/$tree" "$@"; then
        echo "[test] $tree: passed" >&2
    else
        echo "[test] $tree: FAILED" >&2
        status=1
    fi
done
if [ $long -eq 1 ]; then
    for tree in x64 x86; do
        echo "[test] $tree: the robustness suite, ${QM_MUTATIONS:-20000} mutations per format" >&2
        if (cd "$root/build/$tree" && QM_MUTATIONS=${QM_MUTATIONS:-20000} timeout 3600 \
                ./wine-run ./test_robustness.exe); then
            echo "[test] $tree: robustness passed" >&2
        else
            echo "[test] $tree: robustness FAILED" >&2
            status=1
        fi
    done
fi
# The setup program, and the main job through it, in fresh prefixes of their
# own (not when ctest was given a selection of tests).
if [ $# -eq 0 ]; then
    for script in setup_test main_job_test; do
        echo "[test] $script" >&2
        if "$root/tests/setup/$script.sh"; then
            echo "[test] $script: passed" >&2
        else
            echo "[test] $script: FAILED" >&2
            status=1
        fi
    done
fi
exit $status
