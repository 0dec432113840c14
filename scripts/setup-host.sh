#!/usr/bin/env bash
# Installs what building and testing Quillmark needs on a Debian 12 machine
# (run as root). Safe to run again: it only installs what is missing.
set -euo pipefail

[ "$(id -u)" -eq 0 ] || { echo "setup-host.sh must run as root (it uses apt-get)" >&2; exit 1; }

packages=(
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
    libz-mingw-w64-dev googletest cmake ninja-build dpkg-dev
    wine64 wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick
    fonts-liberation librsvg2-bin
    # Stand-ins for Verdana and Arial, and the fonts with Japanese, Chinese
    # and Arabic letters linked behind them in the Wine prefix
    # (scripts/wine-env.sh); the artwork uses some of them too.
    fonts-ipafont-gothic fonts-wqy-zenhei fonts-dejavu-core fonts-dejavu-extra
    python3 python3-pyftpdlib openssl osslsigncode
    # The setup program
    nsis
)

need_update=0
# 32-bit Windows programs run under WOW64, which needs Debian's i386 wine32.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi
# The libraries without a ready-made mingw-w64 package are built from
# Debian's source packages, so source entries must be enabled.
src_list=/etc/apt/sources.list.d/quillmark-deb-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    cat >"$src_list" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    need_update=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "$need_update" -eq 1 ] || [ "${#missing[@]}" -gt 0 ] || ! apt-cache showsrc curl >/dev/null 2>&1; then
    echo "[setup] apt-get update" >&2
    apt-get update -q >/dev/null
fi
if [ "${#missing[@]}" -gt 0 ]; then
    echo "[setup] installing ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
