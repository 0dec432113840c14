# Sourced, after scripts/wine-env.sh, by the setup program's tests: checks,
# registry reads and fresh Wine prefixes.

# begin_setup_test OUT: sets $setup (the setup program), $out (made, for the
# pictures and prefixes) and $failures (0); ends the script when there is no
# setup program or no display.
begin_setup_test() {
    setup=$(ls "$root"/build/setup/quillmark-setup-*.exe 2>/dev/null | head -1)
    [ -n "$setup" ] || { echo "no setup program in build/setup (scripts/build.sh makes it)" >&2; exit 1; }
    [ -n "${DISPLAY:-}" ] || { echo "$(basename "$0") needs a display" >&2; exit 1; }
    out=$1
    mkdir -p "$out"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    failures=0
}

# fresh_prefix win64|win32 DIR: a new prefix in DIR with the fonts and window
# settings of the test prefix, so that pages can be photographed in any
# language. Sets WINEARCH, WINEPREFIX, $wine (the loader for that kind of
# Windows), $machine (the PE machine of its programs) and $programs.
fresh_prefix() {
    export WINEARCH=$1 WINEPREFIX=$2
    programs="Program Files"
    if [ "$1" = win64 ]; then
        wine=/usr/lib/wine/wine64 machine=8664
    else
        wine=/usr/lib/wine/wine machine=014c
    fi
    /usr/lib/wine/wineserver -k 2>/dev/null
    /usr/lib/wine/wineserver -w 2>/dev/null
    rm -rf "$WINEPREFIX"
    QM_WINE=$wine wine_prepare_prefix
    /usr/lib/wine/wineserver -w
}

check() {  # check DESCRIPTION COMMAND...: prints the outcome, returns it
    if "${@:2}" >/dev/null 2>&1; then
        echo "  ok    $1"
    else
        echo "  FAIL  $1"
        failures=$((failures + 1))
        return 1
    fi
}
reg_value() {  # reg_value KEY NAME: the value's data as `reg query` prints it
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  /, ""); print }'
}
# reg_text KEY NAME: a string value as UTF-8 (reg query prints it in the
# console's code page).
reg_text() {
    local file
    file=$(mktemp --suffix=.reg)
    "$wine" reg export "$1" "$(winepath_w "$file")" /y >/dev/null 2>&1
    python3 -c 'import sys, re
text = open(sys.argv[1], encoding="utf-16").read()
m = re.search(r"^\"%s\"=\"(.*)\"$" % re.escape(sys.argv[2]), text, re.M)
print(m.group(1) if m else "")' "$file" "$2"
    rm -f "$file"
}
has_key() { "$wine" reg query "$1" >/dev/null 2>&1; }
no_key() { ! has_key "$1"; }
equals() { [ "$1" = "$2" ]; }
pe_machine() {  # the machine field of a PE file, as 4 hex digits
    python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(4096); o=struct.unpack_from("<I",d,0x3c)[0]; print("%04x" % struct.unpack_from("<H",d,o+4)[0])' "$1"
}
window_up() {
    for _ in $(seq 1 150); do
        xwininfo -name Quillmark >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}
